#include "archive/BlockCodec.h"

#include <zlib.h>

namespace corvane {

namespace {

constexpr std::array<std::uint8_t, 256> MakeIdentity() {
    std::array<std::uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) table[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    return table;
}

// Position of each byte value in byteTable (it is a permutation, so every value has one).
constexpr std::array<std::uint8_t, 256> MakeInverse(const std::array<std::uint8_t, 256>& table) {
    std::array<std::uint8_t, 256> inverse{};
    for (int i = 0; i < 256; ++i) inverse[table[static_cast<std::size_t>(i)]] = static_cast<std::uint8_t>(i);
    return inverse;
}

}  // namespace

constinit const std::array<std::uint8_t, 256> byteTable = MakeIdentity();

namespace {

// From the same table as byteTable: clang does not read byteTable itself in a constant expression.
constinit const std::array<std::uint8_t, 256> kTableIndex = MakeInverse(MakeIdentity());

}  // namespace

int RotationAmount(int n) {
    int l = n;
    while (l >= 256) l -= l / 3;
    return l;
}

// The rotated table holds byteTable[(i + L) mod 256] at i: scrambling maps the byte found
// at index i of byteTable to rotated[i], unscrambling goes back.
int ScrambleBlock(std::uint8_t* buffer, int n) {
    if (n <= 0) return n;
    const int l = RotationAmount(n);
    for (int p = 0; p < n; p += l) {
        const int i = kTableIndex[buffer[p]];
        buffer[p] = byteTable[static_cast<std::size_t>((i + l) & 0xFF)];
    }
    return n;
}

int UnscrambleBlock(std::uint8_t* buffer, int n) {
    if (n <= 0) return n;
    const int l = RotationAmount(n);
    for (int p = 0; p < n; p += l) {
        const int i = (kTableIndex[buffer[p]] - l) & 0xFF;
        buffer[p] = byteTable[static_cast<std::size_t>(i)];
    }
    return n;
}

Status EncodeChunk(const std::uint8_t* piece, int n, std::uint8_t* out, int& length) {
    length = 0;
    if (n < 1 || n > kPieceSize) return Status(Status::Code::InvalidArgument, "A piece holds 1 to 4096 bytes");
    uLongf destLength = kEncodeCapacity;
    int rc = ::compress(out, &destLength, piece, static_cast<uLong>(n));
    if (rc != Z_OK) return Status(Status::Code::Unavailable, "Compression failed (out of memory)");
    length = static_cast<int>(destLength);
    ScrambleBlock(out, length);
    return Status::Ok();
}

Status DecodeChunk(std::uint8_t* chunk, int m, std::uint8_t* out, int& length) {
    length = 0;
    if (m < 1 || m > kMaxChunkLength) return Status(Status::Code::Corrupt, "Chunk length out of range");
    UnscrambleBlock(chunk, m);
    uLongf destLength = kDecodeCapacity;
    int rc = ::uncompress(out, &destLength, chunk, static_cast<uLong>(m));
    if (rc != Z_OK) return Status(Status::Code::Corrupt, "Chunk does not decompress");
    length = static_cast<int>(destLength);
    return Status::Ok();
}

}  // namespace corvane
