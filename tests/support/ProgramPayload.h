#pragma once
// The programs every disc made by the built program carries: corvane.exe and the portable
// restorer beside it. Tests that size discs by them leave room for both.

#include <cstdint>
#include <filesystem>

namespace corvane::test {

inline std::uintmax_t ProgramPayloadSize() {
    const std::filesystem::path program = CORVANE_BINARY_PATH;
    return std::filesystem::file_size(program) +
           std::filesystem::file_size(std::filesystem::path(program).replace_filename("corvane-restore"));
}

}  // namespace corvane::test
