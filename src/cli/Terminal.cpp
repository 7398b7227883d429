#include "cli/Terminal.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace corvane {

namespace {

// Retry answers given in a row to the same warning before --yes gives up: a drive that stays
// unusable for a minute (12 waits of 5 s) will not get better by itself. A request that is not
// a warning ("Please insert another disc") asks for something new each time and is not counted.
constexpr int kMaxAutomaticRetries = 12;

std::atomic<int>* interruptFlag = nullptr;
std::atomic<int>* busyFlag = nullptr;
std::atomic<int>* afterBusyFlag = nullptr;
volatile std::sig_atomic_t interrupted = 0;

void OnSignal(int) {
    interrupted = 1;
    if (busyFlag && busyFlag->load() != 0) {
        afterBusyFlag->store(1);
        static constexpr char kWaiting[] = "\nA disc is being recorded: the backup stops once it is finished.\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kWaiting, sizeof kWaiting - 1);
        return;
    }
    if (interruptFlag) interruptFlag->store(1);
}

const char* ButtonsHint(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::YesNo: return " [y/N] ";
        case MessageButtons::RetryCancel: return " [r]etry or [C]ancel: ";
        case MessageButtons::Ok: break;
    }
    return "";
}

}  // namespace

Terminal::Terminal(bool yes)
    : yes_(yes), liveLine_(::isatty(STDERR_FILENO)), interactive_(::isatty(STDIN_FILENO) && liveLine_) {}

void Terminal::ClearLiveLine() {
    if (!liveLineShown_) return;
    std::fputs("\r\033[K", stderr);
    liveLineShown_ = false;
}

void Terminal::Say(const std::string& text) {
    ClearLiveLine();
    std::fprintf(stdout, "%s\n", text.c_str());
    std::fflush(stdout);
}

void Terminal::Progress(const std::string& text, bool force) {
    if (!liveLine_) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && now - lastProgress_ < std::chrono::milliseconds(100)) return;
    lastProgress_ = now;
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
    liveLineShown_ = true;
}

MessageAnswer Terminal::Ask(const Message& message) {
    ClearLiveLine();
    std::fflush(stdout);
    std::fprintf(stderr, "%s", message.text.c_str());
    if (message.buttons == MessageButtons::Ok) {
        std::fputc('\n', stderr);
        return MessageAnswer::Ok;
    }
    const bool retry = message.buttons == MessageButtons::RetryCancel;
    // --yes never answers a question whose default is No (erasing a disc): only the user does.
    if (yes_ && !message.defaultNo) {
        const bool failure = retry && message.icon != MessageIcon::Information;
        repeatedRetries_ = failure && message.text == lastRetryText_ ? repeatedRetries_ + 1 : 0;
        lastRetryText_ = failure ? message.text : std::string();
        if (retry && repeatedRetries_ >= kMaxAutomaticRetries) {
            std::fputs(" [cancel: no change after repeated retries]\n", stderr);
            return MessageAnswer::Cancel;
        }
        std::fputs(retry ? " [retry]\n" : " [yes]\n", stderr);
        return retry ? MessageAnswer::Retry : MessageAnswer::Yes;
    }
    if (!interactive_) {
        std::fputs(retry ? " [cancel: no terminal to answer; --yes answers for you]\n"
                         : " [no: no terminal to answer; --yes answers for you]\n",
                   stderr);
        return retry ? MessageAnswer::Cancel : MessageAnswer::No;
    }
    std::fputs(ButtonsHint(message.buttons), stderr);
    std::string line;
    // A signal that came before the read would otherwise leave it waiting for Enter.
    if (interrupted || !ReadLine(stdin, line) || interrupted) {
        std::clearerr(stdin);
        return retry ? MessageAnswer::Cancel : MessageAnswer::No;
    }
    const char first = line.empty() ? '\0' : static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
    if (retry) return first == 'r' ? MessageAnswer::Retry : MessageAnswer::Cancel;
    return first == 'y' ? MessageAnswer::Yes : MessageAnswer::No;
}

bool ReadLine(std::FILE* in, std::string& line) {
    line.clear();
    int c = 0;
    while ((c = std::fgetc(in)) != EOF && c != '\n') line += static_cast<char>(c);
    return c == '\n' || !line.empty();
}

InterruptGuard::InterruptGuard(std::atomic<int>* flag, std::atomic<int>* busy, std::atomic<int>* afterBusy) {
    interruptFlag = flag;
    busyFlag = afterBusy ? busy : nullptr;
    afterBusyFlag = afterBusy;
    interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &action, nullptr);
}

InterruptGuard::~InterruptGuard() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, SIG_DFL);
    interruptFlag = nullptr;
    busyFlag = afterBusyFlag = nullptr;
}

bool InterruptGuard::Interrupted() { return interrupted != 0; }

}  // namespace corvane
