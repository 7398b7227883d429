#pragma once
// One piece of a file (at most 4096 bytes) becomes one chunk: zlib-compressed, then
// scrambled by a keyless substitution that depends on the chunk length alone.

#include <array>
#include <cstdint>

#include "platform/Status.h"

namespace corvane {

constexpr int kPieceSize = 4096;        // bytes of a file per chunk
constexpr int kEncodeCapacity = 8164;   // output room given to zlib when encoding
constexpr int kDecodeCapacity = 16384;  // output room given to zlib when decoding
constexpr int kMaxChunkLength = 8192;   // readers refuse longer chunks

// The scrambler's table: the identity permutation, entry i holds i.
extern const std::array<std::uint8_t, 256> byteTable;

// L for a block of n bytes: n below 256, else n reduced by a third until below 256.
int RotationAmount(int n);

// Adds L (mod 256) to the bytes at 0, L, 2L, ... below n. Returns n.
int ScrambleBlock(std::uint8_t* buffer, int n);
// The exact inverse for the same n. Returns n.
int UnscrambleBlock(std::uint8_t* buffer, int n);

// Compresses n bytes (1..4096) at zlib's default level into out (kEncodeCapacity bytes)
// and scrambles the result; length receives the chunk length.
Status EncodeChunk(const std::uint8_t* piece, int n, std::uint8_t* out, int& length);

// Unscrambles the m chunk bytes in place and decompresses them into out (kDecodeCapacity
// bytes); length receives the piece length. Fails for a damaged chunk.
Status DecodeChunk(std::uint8_t* chunk, int m, std::uint8_t* out, int& length);

}  // namespace corvane
