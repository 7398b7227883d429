#pragma once
// Little-endian integers in byte buffers, as the stream and catalogue formats store them.

#include <cstdint>

namespace corvane {

template <typename T>
void PutLittleEndian(unsigned char* p, T value) {
    auto v = static_cast<std::uint64_t>(value);
    for (unsigned i = 0; i < sizeof(T); ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

template <typename T>
T GetLittleEndian(const unsigned char* p) {
    std::uint64_t v = 0;
    for (int i = static_cast<int>(sizeof(T)) - 1; i >= 0; --i) v = (v << 8) | p[i];
    return static_cast<T>(v);
}

inline void PutU32(unsigned char* p, std::uint32_t v) { PutLittleEndian(p, v); }
inline void PutI64(unsigned char* p, std::int64_t v) { PutLittleEndian(p, v); }
inline std::uint32_t GetU32(const unsigned char* p) { return GetLittleEndian<std::uint32_t>(p); }
inline std::int64_t GetI64(const unsigned char* p) { return GetLittleEndian<std::int64_t>(p); }

}  // namespace corvane
