#include "disc/RecorderPath.h"

namespace corvane {

namespace {
constexpr std::string_view kPrefix = "image:";
}

std::string MakeImageRecorderPath(const ImageRecorderPath& recorder) {
    return std::string(kPrefix) + recorder.medium + ":" + std::to_string(recorder.capacity) + ":" + recorder.folder;
}

bool ParseImageRecorderPath(std::string_view path, ImageRecorderPath& recorder) {
    if (path.substr(0, kPrefix.size()) != kPrefix) return false;
    path.remove_prefix(kPrefix.size());
    auto mediumEnd = path.find(':');
    if (mediumEnd == std::string_view::npos || mediumEnd == 0) return false;
    auto capacityEnd = path.find(':', mediumEnd + 1);
    if (capacityEnd == std::string_view::npos || capacityEnd == mediumEnd + 1) return false;
    std::uint64_t capacity = 0;
    for (char c : path.substr(mediumEnd + 1, capacityEnd - mediumEnd - 1)) {
        if (c < '0' || c > '9' || capacity > (UINT64_MAX - 9) / 10) return false;
        capacity = capacity * 10 + static_cast<std::uint64_t>(c - '0');
    }
    std::string_view folder = path.substr(capacityEnd + 1);
    if (folder.empty() || capacity == 0) return false;
    recorder.medium = std::string(path.substr(0, mediumEnd));
    recorder.capacity = capacity;
    recorder.folder = std::string(folder);
    return true;
}

}  // namespace corvane
