#pragma once
// Checks one stream file of a disc: its bytes against the catalogue's checksum, its layout,
// every chunk decoded and every file's content against the catalogue's checksum. Without a
// catalogue entry it checks what the format allows: the layout is whole and every chunk decodes.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/BackupKey.h"
#include "platform/FileLayer.h"
#include "verify/LoadedCatalogue.h"

namespace corvane {

// One piece of damage: the file it hit (empty for the stream as a whole) and what is wrong.
struct StreamDamage {
    std::string file;  // the stored name
    std::string why;
};

struct StreamVerdict {
    std::vector<StreamDamage> damage;
    std::uint64_t files = 0;   // file records walked
    bool locked = false;       // encrypted, and no password given opened it: chunks not decoded
};

// What the long checks report while they run, and how they are stopped.
struct VerifyProgress {
    // A disc's check begins: the bytes of its streams, the whole of its progress (0 while its
    // image's MD5 sum is checked, before the streams).
    std::function<void(const std::string& disc, std::uint64_t bytes)> startDisc;
    // Bytes of streams read since the last call.
    std::function<void(std::uint64_t bytes)> advance;
    // Set to stop; the check then ends with what it found so far and a Cancelled note.
    const std::atomic<int>* cancel = nullptr;

    bool Cancelled() const { return cancel && cancel->load() != 0; }
    void Advance(std::uint64_t bytes) const {
        if (advance && bytes) advance(bytes);
    }
};

// expected: the catalogue's entry for the stream, or null. keys open encrypted streams.
StreamVerdict CheckStream(FileSystem& files, const std::string& path, const CataloguedStream* expected,
                          KeyRing* keys, const VerifyProgress& progress);

}  // namespace corvane
