#pragma once
// Deterministic file contents for the benchmark corpus: prose, source code, logs, already
// compressed data, noise and mixed binary. The same generator state gives the same bytes on
// every machine (no std distributions, whose results differ between libraries).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane::bench {

// splitmix64: fast, and its sequence is fixed by the seed alone.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next();
    // Uniform in [0, n); n > 0.
    std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }
    // Uniform in [low, high].
    std::size_t Between(std::size_t low, std::size_t high) { return low + Below(high - low + 1); }
    // Skewed towards 0, like word frequencies in real text.
    std::size_t Skewed(std::size_t n) { return Below(n) * Below(n) / n; }
    bool Chance(int percent) { return Below(100) < static_cast<std::size_t>(percent); }

private:
    std::uint64_t state_;
};

class ContentMaker {
public:
    explicit ContentMaker(std::uint64_t seed);

    Random& random() { return random_; }
    // A word of the corpus vocabulary, skewed towards the common ones.
    const std::string& Word();

    std::string Prose(std::size_t size);
    std::string SourceCode(std::size_t size);
    std::string LogLines(std::size_t size);
    // Prose or log lines deflated by zlib: what .gz, .zip and office files hold.
    std::string Compressed(std::size_t size);
    // Bytes that do not compress, behind a short format header (photos, music, video).
    std::string Noise(std::size_t size);
    // Fixed-size records with counters and small values: compresses about two to one.
    std::string Records(std::size_t size);
    // Megabyte runs of noise, text and records, like a disk image; noisePercent of the runs
    // are noise.
    std::string Mixed(std::size_t size, int noisePercent);

private:
    Random random_;
    std::vector<std::string> words_;
};

}  // namespace corvane::bench
