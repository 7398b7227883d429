#pragma once
// Reads the catalogue of a backup set in one pass, with memory for one record at a time.

#include "archive/SetCatalogueFormat.h"
#include "platform/FileLayer.h"

namespace corvane {

// Receives the catalogue's records in their order: the backup first, then each stream
// followed by its files.
class CatalogueVisitor {
public:
    virtual ~CatalogueVisitor() = default;
    virtual void OnBackup(const CatalogueBackup& backup) = 0;
    virtual void OnStream(const CatalogueStream& stream) = 0;
    virtual void OnFile(const CatalogueFile& file) = 0;
};

// Hands every record to the visitor as it is read. Ok only when the catalogue is whole and
// its checksum matches: the visitor learns that only at the end, so a caller that must trust
// the records keeps them until then. InvalidArgument for a file that is no catalogue,
// NotImplemented for a catalogue of a newer format, Corrupt for a damaged one; the message
// says why.
Status ReadSetCatalogue(File& in, CatalogueVisitor& visitor);

}  // namespace corvane
