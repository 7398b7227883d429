#include "disc/Leftovers.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string_view>
#include <vector>

namespace corvane {

namespace {

constexpr std::string_view kPrefix = ".corvane-";

// The process that made a ".corvane-<pid>-..." entry; 0 for any other name.
pid_t OwnerOf(const std::string& name) {
    if (!name.starts_with(kPrefix)) return 0;
    const std::size_t dash = name.find('-', kPrefix.size());
    if (dash == std::string::npos) return 0;
    const std::string digits = name.substr(kPrefix.size(), dash - kPrefix.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
    return static_cast<pid_t>(std::stol(digits));
}

bool Gone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

}  // namespace

void RemoveLeftovers(const std::string& folder) {
    std::vector<std::filesystem::path> stale;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const pid_t owner = OwnerOf(it->path().filename().string());
        if (owner > 0 && owner != ::getpid() && Gone(owner)) stale.push_back(it->path());
    }
    for (const auto& path : stale) std::filesystem::remove_all(path, error);
}

}  // namespace corvane
