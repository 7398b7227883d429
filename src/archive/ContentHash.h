#pragma once
// The checksum of the catalogue: XXH3 with 128 bits, fed in pieces. It catches any accidental
// damage (a flipped bit, a cut, swapped pieces) and costs far less than compression.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace corvane {

using Digest128 = std::array<std::uint8_t, 16>;

class ContentHash {
public:
    ContentHash();
    ~ContentHash();
    ContentHash(const ContentHash&) = delete;
    ContentHash& operator=(const ContentHash&) = delete;

    void Update(const void* data, std::size_t n);
    // The digest of everything given so far (big-endian, as XXH3's canonical form); the hash
    // may go on taking bytes.
    Digest128 Digest() const;

private:
    struct State;
    struct FreeState {
        void operator()(State* state) const;
    };
    std::unique_ptr<State, FreeState> state_;
};

}  // namespace corvane
