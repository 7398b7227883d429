// Chunk decoding against zlib's uncompress(): libdeflate decodes the streams it agrees with
// zlib on and zlib the others, and DecodeChunk must give exactly uncompress()'s verdict and
// bytes on any input (scrambled as a chunk is stored). Each input is tried as it is and with
// its Adler-32 made right for what its deflate data decodes to (by libdeflate, the more
// lenient of the two), so that streams only a checksum would refuse are compared too.

#include <libdeflate.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "archive/BlockCodec.h"
#include "archive/ChunkInflater.h"
#include "support/Check.h"

namespace {

using corvane::fuzz::Check;

void CompareWithUncompress(const std::vector<std::uint8_t>& stream, const std::string& form) {
    static std::uint8_t ours[corvane::kDecodeCapacity];
    static std::uint8_t theirs[corvane::kDecodeCapacity];
    const int n = static_cast<int>(stream.size());
    uLongf theirLength = corvane::kDecodeCapacity;
    const bool zlibAccepts = ::uncompress(theirs, &theirLength, stream.data(), stream.size()) == Z_OK;
    auto sameBytes = [&](int length) {
        return static_cast<uLongf>(length) == theirLength && std::memcmp(ours, theirs, theirLength) == 0;
    };

    // What libdeflate decodes, zlib decodes alike.
    int length = 0;
    if (corvane::InflateWithLibdeflate(stream.data(), n, ours, corvane::kDecodeCapacity, length)) {
        Check(zlibAccepts, form + ": libdeflate decodes what uncompress refuses");
        Check(sameBytes(length), form + ": libdeflate gives other bytes than uncompress");
    }

    // DecodeChunk, on the stream scrambled as a chunk stores it, gives uncompress's verdict.
    std::vector<std::uint8_t> chunk = stream;
    corvane::ScrambleBlock(chunk.data(), n);
    const bool decodes = corvane::DecodeChunk(chunk.data(), n, ours, length).ok();
    Check(decodes == zlibAccepts, form + ": DecodeChunk " + (decodes ? "accepts" : "refuses") +
                                      " what uncompress " + (zlibAccepts ? "accepts" : "refuses"));
    if (decodes) Check(sameBytes(length), form + ": DecodeChunk gives other bytes than uncompress");
}

// Writes the Adler-32 of what libdeflate decodes the deflate data to right after that data;
// false when it does not decode or no four bytes follow it.
bool MakeAdlerRight(std::vector<std::uint8_t>& stream) {
    static libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    static std::uint8_t out[corvane::kDecodeCapacity];
    if (stream.size() < 2 || !decompressor) return false;
    std::size_t consumed = 0, produced = 0;
    if (libdeflate_deflate_decompress_ex(decompressor, stream.data() + 2, stream.size() - 2, out,
                                         sizeof out, &consumed, &produced) != LIBDEFLATE_SUCCESS)
        return false;
    const std::size_t at = 2 + consumed;
    if (stream.size() - at < 4) return false;
    const uLong adler = ::adler32(::adler32(0, nullptr, 0), out, static_cast<uInt>(produced));
    for (int i = 0; i < 4; ++i) stream[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(adler >> (24 - 8 * i));
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // DecodeChunk refuses other lengths before decoding anything.
    if (size < 1 || size > static_cast<std::size_t>(corvane::kMaxChunkLength)) return 0;
    std::vector<std::uint8_t> stream(data, data + size);
    CompareWithUncompress(stream, "the input");
    if (MakeAdlerRight(stream)) CompareWithUncompress(stream, "the input with its Adler-32 made right");
    return 0;
}
