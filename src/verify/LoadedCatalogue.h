#pragma once
// A catalogue of a backup set read whole into memory, for checking the discs against it: a
// few dozen bytes and the name per file.

#include <map>
#include <string>
#include <vector>

#include "archive/SetCatalogueFormat.h"
#include "platform/FileLayer.h"

namespace corvane {

struct CataloguedStream {
    CatalogueStream stream;
    std::vector<CatalogueFile> files;  // in the stream's order
};

struct LoadedCatalogue {
    CatalogueBackup backup;
    std::vector<CataloguedStream> streams;
    std::map<std::string, std::size_t> byName;  // index into streams

    // The stream of that name, or null.
    const CataloguedStream* Find(const std::string& streamName) const;
};

// Reads the catalogue file at path. On failure the message says why it was refused (damaged,
// foreign, of a newer format, unreadable); catalogue is then left empty.
Status LoadCatalogue(FileSystem& files, const std::string& path, LoadedCatalogue& catalogue);

}  // namespace corvane
