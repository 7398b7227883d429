// Chunk decoding gives uncompress()'s verdict and bytes, with libdeflate decoding what zlib
// writes: real chunks, streams zlib refuses for their header, checksum, dictionary, length or
// size, and streams built by hand on which libdeflate alone would differ from zlib.

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "archive/BlockCodec.h"
#include "archive/ChunkInflater.h"

namespace corvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Deflate bits, least significant first; prefix codes go in from their first bit.
class BitWriter {
  public:
    BitWriter& Bits(unsigned value, int count) {
        for (int i = 0; i < count; ++i) Put((value >> i) & 1);
        return *this;
    }
    BitWriter& Code(unsigned code, int length) {
        for (int i = length - 1; i >= 0; --i) Put((code >> i) & 1);
        return *this;
    }
    Bytes bytes() const { return bytes_; }

  private:
    void Put(unsigned bit) {
        if (used_ % 8 == 0) bytes_.push_back(0);
        bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | bit << (used_ % 8));
        ++used_;
    }
    Bytes bytes_;
    int used_ = 0;
};

// A zlib stream around deflate data, its Adler-32 taken of the bytes it should give.
Bytes ZlibStream(const Bytes& deflate, const std::string& content) {
    Bytes stream = {0x78, 0x9c};
    stream.insert(stream.end(), deflate.begin(), deflate.end());
    const uLong adler = ::adler32(::adler32(0, nullptr, 0),
                                  reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size()));
    for (int shift = 24; shift >= 0; shift -= 8) stream.push_back(static_cast<std::uint8_t>(adler >> shift));
    return stream;
}

Bytes Compressed(const std::string& piece) {
    Bytes out(compressBound(piece.size()));
    uLongf length = out.size();
    EXPECT_EQ(::compress(out.data(), &length, reinterpret_cast<const Bytef*>(piece.data()), piece.size()), Z_OK);
    out.resize(length);
    return out;
}

std::string Text(std::size_t size) {
    std::string text;
    for (unsigned i = 0; text.size() < size; ++i) text += "folder " + std::to_string(i * 7919 % 1000) + " holds ";
    return text.substr(0, size);
}

std::string Noise(std::size_t size) {
    std::string noise(size, '\0');
    std::uint32_t state = 5;
    for (char& c : noise) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 16);
    return noise;
}

// A dynamic block whose literal/length code holds 'a' (1 bit), end of block and the length 3
// (2 bits each), and whose distance code has no code at all: zlib refuses the distance that
// follows the length, libdeflate takes it for distance 1.
Bytes MatchWithoutDistanceCode() {
    BitWriter bits;
    bits.Bits(1, 1).Bits(2, 2);                 // last block, dynamic codes
    bits.Bits(1, 5).Bits(0, 5).Bits(14, 4);     // 258 length codes, 1 distance code, 18 precode lengths
    const int precodeLengths[18] = {0, 0, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2};  // 18, 0, 2, 1
    for (int length : precodeLengths) bits.Bits(static_cast<unsigned>(length), 3);
    // Precode: 0 -> 00, 1 -> 01, 2 -> 10, 18 -> 11 (11 + 7 bits zeros).
    bits.Code(3, 2).Bits(97 - 11, 7);            // symbols 0-96 unused
    bits.Code(1, 2);                             // 'a': 1 bit
    bits.Code(3, 2).Bits(138 - 11, 7).Code(3, 2).Bits(20 - 11, 7);  // 98-255 unused
    bits.Code(2, 2).Code(2, 2);                  // end of block, length 3: 2 bits each
    bits.Code(0, 2);                             // the one distance code: unused
    // 'a' (0), length 3 (11), a distance bit, end of block (10).
    bits.Code(0, 1).Code(3, 2).Code(0, 1).Code(2, 2);
    return ZlibStream(bits.bytes(), "aaaa");
}

// A fixed-code block with 'a' and then length symbol 286, which zlib refuses and libdeflate
// takes for the length 258.
Bytes FixedCodeLength286() {
    BitWriter bits;
    bits.Bits(1, 1).Bits(1, 2);            // last block, fixed codes
    bits.Code(0x30 + 'a', 8);              // 'a'
    bits.Code(0xc0 + (286 - 280), 8);      // length symbol 286
    bits.Code(0, 5);                       // distance 1
    bits.Code(0, 7);                       // end of block
    return ZlibStream(bits.bytes(), std::string(259, 'a'));
}

// A dynamic block whose last code length, a run of zeros, runs past the codes the header
// counts: zlib refuses it.
Bytes ZerosPastTheLastCode() {
    BitWriter bits;
    bits.Bits(1, 1).Bits(2, 2);
    bits.Bits(0, 5).Bits(0, 5).Bits(14, 4);  // 257 length codes, 1 distance code
    const int precodeLengths[18] = {0, 0, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2};
    for (int length : precodeLengths) bits.Bits(static_cast<unsigned>(length), 3);
    bits.Code(3, 2).Bits(97 - 11, 7).Code(1, 2);  // 'a': 1 bit
    bits.Code(3, 2).Bits(138 - 11, 7).Code(3, 2).Bits(20 - 11, 7);
    bits.Code(1, 2);                               // end of block: 1 bit
    bits.Code(3, 2).Bits(0, 7);                    // 11 zeros where 1 distance code is left
    bits.Code(0, 1).Code(1, 1);                    // 'a', end of block
    return ZlibStream(bits.bytes(), "a");
}

Bytes WithDictionary() {
    z_stream stream{};
    EXPECT_EQ(::deflateInit(&stream, Z_DEFAULT_COMPRESSION), Z_OK);
    const std::string dictionary = "folder holds";
    ::deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(dictionary.data()), static_cast<uInt>(dictionary.size()));
    std::string piece = Text(500);
    Bytes out(1024);
    stream.next_in = reinterpret_cast<Bytef*>(piece.data());
    stream.avail_in = static_cast<uInt>(piece.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(::deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    ::deflateEnd(&stream);
    return out;
}

// Two blocks: the first ends at a full flush.
Bytes TwoBlocks() {
    z_stream stream{};
    EXPECT_EQ(::deflateInit(&stream, Z_DEFAULT_COMPRESSION), Z_OK);
    std::string piece = Text(3000);
    Bytes out(4096);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    stream.next_in = reinterpret_cast<Bytef*>(piece.data());
    stream.avail_in = 1500;
    EXPECT_EQ(::deflate(&stream, Z_FULL_FLUSH), Z_OK);
    stream.avail_in = 1500;
    EXPECT_EQ(::deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    ::deflateEnd(&stream);
    return out;
}

Bytes Appended(Bytes bytes, const Bytes& tail) {
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

Bytes Flipped(Bytes bytes, std::size_t at) {
    bytes[at] ^= 0x01;
    return bytes;
}

struct Case {
    const char* name;
    Bytes stream;
    bool libdeflateDecodes;  // libdeflate gets it, for its speed
    bool libdeflateAloneDiffers;
};

std::vector<Case> Cases() {
    const Bytes text = Compressed(Text(4096));
    return {
        {"text (dynamic codes)", text, true, false},
        {"noise (a stored block)", Compressed(Noise(4096)), true, false},
        {"a few bytes (fixed codes)", Compressed("abc"), false, false},
        {"bytes after the stream", Appended(text, {1, 2, 3}), true, false},
        {"wrong Adler-32", Flipped(text, text.size() - 1), true, false},
        {"cut short", Bytes(text.begin(), text.end() - 1), true, false},
        {"damaged data", Flipped(text, text.size() / 2), true, false},
        {"header check wrong", Flipped(text, 1), false, false},
        {"preset dictionary", WithDictionary(), false, false},
        {"two blocks", TwoBlocks(), false, false},
        {"16384 bytes out: just fits", Compressed(std::string(kDecodeCapacity, 'z')), true, false},
        {"16385 bytes out: too many", Compressed(std::string(kDecodeCapacity + 1, 'z')), true, false},
        {"match without a distance code", MatchWithoutDistanceCode(), false, true},
        {"fixed-code length symbol 286", FixedCodeLength286(), false, true},
        {"zeros past the last code", ZerosPastTheLastCode(), false, true},
    };
}

// DecodeChunk, given the stream as a chunk stores it (scrambled), decodes what uncompress()
// decodes, to the same bytes, and refuses what it refuses; libdeflate decodes the streams zlib
// writes.
TEST(ChunkInflater, DecodeChunkGivesUncompressVerdictAndBytes) {
    libdeflate_decompressor* libdeflate = libdeflate_alloc_decompressor();
    ASSERT_NE(libdeflate, nullptr);
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        const int n = static_cast<int>(c.stream.size());
        Bytes expected(kDecodeCapacity);
        uLongf expectedLength = expected.size();
        const bool zlibAccepts = ::uncompress(expected.data(), &expectedLength, c.stream.data(), c.stream.size()) == Z_OK;

        Bytes chunk = c.stream;
        ScrambleBlock(chunk.data(), n);
        Bytes out(kDecodeCapacity);
        int length = -1;
        ASSERT_EQ(DecodeChunk(chunk.data(), n, out.data(), length).ok(), zlibAccepts);
        if (zlibAccepts) {
            ASSERT_EQ(static_cast<uLongf>(length), expectedLength);
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + length, expected.begin()));
        } else {
            EXPECT_EQ(length, 0);
        }
        EXPECT_EQ(LibdeflateMatchesZlib(c.stream.data(), n), c.libdeflateDecodes);
        EXPECT_EQ(InflateWithLibdeflate(c.stream.data(), n, out.data(), kDecodeCapacity, length),
                  c.libdeflateDecodes && zlibAccepts);

        std::size_t produced = 0;
        const bool libdeflateAccepts =
            libdeflate_zlib_decompress(libdeflate, c.stream.data(), c.stream.size(), out.data(), out.size(),
                                       &produced) == LIBDEFLATE_SUCCESS;
        EXPECT_EQ(libdeflateAccepts != zlibAccepts, c.libdeflateAloneDiffers) << "the case is what its name says";
    }
    libdeflate_free_decompressor(libdeflate);
}

}  // namespace
}  // namespace corvane
