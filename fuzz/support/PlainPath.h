#pragma once
// Whether a path names something below the folder it is put under.

#include <algorithm>
#include <string_view>

namespace corvane::fuzz {

// True for "" and for '/'-separated steps that each name a child: none empty, "." or "..",
// none with a control character (a NUL would cut the path short in the system call).
inline bool IsPlainRelativePath(std::string_view relative) {
    if (relative.empty()) return true;
    std::size_t at = 0;
    for (;;) {
        const std::size_t end = std::min(relative.find('/', at), relative.size());
        const std::string_view step = relative.substr(at, end - at);
        if (step.empty() || step == "." || step == "..") return false;
        if (std::any_of(step.begin(), step.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
            }))
            return false;
        if (end == relative.size()) return true;
        at = end + 1;
    }
}

}  // namespace corvane::fuzz
