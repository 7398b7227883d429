// codec-limit DIR: loads every file below DIR into memory, then compresses it in 4 KiB
// pieces with EncodeChunk on one core, as a backup does. A backup cannot beat the codec on
// all cores, so the limit it prints is the one-core rate times the number of cores.
//   last line: one_core_mbps=X cores=N limit_mbps=Y   (MB = 10^6 bytes of input)

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "archive/BlockCodec.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: codec-limit DIR\n", stderr);
        return 2;
    }
    std::vector<std::vector<std::uint8_t>> files;
    std::size_t total = 0;
    for (const auto& entry : fs::recursive_directory_iterator(argv[1])) {
        if (!entry.is_regular_file() || entry.file_size() == 0) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in && !in.eof()) {
            std::fprintf(stderr, "codec-limit: cannot read %s\n", entry.path().c_str());
            return 1;
        }
        total += files.back().size();
    }

    std::vector<std::uint8_t> chunk(corvane::kEncodeCapacity);
    std::size_t stored = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const auto& file : files) {
        for (std::size_t offset = 0; offset < file.size(); offset += corvane::kPieceSize) {
            const int n = static_cast<int>(std::min<std::size_t>(corvane::kPieceSize, file.size() - offset));
            int length = 0;
            if (!corvane::EncodeChunk(file.data() + offset, n, chunk.data(), length).ok()) {
                std::fputs("codec-limit: a piece did not encode\n", stderr);
                return 1;
            }
            stored += static_cast<std::size_t>(length);
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const double oneCore = static_cast<double>(total) / 1e6 / seconds;
    std::printf("%zu files, %zu bytes encoded to %zu in %.2f s on one core\n", files.size(), total, stored, seconds);
    std::printf("one_core_mbps=%.1f cores=%u limit_mbps=%.1f\n", oneCore, cores, oneCore * cores);
    return 0;
}
