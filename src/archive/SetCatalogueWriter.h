#pragma once
// Collects the catalogue of a backup set as its streams reach discs, and gives the catalogue
// file for each disc. Records are kept encoded, a few dozen bytes per file, in an unnamed file
// of a given folder (nothing is left behind, even after a crash), or in memory where the folder
// cannot hold one.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/SetCatalogueFormat.h"
#include "platform/FileLayer.h"

namespace corvane {

class SetCatalogueWriter {
public:
    // spillFolder: where the records are kept; "" keeps them in memory.
    SetCatalogueWriter(std::string backupName, std::int64_t backupTime, const std::string& spillFolder = "");
    ~SetCatalogueWriter();
    SetCatalogueWriter(const SetCatalogueWriter&) = delete;
    SetCatalogueWriter& operator=(const SetCatalogueWriter&) = delete;

    // A stream that reached a disc, with the files it holds in their order.
    void AddStream(const CatalogueStream& stream, const std::vector<CatalogueFile>& files);
    // The size of the catalogue file once this stream is added too. It does not depend on
    // the disc numbers.
    std::uint64_t SizeWith(const CatalogueStream& stream, const std::vector<CatalogueFile>& files) const;
    // The catalogue file describing discs 1 to discs; moreDiscsFollow on every disc but the
    // last.
    std::string Bytes(std::uint32_t discs, bool moreDiscsFollow = false) const;
    // Writes that file without a copy of it in memory: a disc of many files has a large one.
    Status WriteTo(File& out, std::uint32_t discs, bool moreDiscsFollow) const;

    const std::string& backupName() const { return backupName_; }

private:
    std::string backupName_;
    std::int64_t backupTime_;
    // Hands the file to sink piece by piece; stops at the first piece sink refuses, or at a
    // spilled record that cannot be read back.
    Status Emit(std::uint32_t discs, bool moreDiscsFollow, const std::function<Status(std::string_view)>& sink) const;
    // Moves what was spilled into memory, where the records are kept from then on.
    void StopSpilling();
    void KeepInMemory(const std::string& encoded);

    int spill_ = -1;  // the unnamed file, or -1
    Status lost_;     // why spilled records could not be read back
    // In memory: the encoded stream and file records, in blocks of about 1 MiB (growing one
    // string would hold the old and the new copy at once).
    std::vector<std::string> blocks_;
    std::uint64_t encodedSize_ = 0;
    std::uint64_t streamRecords_ = 0;
};

}  // namespace corvane
