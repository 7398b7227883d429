#pragma once
// The catalogue of a backup set: one file on every disc, named after the backup, that
// describes the streams and files of discs 1 to N of the backup (N being the disc it is on).
//
// Layout (integers little-endian, texts as a 2-byte length and that many bytes):
//   magic "CVNCATLG", format version (uint32, 1)
//   records, each a type byte, a uint32 payload length and the payload:
//     'B' backup: time (int64, seconds since 1970 UTC), discs described (uint32), name,
//         flags (uint8, bit 0: more discs follow; absent in catalogues of earlier versions)
//     'S' stream: sequence (uint32), disc (uint32), flags (uint8, bit 0: protected), size
//         (uint64), checksum of its bytes (16), stream name, folder path
//     'F' file of the stream before it: record offset (uint64, where DataSize lies in the
//         stream), size (uint64), creation and last-write time (int64 each), checksum of its
//         content (16), file name
//     'E' end, last: the number of records before it (uint64), then the checksum of every
//         byte of the file before that checksum (16)
// A reader skips records of a type it does not know and payload bytes after the fields it
// knows, so a later version may add both; it refuses a greater format version. Checksums
// are XXH3 with 128 bits, in XXH3's canonical (big-endian) byte order.

#include <cstdint>
#include <string>
#include <string_view>

#include "archive/ContentHash.h"

namespace corvane {

inline constexpr char kCatalogueMagic[8] = {'C', 'V', 'N', 'C', 'A', 'T', 'L', 'G'};
inline constexpr std::uint32_t kCatalogueVersion = 1;
inline constexpr std::size_t kCatalogueHeaderSize = sizeof kCatalogueMagic + 4;
inline constexpr std::size_t kCatalogueRecordHead = 1 + 4;  // type and payload length

enum class CatalogueRecord : unsigned char { Backup = 'B', Stream = 'S', File = 'F', End = 'E' };

struct CatalogueBackup {
    std::string name;
    std::int64_t time = 0;
    std::uint32_t discs = 0;  // the catalogue describes discs 1 to this one
    // The backup went on onto disc discs + 1: written on every disc but the last, so a set
    // whose last disc is missing shows it.
    bool moreDiscsFollow = false;
};

struct CatalogueStream {
    std::string name;        // "DATA 0812251430 3.cvn"
    std::uint32_t sequence = 0;
    std::uint32_t disc = 0;  // counted from 1
    std::string folderPath;  // as stored in the stream: "\" or "\Docs\2008"
    bool isProtected = false;
    std::uint64_t size = 0;
    Digest128 checksum{};
};

struct CatalogueFile {
    std::string name;
    std::uint64_t recordOffset = 0;
    std::uint64_t size = 0;
    std::int64_t created = 0;
    std::int64_t modified = 0;
    Digest128 checksum{};
};

// The catalogue's name on the disc: the backup's name and ".catalog", which readers of
// "*.cvn" pass by. It keeps to Joliet's 64 characters as the stream names do.
std::string CatalogueFileName(std::string_view backupName);

}  // namespace corvane
