#pragma once
// The fuzz input read as a stream file of a backup labelled "USB": its folder header is read
// the way the scan reads it.

#include "restore/BackupCatalog.h"
#include "support/InputFileSystem.h"

namespace corvane::fuzz {

// The stream's description with its header read in; false when the header is not readable.
inline bool ReadInputStream(InputFileSystem& files, BackupStream& stream) {
    stream.path = files.path();
    stream.label = "USB";
    stream.timeStamp = "0812251430";
    return ReadStreamHeader(files, stream).ok();
}

}  // namespace corvane::fuzz
