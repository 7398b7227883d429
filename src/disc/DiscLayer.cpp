#include "disc/DiscLayer.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "disc/LibraryDiscMaster.h"

namespace corvane {

namespace {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* user = ::getpwuid(::getuid());
        home = user ? user->pw_dir : nullptr;
    }
    std::string folder = home && *home ? home : ".";
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

}  // namespace

std::string DefaultImageFolder() { return HomeFolder() + "/Corvane Discs"; }

std::string CacheFolder() {
    // XDG_CACHE_HOME counts only as an absolute path; a relative one is ignored, as desktops do.
    const char* cache = std::getenv("XDG_CACHE_HOME");
    std::string folder = cache && cache[0] == '/' ? cache : HomeFolder() + "/.cache";
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder + "/corvane";
}

std::vector<ImageRecorderPath> DefaultImageRecorders(const std::string& folder) {
    return {{"CD", kCdCapacity, folder},
            {"DVD", kDvdCapacity, folder},
            {"DVD-DL", kDvdDlCapacity, folder},
            {"BD", kBdCapacity, folder}};
}

std::unique_ptr<IDiscMaster> CreateDiscMaster(const DiscLayerOptions& options) {
    return std::make_unique<LibraryDiscMaster>(options);
}

}  // namespace corvane
