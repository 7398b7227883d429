#pragma once
// Collects the catalogue of a backup set as its streams reach discs, and gives the catalogue
// file for each disc. Records are kept encoded: a few dozen bytes per file.

#include <cstdint>
#include <string>
#include <vector>

#include "archive/SetCatalogueFormat.h"

namespace corvane {

class SetCatalogueWriter {
public:
    SetCatalogueWriter(std::string backupName, std::int64_t backupTime);

    // A stream that reached a disc, with the files it holds in their order.
    void AddStream(const CatalogueStream& stream, const std::vector<CatalogueFile>& files);
    // The size of the catalogue file once this stream is added too. It does not depend on
    // the disc numbers.
    std::uint64_t SizeWith(const CatalogueStream& stream, const std::vector<CatalogueFile>& files) const;
    // The catalogue file describing discs 1 to discs.
    std::string Bytes(std::uint32_t discs) const;

    const std::string& backupName() const { return backupName_; }

private:
    std::string backupName_;
    std::int64_t backupTime_;
    std::string streams_;  // the encoded stream and file records
    std::uint64_t streamRecords_ = 0;
};

}  // namespace corvane
