#include "archive/ChunkInflater.h"

#include <libdeflate.h>
#include <zlib.h>  // Z_DEFLATED

#include <algorithm>
#include <cstddef>

namespace corvane {

namespace {

constexpr int kAdlerSize = 4;
constexpr int kMaxCodeLength = 15;
constexpr int kMaxLengthCodes = 286;  // zlib refuses more (libdeflate takes up to 288)
constexpr int kMaxDistanceCodes = 30;  // zlib refuses more (libdeflate takes up to 32)
constexpr int kPrecodeSymbols = 19;

constexpr int kMaxPrecodeLength = 7;

// The bits of a deflate stream, least significant first, through a 64-bit buffer; Take and
// Peek fail past the end.
class BitReader {
  public:
    BitReader(const std::uint8_t* data, std::size_t size) : next_(data), end_(data + size) {}

    bool Peek(int count, unsigned& value) {
        while (held_ < count && next_ < end_) {
            buffer_ |= static_cast<std::uint64_t>(*next_++) << held_;
            held_ += 8;
        }
        if (held_ < count) return false;
        value = static_cast<unsigned>(buffer_ & ((std::uint64_t{1} << count) - 1));
        return true;
    }
    void Drop(int count) {
        buffer_ >>= count;
        held_ -= count;
    }
    bool Take(int count, unsigned& value) {
        if (!Peek(count, value)) return false;
        Drop(count);
        return true;
    }
    // The bits left, at most count of them, as Peek would give them with zeros past the end.
    int PeekUpTo(int count, unsigned& value) {
        Peek(count, value);
        const int have = held_ < count ? held_ : count;
        value = static_cast<unsigned>(buffer_ & ((std::uint64_t{1} << have) - 1));
        return have;
    }

  private:
    const std::uint8_t* next_;
    const std::uint8_t* end_;
    std::uint64_t buffer_ = 0;
    int held_ = 0;
};

// Whether codes of these lengths (counts[n]: the number of codes n bits long; counts[0] is
// not looked at) make a complete prefix code: every bit string leads to a symbol. zlib and
// libdeflate decode a complete code alike; they differ on incomplete ones.
bool IsComplete(const int* counts) {
    long left = 1;
    for (int length = 1; length <= kMaxCodeLength; ++length) {
        left = 2 * left - counts[length];
        if (left < 0) return false;
    }
    return left == 0;
}

// The code-length code of a dynamic block, complete, as deflate builds it from its lengths:
// a table from the next seven bits to the symbol and its length.
class Precode {
  public:
    explicit Precode(const std::uint8_t* lengths) {
        int counts[kMaxPrecodeLength + 1] = {};
        for (int i = 0; i < kPrecodeSymbols; ++i) ++counts[lengths[i]];
        counts[0] = 0;
        unsigned next[kMaxPrecodeLength + 1] = {};
        for (unsigned length = 1, code = 0; length <= kMaxPrecodeLength; ++length) {
            code = (code + static_cast<unsigned>(counts[length - 1])) << 1;
            next[length] = code;
        }
        for (int symbol = 0; symbol < kPrecodeSymbols; ++symbol) {
            const int length = lengths[symbol];
            if (length == 0) continue;
            // Codes go in from their first bit, the table is indexed least significant first.
            unsigned code = next[length]++, reversed = 0;
            for (int i = 0; i < length; ++i, code >>= 1) reversed = reversed << 1 | (code & 1);
            for (unsigned index = reversed; index < (1u << kMaxPrecodeLength); index += 1u << length)
                entries_[index] = Entry{static_cast<std::uint8_t>(symbol), static_cast<std::uint8_t>(length)};
        }
    }

    bool Decode(BitReader& bits, int& symbol) const {
        unsigned next = 0;
        const int have = bits.PeekUpTo(kMaxPrecodeLength, next);
        const Entry& entry = entries_[next];
        if (entry.length > have) return false;
        bits.Drop(entry.length);
        symbol = entry.symbol;
        return true;
    }

  private:
    struct Entry {
        std::uint8_t symbol = 0;
        std::uint8_t length = 0;
    };
    Entry entries_[1 << kMaxPrecodeLength];
};

// Whether a dynamic block's header, after its first three bits, is one zlib accepts and whose
// codes are complete.
bool DynamicHeaderMatches(BitReader& bits) {
    unsigned hlit = 0, hdist = 0, hclen = 0;
    if (!bits.Take(5, hlit) || !bits.Take(5, hdist) || !bits.Take(4, hclen)) return false;
    const int lengthCodes = static_cast<int>(hlit) + 257;
    const int distanceCodes = static_cast<int>(hdist) + 1;
    if (lengthCodes > kMaxLengthCodes || distanceCodes > kMaxDistanceCodes) return false;

    static constexpr int kPrecodeOrder[kPrecodeSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
    std::uint8_t precodeLengths[kPrecodeSymbols] = {};
    int precodeCounts[kMaxCodeLength + 1] = {};
    for (unsigned i = 0; i < hclen + 4; ++i) {
        unsigned length = 0;
        if (!bits.Take(3, length)) return false;
        precodeLengths[kPrecodeOrder[i]] = static_cast<std::uint8_t>(length);
        ++precodeCounts[length];
    }
    if (!IsComplete(precodeCounts)) return false;
    const Precode precode(precodeLengths);

    // The code lengths are only counted, for each code: that tells whether it is complete.
    int counts[2][kMaxCodeLength + 1] = {};  // of the length codes, of the distance codes
    const int total = lengthCodes + distanceCodes;
    int previous = -1;
    bool endOfBlock = false;
    for (int have = 0; have < total;) {
        int value = 0;
        if (!precode.Decode(bits, value)) return false;
        int repeat = 1;
        if (value >= 16) {
            // 16 repeats the previous length 3-6 times, 17 and 18 give 3-10 and 11-138 zeros.
            unsigned extra = 0;
            if (value == 16) {
                if (previous < 0 || !bits.Take(2, extra)) return false;
                value = previous;
                repeat = 3 + static_cast<int>(extra);
            } else if (value == 17) {
                if (!bits.Take(3, extra)) return false;
                value = 0;
                repeat = 3 + static_cast<int>(extra);
            } else {
                if (!bits.Take(7, extra)) return false;
                value = 0;
                repeat = 11 + static_cast<int>(extra);
            }
            if (have + repeat > total) return false;
        }
        if (have <= 256 && 256 < have + repeat) endOfBlock = value != 0;
        const int ofLengthCodes = std::clamp(lengthCodes - have, 0, repeat);
        counts[0][value] += ofLengthCodes;
        counts[1][value] += repeat - ofLengthCodes;
        have += repeat;
        previous = value;
    }
    return endOfBlock && IsComplete(counts[0]) && IsComplete(counts[1]);
}

class LibdeflateInflater {
  public:
    LibdeflateInflater() : decompressor_(libdeflate_alloc_decompressor()) {}
    ~LibdeflateInflater() {
        if (decompressor_) libdeflate_free_decompressor(decompressor_);
    }
    LibdeflateInflater(const LibdeflateInflater&) = delete;
    LibdeflateInflater& operator=(const LibdeflateInflater&) = delete;

    bool Run(const std::uint8_t* in, int n, std::uint8_t* out, int capacity, int& length) {
        std::size_t produced = 0;
        if (!decompressor_ ||
            libdeflate_zlib_decompress(decompressor_, in, static_cast<std::size_t>(n), out,
                                       static_cast<std::size_t>(capacity),
                                       &produced) != LIBDEFLATE_SUCCESS)
            return false;
        length = static_cast<int>(produced);
        return true;
    }

  private:
    libdeflate_decompressor* decompressor_;
};

}  // namespace

bool LibdeflateMatchesZlib(const std::uint8_t* stream, int n) {
    // The zlib header: deflate with a window zlib takes, its check, no preset dictionary.
    if (n < 2 + kAdlerSize) return false;
    const unsigned method = stream[0], flags = stream[1];
    if ((method & 0x0f) != Z_DEFLATED || (method >> 4) > 7 || (method << 8 | flags) % 31 != 0 ||
        (flags & 0x20) != 0)
        return false;
    // libdeflate takes the last four bytes for the Adler-32 and reads no deflate bits there:
    // a header running into them is left to zlib.
    BitReader bits(stream + 2, static_cast<std::size_t>(n - 2 - kAdlerSize));
    unsigned last = 0, type = 0;
    if (!bits.Take(1, last) || !bits.Take(2, type) || last != 1) return false;
    // Stored (0) blocks are decoded alike; fixed codes (1) hold length symbols 286 and 287
    // that only zlib refuses; 3 is no block type.
    if (type == 0) return true;
    return type == 2 && DynamicHeaderMatches(bits);
}

bool InflateWithLibdeflate(const std::uint8_t* stream, int n, std::uint8_t* out, int capacity,
                           int& length) {
    thread_local LibdeflateInflater inflater;
    if (LibdeflateMatchesZlib(stream, n) && inflater.Run(stream, n, out, capacity, length)) return true;
    length = 0;
    return false;
}

}  // namespace corvane
