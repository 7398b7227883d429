#include "support/ScratchFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace corvane::test {

ScratchFolder::ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvane-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buffer.data();
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchFolder::operator/(std::string_view relative) const {
    return path_ + "/" + std::string(relative);
}

std::string ScratchFolder::WriteFile(std::string_view relative, std::string_view content) const {
    std::filesystem::path full = *this / relative;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + full.string());
    return full.string();
}

std::string ScratchFolder::MakeFolder(std::string_view relative) const {
    std::string full = *this / relative;
    std::filesystem::create_directories(full);
    return full;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

std::string SampleBytes(std::size_t size, std::uint32_t seed) {
    static const char* kWords[] = {"backup ", "disc ", "stream ", "chunk ", "folder ", "file "};
    std::string out;
    out.reserve(size);
    std::uint32_t x = seed * 2654435761u + 1;
    while (out.size() < size) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        if (x % 4 == 0) {
            out += kWords[x % 6];
        } else {
            out += static_cast<char>(x >> 24);
        }
    }
    out.resize(size);
    return out;
}

}  // namespace corvane::test
