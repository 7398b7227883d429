#include "support/RunningProgram.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <sstream>
#include <string_view>
#include <thread>

extern char** environ;

namespace corvane::test {

namespace {

constexpr auto kEndWait = std::chrono::minutes(5);  // sanitizer builds are slow
constexpr int kOutputWaitMs = 120000;

// The environment of the parent with the options' variables set.
std::vector<std::string> Environment(const RunningProgram::Options& options) {
    std::vector<std::string> set = options.environment;
    if (!options.tmpdir.empty()) set.push_back("TMPDIR=" + options.tmpdir);
    std::vector<std::string> variables;
    for (char** v = environ; *v; ++v) {
        const std::string_view variable = *v;
        const bool replaced = std::any_of(set.begin(), set.end(), [&](const std::string& s) {
            return variable.substr(0, variable.find('=') + 1) == s.substr(0, s.find('=') + 1);
        });
        if (!replaced) variables.emplace_back(variable);
    }
    variables.insert(variables.end(), set.begin(), set.end());
    return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

RunningProgram::RunningProgram(const std::vector<std::string>& args, const Options& options) {
    std::vector<std::string> argv = {CORVANE_BINARY_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp = Environment(options);
    // Everything the child needs is made before fork: it only redirects and execs.
    std::vector<char*> argPointers = Pointers(argv);
    std::vector<char*> envPointers = Pointers(envp);
    const std::string outputPath = files_ / "output";

    if (options.terminal) {
        pid_ = ::forkpty(&terminal_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            ::execve(argPointers[0], argPointers.data(), envPointers.data());
            ::_exit(127);
        }
        if (terminal_ >= 0) ::fcntl(terminal_, F_SETFL, O_NONBLOCK);
    } else {
        const int output = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(input, STDIN_FILENO);
            ::dup2(output, STDOUT_FILENO);
            ::dup2(output, STDERR_FILENO);
            ::execve(argPointers[0], argPointers.data(), envPointers.data());
            ::_exit(127);
        }
        ::close(output);
        ::close(input);
    }
    if (pid_ < 0) ADD_FAILURE() << "cannot start " << CORVANE_BINARY_PATH << ": " << std::strerror(errno);
}

RunningProgram::~RunningProgram() {
    if (pid_ > 0 && !finished_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (terminal_ >= 0) ::close(terminal_);
}

void RunningProgram::Signal(int signal) const {
    if (pid_ > 0 && !finished_) ::kill(pid_, signal);
}

bool RunningProgram::Catches(int signal) const {
    // "SigCgt:\t0000000000004003": the caught signals as a hexadecimal mask, bit n-1 for signal n.
    std::istringstream status(ReadWholeFile("/proc/" + std::to_string(pid_) + "/status"));
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

void RunningProgram::ReadTerminal(int timeoutMs) {
    pollfd wait{terminal_, POLLIN, 0};
    if (::poll(&wait, 1, timeoutMs) <= 0) return;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(terminal_, buffer, sizeof buffer)) > 0) output_.append(buffer, static_cast<std::size_t>(got));
}

bool RunningProgram::WaitForOutput(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kOutputWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto at = output_.find(text, matched_); at != std::string::npos) {
            matched_ = at + text.size();
            return true;
        }
        siginfo_t ended{};
        if (::waitid(P_PID, static_cast<id_t>(pid_), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == pid_) {
            ReadTerminal(0);
            return output_.find(text, matched_) != std::string::npos;
        }
        ReadTerminal(100);
    }
    return false;
}

void RunningProgram::Type(const std::string& text) const {
    if (::write(terminal_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        ADD_FAILURE() << "cannot type into the program's terminal";
}

int RunningProgram::Finish() {
    if (pid_ <= 0) return -1;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + kEndWait;
    while (!finished_) {
        pid_t ended = ::waitpid(pid_, &status, WNOHANG);
        if (ended == pid_) {
            finished_ = true;
        } else if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "the program did not end; killed";
            ::kill(pid_, SIGKILL);
        } else if (terminal_ >= 0) {
            ReadTerminal(20);  // a full terminal would block the program
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (terminal_ >= 0) {
        ReadTerminal(0);
    } else {
        output_ = ReadWholeFile(files_ / "output");
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

}  // namespace corvane::test
