#pragma once
// Device paths of image-file recorders. An optical recorder's path is its device ("/dev/sr0");
// an image-file recorder's path names its medium, its capacity in bytes and its folder:
// "image:<medium>:<capacity>:<folder>", for example "image:DVD:4700372992:/home/u/Corvane Discs".

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

struct ImageRecorderPath {
    std::string medium;  // "CD", "DVD", "DVD-DL", "BD", or a size such as "1 MiB" for others
    std::uint64_t capacity = 0;
    std::string folder;
};

std::string MakeImageRecorderPath(const ImageRecorderPath& recorder);
// False when the path is not an image-file recorder's.
bool ParseImageRecorderPath(std::string_view path, ImageRecorderPath& recorder);

}  // namespace corvane
