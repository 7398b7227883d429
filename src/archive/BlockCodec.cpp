#include "archive/BlockCodec.h"

#include <zlib.h>

#include "archive/ChunkInflater.h"

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

namespace {

// zlib's state for one thread, set up once and reset per chunk: the same output as a fresh
// compress()/uncompress() call without allocating and freeing their buffers every 4 KiB.
class ZlibStream {
public:
    enum class Way { Compress, Decompress };

    explicit ZlibStream(Way way)
        : compress_(way == Way::Compress),
          ready_((compress_ ? ::deflateInit(&stream_, Z_DEFAULT_COMPRESSION) : ::inflateInit(&stream_)) == Z_OK) {}
    ~ZlibStream() {
        if (ready_) compress_ ? ::deflateEnd(&stream_) : ::inflateEnd(&stream_);
    }
    ZlibStream(const ZlibStream&) = delete;
    ZlibStream& operator=(const ZlibStream&) = delete;

    // Turns all of in into one whole zlib stream, or back; false for damage, no room or no
    // memory.
    bool Run(const std::uint8_t* in, int n, std::uint8_t* out, int capacity, int& length) {
        if (!ready_ || (compress_ ? ::deflateReset(&stream_) : ::inflateReset(&stream_)) != Z_OK) return false;
        stream_.next_in = const_cast<Bytef*>(in);
        stream_.avail_in = static_cast<uInt>(n);
        stream_.next_out = out;
        stream_.avail_out = static_cast<uInt>(capacity);
        if ((compress_ ? ::deflate(&stream_, Z_FINISH) : ::inflate(&stream_, Z_FINISH)) != Z_STREAM_END) return false;
        length = capacity - static_cast<int>(stream_.avail_out);
        return true;
    }

private:
    z_stream stream_{};
    const bool compress_;
    const bool ready_;
};

}  // namespace

Status EncodeChunk(const std::uint8_t* piece, int n, std::uint8_t* out, int& length) {
    length = 0;
    if (n < 1 || n > kPieceSize) return Status(Status::Code::InvalidArgument, "A piece holds 1 to 4096 bytes");
    thread_local ZlibStream deflater(ZlibStream::Way::Compress);
    if (!deflater.Run(piece, n, out, kEncodeCapacity, length)) {
        length = 0;
        return Status(Status::Code::Unavailable, "Compression failed (out of memory)");
    }
    ScrambleBlock(out, length);
    return Status::Ok();
}

Status DecodeChunk(std::uint8_t* chunk, int m, std::uint8_t* out, int& length) {
    length = 0;
    if (m < 1 || m > kMaxChunkLength) return Status(Status::Code::Corrupt, "Chunk length out of range");
    UnscrambleBlock(chunk, m);
    if (InflateWithLibdeflate(chunk, m, out, kDecodeCapacity, length)) return Status::Ok();
    thread_local ZlibStream inflater(ZlibStream::Way::Decompress);
    if (!inflater.Run(chunk, m, out, kDecodeCapacity, length)) {
        length = 0;
        return Status(Status::Code::Corrupt, "Chunk does not decompress");
    }
    return Status::Ok();
}

}  // namespace corvane
