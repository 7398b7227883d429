#pragma once
// Chunk decoding with libdeflate, about twice as fast as zlib, held to the verdict of zlib's
// uncompress(). libdeflate accepts some streams zlib refuses (fixed-code length symbols 286
// and 287, more than 286 length or 30 distance codes, incomplete codes, runs of code lengths
// past the last code), so it decodes only a stream that is one final block, stored or with
// complete dynamic codes whose header zlib accepts. zlib decodes every other stream, and every
// one libdeflate refuses (DecodeChunk).

#include <cstdint>

namespace corvane {

// Decompresses the zlib stream of n bytes into out (capacity bytes) with libdeflate when it is
// a stream libdeflate decodes as zlib does and libdeflate accepts it; false otherwise, and
// then zlib must decode it. What this decodes, uncompress() decodes to the same bytes.
bool InflateWithLibdeflate(const std::uint8_t* stream, int n, std::uint8_t* out, int capacity,
                           int& length);

// Whether libdeflate's zlib decoder gives the stream zlib's verdict: the stream is one final
// block, stored or with dynamic codes that zlib accepts and that are complete.
bool LibdeflateMatchesZlib(const std::uint8_t* stream, int n);

}  // namespace corvane
