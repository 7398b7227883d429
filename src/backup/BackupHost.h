#pragma once
// What a backup needs of the face that runs it: the backup window, the command line or a
// test. The job, the folder archiver, disc preparation and recording, the payload and the
// progress sink all report and ask through it, and share its counters and flags. Display
// methods may be called from the job's thread; implementations carry them to their own.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/FileLayer.h"
#include "platform/Message.h"
#include "platform/PrivateTempFolder.h"

namespace corvane {

// The totals' display rule: up to 1048576 the plain number, above it whole megabytes ("5 MB");
// zero keeps the window's first "0 MB", so a job that read nothing leaves the counters as they were.
std::string FormatCount(std::uint64_t value);

// The folder to back up and the label its backup is named after (none when unreadable).
struct SourceChoice {
    std::string root;
    std::optional<std::string> label;
};

class BackupHost {
public:
    virtual ~BackupHost() = default;

    // The status line.
    virtual void SetStatus(const std::string& text) = 0;
    virtual std::string StatusText() = 0;
    // The Total and Compressed lines, each shown with FormatCount.
    virtual void ShowCounters(std::uint64_t bytesRead, std::uint64_t bytesWritten) = 0;
    // The progress bar: shown with range 0..100 by the job, then moved.
    virtual void ShowProgress() = 0;
    virtual void SetProgress(int percent) = 0;
    virtual int Progress() = 0;
    virtual void SetCancelEnabled(bool enabled) = 0;
    // Source and recorder lists, password boxes and "Burn".
    virtual void SetInputsEnabled(bool enabled) = 0;
    // A message box; blocks the calling thread until answered.
    virtual MessageAnswer Ask(const Message& message) = 0;
    // The busy cursor, nested.
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;

    // The selected recorder entry and the selected source, when there is a selection.
    virtual std::optional<std::string> RecorderSelection() = 0;
    virtual std::optional<SourceChoice> SourceSelection() = 0;
    // The text of the password box.
    virtual std::string Password() = 0;
    // Whether the files are to be encrypted with the password, not only guarded by it.
    virtual bool EncryptFiles() = 0;

    // Shared state of one window, read and written by the job and its helpers.
    std::atomic<int> cancelRequested{0};
    std::atomic<int> idle{1};
    // While a drive records a disc, kRecordingWrite, then kRecordingClose once the disc is
    // being closed: a cancel while writing would ruin a write-once disc, and one while closing
    // is ignored, for the disc is then finished.
    static constexpr int kRecordingWrite = 1;
    static constexpr int kRecordingClose = 2;
    std::atomic<int> recording{0};
    // Stops the job once the disc being recorded is finished (a signal during recording).
    std::atomic<int> stopAfterRecording{0};
    std::uint64_t fileCount = 0;
    double totalKB = 0.0;
    std::uint64_t filesDone = 0;
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesWritten = 0;
    // Temporary files made for discs, deleted when the face goes away.
    std::vector<std::string> stagedFiles;
    // What the job had to leave out, one line each ("path: reason"), reported at its end;
    // files stored as read although they changed while being read are listed here too.
    std::vector<std::string> leftOut;
    // How many of the leftOut lines are files that changed while they were read.
    std::size_t changedWhileRead = 0;
    // Folders holding names that a restore gives one local name, one line each
    // ("Docs: Readme.txt, README.TXT"): a restore numbers the later ones.
    std::vector<std::string> namesAsOne;
    // The cause of the failure that stopped the job, for its status line; empty when none was
    // named.
    std::string failure;
    // Set once the user was told that the discs will not carry the portable restorer.
    bool restorerMissingTold = false;

    // Services; tests replace them.
    FileSystem* files = &DefaultFileSystem();
    // The program copied onto every disc: the running executable, as the kernel knows it.
    std::string programPath = "/proc/self/exe";
    Clock* clock = &DefaultClock();
    // Where staging files live: private to this window or command.
    PrivateTempFolder tempFolder;
    // Reads back and checks a disc just recorded, found at place (RecordedDiscPlace): "" when it
    // is good, else what is wrong with it, by name. Empty: discs are not verified.
    std::function<std::string(const std::string& place)> verifyRecordedDisc;
    // Threads that compress chunks, one per core; 0 compresses on the job's own thread.
    int compressionWorkers = static_cast<int>(std::thread::hardware_concurrency());
};

}  // namespace corvane
