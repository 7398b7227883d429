#include "support/FolderWatch.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane::test {

namespace {

constexpr int kQuietLimitMs = 300000;  // sanitizer builds are slow

}  // namespace

FolderWatch::FolderWatch(const std::string& folder) : fd_(::inotify_init1(IN_CLOEXEC)) {
    if (fd_ < 0 || ::inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MODIFY | IN_MOVED_TO | IN_CLOSE_WRITE) < 0)
        ADD_FAILURE() << "cannot watch " << folder << ": " << std::strerror(errno);
}

FolderWatch::~FolderWatch() {
    if (fd_ >= 0) ::close(fd_);
}

std::string FolderWatch::WaitFor(std::uint32_t events, const std::function<bool(const std::string&)>& match) {
    alignas(inotify_event) char buffer[64 * 1024];
    pollfd wait{fd_, POLLIN, 0};
    while (::poll(&wait, 1, kQuietLimitMs) > 0) {
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got <= 0) break;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->len == 0 || (event->mask & events) == 0) continue;
            const std::string name = event->name;
            if (match(name)) return name;
        }
    }
    return {};
}

}  // namespace corvane::test
