#pragma once
// The real corvane program started as a user starts it, for tests that act on it while it
// runs: it gets a TMPDIR of the test's choosing, its output goes to a file (or to a terminal
// of its own, which the test reads and types into), and the test can send it signals.

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/ScratchFolder.h"

namespace corvane::test {

class RunningProgram {
public:
    struct Options {
        std::string tmpdir;     // TMPDIR of the program; inherited when empty
        bool terminal = false;  // a pseudo-terminal as stdin, stdout and stderr
        std::vector<std::string> environment = {};  // more NAME=VALUE variables
    };

    RunningProgram(const std::vector<std::string>& args, const Options& options);
    // Kills a program that is still running.
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    void Signal(int signal) const;
    // Whether the program has a handler of its own for the signal now.
    bool Catches(int signal) const;
    // Terminal only: reads the terminal until text has appeared since the last match. False
    // when the program ended first or nothing came for a long time.
    bool WaitForOutput(const std::string& text);
    // Terminal only: types text (add "\n" to press Enter).
    void Type(const std::string& text) const;

    // Waits for the end: the exit status, or 128 + the number of the signal that ended it.
    // A program that does not end within minutes is killed and fails the test.
    int Finish();
    // What the program printed (both streams), complete once Finish has returned.
    const std::string& output() const { return output_; }

private:
    void ReadTerminal(int timeoutMs);

    ScratchFolder files_;
    pid_t pid_ = -1;
    int terminal_ = -1;
    std::string output_;
    std::size_t matched_ = 0;  // output before this was consumed by WaitForOutput
    bool finished_ = false;
};

}  // namespace corvane::test
