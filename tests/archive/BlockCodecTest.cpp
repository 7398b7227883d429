#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "archive/BlockCodec.h"

namespace corvane {
namespace {

TEST(BlockCodec, RotationAmountMatchesTable) {
    struct Case {
        int n, l;
    } cases[] = {{1, 1}, {255, 255}, {256, 171}, {300, 200}, {383, 171}, {4096, 240}, {4108, 242}, {8164, 214}};
    for (auto c : cases) EXPECT_EQ(RotationAmount(c.n), c.l) << "n=" << c.n;
}

TEST(BlockCodec, ScrambleAddsLAtEveryLthByteAndUnscrambleUndoesIt) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> original(8164), buffer(8164);
    for (int n = 0; n <= 8164; ++n) {
        for (int i = 0; i < n; ++i) original[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(random());
        buffer.assign(original.begin(), original.end());
        ASSERT_EQ(ScrambleBlock(buffer.data(), n), n);

        // Closed form: positions 0, L, 2L, ... below n gain L (mod 256); the rest stay.
        const int l = n > 0 ? RotationAmount(n) : 1;
        for (int i = 0; i < n; ++i) {
            const auto at = static_cast<std::size_t>(i);
            const auto expected =
                i % l == 0 ? static_cast<std::uint8_t>(original[at] + l) : original[at];
            ASSERT_EQ(buffer[at], expected) << "n=" << n << " position " << i;
        }
        ASSERT_EQ(UnscrambleBlock(buffer.data(), n), n);
        ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + n, original.begin())) << "n=" << n;
    }
}

TEST(BlockCodec, ChangedPositionsForKnownLengths) {
    struct Case {
        int n;
        std::vector<int> changed;
    } cases[] = {{11, {0}}, {256, {0, 171}}, {300, {0, 200}}};
    for (const auto& c : cases) {
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(c.n), 0);
        ScrambleBlock(buffer.data(), c.n);
        std::vector<int> changed;
        for (int i = 0; i < c.n; ++i)
            if (buffer[static_cast<std::size_t>(i)] != 0) changed.push_back(i);
        EXPECT_EQ(changed, c.changed) << "n=" << c.n;
    }
    std::vector<std::uint8_t> big(4108, 0);
    ScrambleBlock(big.data(), 4108);
    int count = 0;
    for (int i = 0; i < 4108; ++i)
        if (big[static_cast<std::size_t>(i)]) {
            EXPECT_EQ(i % 242, 0);
            ++count;
        }
    EXPECT_EQ(count, 17);
}

TEST(BlockCodec, NonPositiveLengthLeavesBufferAlone) {
    std::uint8_t buffer[4] = {1, 2, 3, 4};
    ScrambleBlock(buffer, 0);
    ScrambleBlock(buffer, -5);
    UnscrambleBlock(buffer, -1);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[3], 4);
}

TEST(BlockCodec, EncodesAbcToTheKnownElevenBytes) {
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    std::uint8_t chunk[kEncodeCapacity];
    int length = 0;
    ASSERT_TRUE(EncodeChunk(abc, 3, chunk, length).ok());
    const std::vector<std::uint8_t> expected = {0x83, 0x9C, 0x4B, 0x4C, 0x4A, 0x06, 0x00, 0x02, 0x4D, 0x01, 0x27};
    EXPECT_EQ(std::vector<std::uint8_t>(chunk, chunk + length), expected);

    std::uint8_t piece[kDecodeCapacity];
    int pieceLength = 0;
    ASSERT_TRUE(DecodeChunk(chunk, length, piece, pieceLength).ok());
    EXPECT_EQ(std::string(piece, piece + pieceLength), "abc");
}

TEST(BlockCodec, RoundTripsPiecesOfEverySize) {
    std::mt19937 random(11);
    std::uint8_t piece[kPieceSize], chunk[kEncodeCapacity], back[kDecodeCapacity];
    for (int n : {1, 2, 255, 256, 1000, 4095, 4096}) {
        for (bool incompressible : {false, true}) {
            for (int i = 0; i < n; ++i)
                piece[i] = static_cast<std::uint8_t>(incompressible ? random() : i % 7);
            int length = 0, backLength = 0;
            ASSERT_TRUE(EncodeChunk(piece, n, chunk, length).ok());
            EXPECT_LE(length, 4108);
            // The encoder keeps its zlib state between chunks: its bytes must still be those
            // of a one-shot compress() at the default level, whatever came before.
            std::uint8_t reference[kEncodeCapacity];
            uLongf referenceLength = kEncodeCapacity;
            ASSERT_EQ(::compress(reference, &referenceLength, piece, static_cast<uLong>(n)), Z_OK);
            ScrambleBlock(reference, static_cast<int>(referenceLength));
            ASSERT_EQ(std::vector<std::uint8_t>(chunk, chunk + length),
                      std::vector<std::uint8_t>(reference, reference + referenceLength)) << n;
            ASSERT_TRUE(DecodeChunk(chunk, length, back, backLength).ok());
            ASSERT_EQ(backLength, n);
            EXPECT_TRUE(std::equal(piece, piece + n, back));
        }
    }
}

TEST(BlockCodec, RejectsDamagedOrImpossibleChunks) {
    std::uint8_t piece[100] = {}, chunk[kMaxChunkLength + 1] = {}, back[kDecodeCapacity];
    int length = 0, backLength = 0;
    EXPECT_FALSE(EncodeChunk(piece, 0, chunk, length).ok());
    EXPECT_FALSE(EncodeChunk(piece, kPieceSize + 1, chunk, length).ok());

    ASSERT_TRUE(EncodeChunk(piece, 100, chunk, length).ok());
    chunk[length / 2] ^= 0x55;
    EXPECT_FALSE(DecodeChunk(chunk, length, back, backLength).ok());
    EXPECT_FALSE(DecodeChunk(chunk, 0, back, backLength).ok());
    EXPECT_FALSE(DecodeChunk(chunk, kMaxChunkLength + 1, back, backLength).ok());

    // A failure leaves the decoder usable for the next, sound chunk.
    ASSERT_TRUE(EncodeChunk(piece, 100, chunk, length).ok());
    ASSERT_TRUE(DecodeChunk(chunk, length, back, backLength).ok());
    EXPECT_EQ(backLength, 100);
}

}  // namespace
}  // namespace corvane
