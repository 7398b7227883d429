#include "CorpusContent.h"

#include <zlib.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace corvane::bench {

namespace {

constexpr std::size_t kVocabularySize = 6000;
constexpr std::size_t kRun = 1 << 20;  // length of one run in a mixed file

constexpr std::array<const char*, 24> kKeywords = {
    "int",    "auto",   "const",  "return", "if",     "else",     "for",    "while",
    "struct", "class",  "void",   "bool",   "static", "std::size_t", "switch", "case",
    "break",  "double", "char",   "using",  "namespace", "template", "nullptr", "true"};

void Append(std::string& out, std::size_t limit, const std::string& piece) {
    out.append(piece, 0, std::min(piece.size(), limit - out.size()));
}

}  // namespace

std::uint64_t Random::Next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

ContentMaker::ContentMaker(std::uint64_t seed) : random_(seed) {
    static constexpr std::array<const char*, 20> kOnsets = {
        "b", "c", "d", "f", "g", "h", "k", "l", "m", "n", "p", "r", "s", "t", "v", "w", "st", "tr", "ch", "pl"};
    static constexpr std::array<const char*, 8> kVowels = {"a", "e", "i", "o", "u", "ea", "ou", "y"};
    static constexpr std::array<const char*, 8> kCodas = {"", "", "n", "r", "s", "t", "l", "nd"};
    words_.reserve(kVocabularySize);
    for (std::size_t i = 0; i < kVocabularySize; ++i) {
        std::string word;
        const std::size_t syllables = 1 + random_.Skewed(4);
        for (std::size_t s = 0; s < syllables; ++s) {
            word += kOnsets[random_.Below(kOnsets.size())];
            word += kVowels[random_.Below(kVowels.size())];
            word += kCodas[random_.Below(kCodas.size())];
        }
        words_.push_back(std::move(word));
    }
}

const std::string& ContentMaker::Word() { return words_[random_.Skewed(words_.size())]; }

std::string ContentMaker::Prose(std::size_t size) {
    std::string out;
    out.reserve(size);
    std::size_t column = 0;
    while (out.size() < size) {
        const std::size_t sentence = random_.Between(4, 22);
        for (std::size_t w = 0; w < sentence && out.size() < size; ++w) {
            std::string word = Word();
            if (w == 0) word[0] = static_cast<char>(word[0] - 'a' + 'A');
            if (w + 1 == sentence) word += random_.Chance(85) ? "." : "?";
            else if (random_.Chance(8)) word += ",";
            if (column + word.size() > 78) {
                Append(out, size, "\n");
                column = 0;
            } else if (column > 0) {
                Append(out, size, " ");
                ++column;
            }
            Append(out, size, word);
            column += word.size();
        }
        if (random_.Chance(15)) {
            Append(out, size, "\n\n");
            column = 0;
        }
    }
    return out;
}

std::string ContentMaker::SourceCode(std::size_t size) {
    std::string out;
    out.reserve(size);
    int depth = 0;
    while (out.size() < size) {
        std::string line(static_cast<std::size_t>(depth) * 4, ' ');
        const std::size_t kind = random_.Below(10);
        if (kind == 0 && depth < 5) {
            line += std::string(kKeywords[random_.Below(4) + 4]) + " (" + Word() + " < " + Word() + "_count) {";
            ++depth;
        } else if (kind == 1 && depth > 0) {
            --depth;
            line = std::string(static_cast<std::size_t>(depth) * 4, ' ') + "}";
        } else if (kind == 2) {
            line += "// " + Word() + " " + Word() + " " + Word() + " " + Word() + ".";
        } else {
            line += std::string(kKeywords[random_.Below(kKeywords.size())]) + " " + Word() + "_" + Word() + " = " +
                    Word() + "(" + Word() + ", " + std::to_string(random_.Below(4096)) + ");";
        }
        Append(out, size, line + "\n");
    }
    return out;
}

std::string ContentMaker::LogLines(std::size_t size) {
    static constexpr std::array<const char*, 4> kLevels = {"INFO", "INFO", "WARN", "DEBUG"};
    std::string out;
    out.reserve(size);
    std::uint64_t seconds = 1'600'000'000 + random_.Below(100'000'000);
    char stamp[64];
    while (out.size() < size) {
        seconds += random_.Below(30);
        std::snprintf(stamp, sizeof stamp, "%llu.%03zu ", static_cast<unsigned long long>(seconds), random_.Below(1000));
        Append(out, size, std::string(stamp) + kLevels[random_.Below(kLevels.size())] + " " + Word() + ": " + Word() +
                              " " + Word() + " id=" + std::to_string(random_.Below(1'000'000)) + "\n");
    }
    return out;
}

std::string ContentMaker::Compressed(std::size_t size) {
    // Deflated text shrinks about three to one; make enough of it, then cut to size.
    const std::string text = random_.Chance(50) ? Prose(size * 3 + 64) : LogLines(size * 3 + 64);
    uLongf length = compressBound(static_cast<uLong>(text.size()));
    std::string out(length, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(text.data()),
                  static_cast<uLong>(text.size()), 6) != Z_OK)
        throw std::runtime_error("zlib failed");
    out.resize(std::min<std::size_t>(length, size));
    return out;
}

std::string ContentMaker::Noise(std::size_t size) {
    std::string out(size, '\0');
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const std::uint64_t value = random_.Next();
        std::memcpy(out.data() + i, &value, 8);
    }
    for (; i < size; ++i) out[i] = static_cast<char>(random_.Next());
    static constexpr char kHeader[] = "\xff\xd8\xff\xe0\0\x10JFIF";
    std::memcpy(out.data(), kHeader, std::min(size, sizeof kHeader - 1));
    return out;
}

std::string ContentMaker::Records(std::size_t size) {
    std::string out;
    out.reserve(size + 32);
    std::uint32_t counter = static_cast<std::uint32_t>(random_.Below(1u << 20));
    while (out.size() < size) {
        const std::uint64_t value = random_.Next();
        const std::uint32_t fields[4] = {counter++, static_cast<std::uint32_t>(value & 0xff),
                                         static_cast<std::uint32_t>((value >> 8) & 0x3),
                                         static_cast<std::uint32_t>(value >> 52)};
        out.append(reinterpret_cast<const char*>(fields), sizeof fields);
    }
    out.resize(size);
    return out;
}

std::string ContentMaker::Mixed(std::size_t size, int noisePercent) {
    std::string out;
    out.reserve(size);
    while (out.size() < size) {
        const std::size_t run = std::min(kRun, size - out.size());
        if (random_.Chance(noisePercent)) out += Noise(run);
        else if (random_.Chance(50)) out += Records(run);
        else out += Prose(run);
    }
    return out;
}

}  // namespace corvane::bench
