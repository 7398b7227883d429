#include "archive/ContentHash.h"

#define XXH_INLINE_ALL  // header-only: the portable restorer links nothing more
#include <xxhash.h>

namespace corvane {

struct ContentHash::State {
    XXH3_state_t xxh;
};

ContentHash::ContentHash() : state_(std::make_unique<State>()) { XXH3_128bits_reset(&state_->xxh); }

ContentHash::~ContentHash() = default;

void ContentHash::Update(const void* data, std::size_t n) { XXH3_128bits_update(&state_->xxh, data, n); }

Digest128 ContentHash::Digest() const {
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(&state_->xxh));
    Digest128 digest;
    for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = canonical.digest[i];
    return digest;
}

}  // namespace corvane
