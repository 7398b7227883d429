// inflate_seeds DIR: writes the seeds of inflate_fuzzer into DIR: the zlib streams of real
// chunks (EncodeChunk, unscrambled) of text, records, source-like lines, noise, runs and
// pieces of a few bytes, which give dynamic, fixed and stored blocks, and each of them also
// with bytes after its end, a preset dictionary flagged, a wrong Adler-32 and its last byte
// cut off.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/BlockCodec.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A fixed linear congruential sequence: the same seeds on every machine.
std::uint32_t Next(std::uint32_t& state) {
    state = state * 1103515245u + 12345u;
    return state >> 8;
}

Bytes Text(std::size_t size, std::uint32_t state) {
    static const char* const kWords[] = {"the", "backup", "disc", "of", "folder", "and", "a", "stick",
                                         "restore", "file", "chunk", "is", "to", "on", "image", "with"};
    std::string text;
    while (text.size() < size) {
        text += kWords[Next(state) % 16];
        text += Next(state) % 9 == 0 ? ".\n" : " ";
    }
    return Bytes(text.begin(), text.begin() + static_cast<long>(size));
}

Bytes Records(std::size_t size) {
    Bytes bytes;
    for (std::uint32_t i = 0; bytes.size() < size; ++i)
        for (std::uint32_t value : {i, i * 7, 1000 + i % 13, 0u}) bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.resize(size);
    return bytes;
}

Bytes Noise(std::size_t size, std::uint32_t state) {
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(Next(state));
    return bytes;
}

// The zlib stream EncodeChunk makes of a piece.
Bytes Chunk(const Bytes& piece) {
    Bytes out(corvane::kEncodeCapacity);
    int length = 0;
    if (!corvane::EncodeChunk(piece.data(), static_cast<int>(piece.size()), out.data(), length).ok()) return {};
    out.resize(static_cast<std::size_t>(length));
    corvane::UnscrambleBlock(out.data(), length);
    return out;
}

bool Write(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    bool written = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file && std::fclose(file) != 0) written = false;
    if (!written) std::fprintf(stderr, "inflate_seeds: cannot write %s\n", path.c_str());
    return written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: inflate_seeds DIR\n", stderr);
        return 2;
    }
    const std::string dir = argv[1];
    const std::vector<std::pair<std::string, Bytes>> pieces = {
        {"text", Text(4096, 1)},         {"short-text", Text(300, 2)}, {"few-bytes", Text(9, 3)},
        {"one-byte", Bytes(1, 'x')},     {"records", Records(4096)},   {"noise", Noise(4096, 4)},
        {"zeros", Bytes(4096, 0)},       {"half-noise", [] {
             Bytes bytes = Text(2048, 5);
             Bytes noise = Noise(2048, 6);
             bytes.insert(bytes.end(), noise.begin(), noise.end());
             return bytes;
         }()},
    };
    for (const auto& [name, piece] : pieces) {
        const Bytes chunk = Chunk(piece);
        if (chunk.size() < 6) return 1;
        Bytes trailing = chunk;
        trailing.insert(trailing.end(), {'t', 'a', 'i', 'l'});
        // FDICT set and the header check made right again, with a dictionary id after it.
        Bytes dictionary = chunk;
        dictionary[1] = static_cast<std::uint8_t>((dictionary[1] | 0x20) & 0xe0);
        dictionary[1] = static_cast<std::uint8_t>(dictionary[1] + (31 - (dictionary[0] * 256 + dictionary[1]) % 31) % 31);
        dictionary.insert(dictionary.begin() + 2, {0x12, 0x34, 0x56, 0x78});
        Bytes wrongAdler = chunk;
        wrongAdler.back() ^= 1;
        Bytes cut(chunk.begin(), chunk.end() - 1);
        for (const auto& [form, bytes] : {std::pair{"", chunk}, std::pair{"-trailing", trailing},
                                          std::pair{"-dictionary", dictionary},
                                          std::pair{"-wrong-adler", wrongAdler}, std::pair{"-cut", cut}})
            if (!Write(dir + "/" + name + form, bytes)) return 1;
    }
    return 0;
}
