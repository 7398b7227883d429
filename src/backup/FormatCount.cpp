#include "backup/BackupHost.h"

namespace corvane {

std::string FormatCount(std::uint64_t value) {
    if (value == 0) return "0 MB";  // as the window shows the counters before anything was read
    if (value <= 1048576) return std::to_string(value);
    return std::to_string(value >> 20) + " MB";
}

}  // namespace corvane
