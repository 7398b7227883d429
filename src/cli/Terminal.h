#pragma once
// Talking to the user on the terminal: questions answered at a prompt (or by --yes), status
// lines, a live progress line, and Ctrl+C turned into a polite stop.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/Message.h"

namespace corvane {

// Reads one line from in, without its line end; false at the end of input with nothing read.
// (Plain C input: iostreams would add about 600 KB to the static portable restorer.)
bool ReadLine(std::FILE* in, std::string& line);

class Terminal {
public:
    // yes answers every question with Yes or Retry; without it questions are asked on the
    // terminal, or answered No / Cancel when there is no terminal to ask.
    explicit Terminal(bool yes);

    MessageAnswer Ask(const Message& message);
    // A line that stays.
    void Say(const std::string& text);
    // The live line on a terminal: shown at most ten times a second unless forced.
    void Progress(const std::string& text, bool force = false);

    // Takes the live line away, before other output.
    void ClearLiveLine();

    bool interactive() const { return interactive_; }

private:

    bool yes_;
    bool liveLine_;  // standard error is a terminal, so a live line can be redrawn
    bool interactive_;
    bool liveLineShown_ = false;
    std::string lastRetryText_;
    int repeatedRetries_ = 0;
    std::chrono::steady_clock::time_point lastProgress_{};
};

// Until the returned guard goes away, SIGINT, SIGTERM and SIGHUP set *flag to 1 instead of
// ending the process. While *busy is non-zero they set *afterBusy instead and say so: a disc a
// drive is recording is finished first, for stopping it would ruin a write-once disc.
class InterruptGuard {
public:
    explicit InterruptGuard(std::atomic<int>* flag, std::atomic<int>* busy = nullptr,
                            std::atomic<int>* afterBusy = nullptr);
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
    // True when a signal arrived while the guard was in place.
    static bool Interrupted();
};

}  // namespace corvane
