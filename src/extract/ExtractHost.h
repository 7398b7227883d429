#pragma once
// What the file extractor needs of the face that runs it: the extract dialog, the command
// line or a test. Methods may be called from the extraction thread; implementations carry
// them to their own.

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <thread>

#include "archive/BackupKey.h"
#include "archive/ContentHash.h"
#include "platform/FileLayer.h"
#include "platform/Message.h"

namespace corvane {

// What a catalogue says of one file record of a stream.
struct ListedFile {
    std::string storedName;    // the record's FileName as stored (sealed in an encrypted stream)
    std::uint32_t index = 0;   // its place among the stream's file records, from 1
    bool hasChecksum = false;  // an encrypted stream's files have none: their seals stand for it
    Digest128 checksum{};      // of its content
};
// What a catalogue says of one stream: its folder and its files by record offset.
struct ListedStream {
    std::string folderPath;    // as stored: "\" or "\Docs\2008"; an encrypted stream's key parameters
    bool isProtected = false;  // it has a password
    bool sealed = false;       // encrypted
    std::map<std::uint64_t, ListedFile> files;
};
// The streams the catalogues list, by stream file name.
using ListedStreams = std::map<std::string, ListedStream>;

// The answers of the overwrite prompt; the numbers are part of its contract.
enum class OverwriteAnswer : std::uint8_t {
    No = 0,
    Yes = 1,
    NoToAll = 2,
    YesToAll = 3,
    Cancel = 4
};

class ExtractHost {
  public:
    virtual ~ExtractHost() = default;

    // The status line.
    virtual void SetStatus(const std::string& text) = 0;
    // The progress bar: shown with range 0..100 at position 0, then moved.
    virtual void ShowProgress() = 0;
    virtual void SetProgress(int percent) = 0;
    // The destination folder as typed; read at the start of every extraction.
    virtual std::string Destination() = 0;
    // A message box; blocks the calling thread until answered.
    virtual MessageAnswer Ask(const Message& message) = 0;
    // Asks whether an existing file may be replaced; blocks until answered.
    virtual OverwriteAnswer AskOverwrite(const std::string& targetPath) = 0;
    // A file restored to its end at targetPath.
    virtual void Restored(const std::string& targetPath) = 0;
    // A file or folder of the backup restored under a substitute name, because the file system
    // cannot hold its stored one or another file of the run has that name there: shownPath names it as stored ("Docs\a.txt", control
    // characters as '?'), targetPath is where it is now.
    virtual void RestoredUnder(const std::string& shownPath, const std::string& targetPath) = 0;
    // What was not restored, named as stored (a file, a folder, the rest of a stream, or a
    // stream file that could not be read), and why. Each is named once.
    virtual void NotRestored(const std::string& shownPath, const std::string& reason) = 0;
    // The busy cursor, nested.
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;

    // Non-zero asks the extraction to stop; the extractor sets it too, never clears it.
    std::atomic<int> cancelRequested{0};
    // Services; tests replace them.
    FileSystem* files = &DefaultFileSystem();
    // The application-wide last destination, updated by every extraction (may be null).
    std::string* lastDestination = nullptr;
    // The keys of encrypted backups, from the passwords given (may be null).
    KeyRing* keys = nullptr;
    // The files the catalogues list (may be null): a restored file whose content does not match
    // its checksum is not restored, records that damage hides are found by their place, and a
    // listed file that the stream lacks is named.
    const ListedStreams* catalogue = nullptr;
    // Threads that decode chunks, one per core; 0 decodes on the extraction's own thread.
    int decodeWorkers = static_cast<int>(std::thread::hardware_concurrency());
};

}  // namespace corvane
