#pragma once
// A fresh folder for one test, removed afterwards, with helpers to fill it.

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::test {

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    // Path of a name inside the folder.
    std::string operator/(std::string_view relative) const;

    // Writes a file (creating its folders) and returns its full path.
    std::string WriteFile(std::string_view relative, std::string_view content) const;
    std::string MakeFolder(std::string_view relative) const;

private:
    std::string path_;
};

std::string ReadWholeFile(const std::string& path);
// Deterministic bytes that compress a little, like real files.
std::string SampleBytes(std::size_t size, std::uint32_t seed);

}  // namespace corvane::test
