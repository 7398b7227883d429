#pragma once
// What happens in one folder, as it happens (inotify), so that a test can act at a chosen
// moment of a running program: when a file is made, written to or given its final name.

#include <cstdint>
#include <functional>
#include <string>

namespace corvane::test {

class FolderWatch {
public:
    // Watch before starting the program, so that nothing is missed.
    explicit FolderWatch(const std::string& folder);
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Waits for one of events (IN_CREATE, IN_MODIFY, IN_MOVED_TO, ...) on a name in the
    // folder for which match holds, and returns the name; empty when none came for minutes.
    std::string WaitFor(std::uint32_t events, const std::function<bool(const std::string&)>& match);

private:
    int fd_ = -1;
};

}  // namespace corvane::test
