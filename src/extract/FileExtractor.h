#pragma once
// Restores backed-up files from backup streams into the destination folder the host names.
// Both routines report through the host (status line, progress bar, messages, the overwrite
// prompt) and stop when its cancel flag is set.

#include <cstdint>
#include <memory>
#include <string>

#include "extract/ExtractHost.h"
#include "platform/FileLayer.h"
#include "platform/Status.h"

namespace corvane {

// Said when the destination box is empty.
inline constexpr const char* kNoDestination = "You must select a destination folder.";

// Restores folder streams and single files one after another, as a restore of several
// entries does. A "to all" answer to the overwrite prompt holds for the rest of the run's
// folder streams. Reading and decoding run ahead on every core while earlier files are still
// being written; every change to the destination and every call to the host happens in
// order, on the calling thread, as if each entry were restored to its end before the next.
class ExtractionRun {
  public:
    explicit ExtractionRun(ExtractHost& host);
    // Finishes what was handed over.
    ~ExtractionRun();
    ExtractionRun(const ExtractionRun&) = delete;
    ExtractionRun& operator=(const ExtractionRun&) = delete;

    // As ExtractFolderStream; may return before the stream's last files are written.
    void FolderStream(const std::string& streamPath);
    // As ExtractFileRecord, after everything handed over before.
    int SingleFile(const std::string& streamPath, std::uint64_t recordOffset, const std::string& fileName);
    // Waits until everything handed over is restored (or passed over after a stop).
    void Finish();

  private:
    struct Parts;
    ExtractHost& host_;
    std::unique_ptr<Parts> parts_;
};

// Restores every file of one folder stream into the destination, below the stream's folder
// path, creating the folder chain first, as a run of its own.
void ExtractFolderStream(ExtractHost& host, const std::string& streamPath);

// Restores the one file whose record's DataSize lies at recordOffset straight into the
// destination, named fileName (as stored). 0 when the file was extracted, skipped or
// cancelled, 1 on an error. Any answer but Yes or YesToAll cancels the run.
int ExtractFileRecord(ExtractHost& host, const std::string& streamPath, std::uint64_t recordOffset,
                      const std::string& fileName);

// Creates a folder and its missing ancestors. Ok when the folder exists afterwards.
Status CreateDirectoryPath(FileSystem& files, const std::string& path);

}  // namespace corvane
