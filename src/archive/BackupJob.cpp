#include "archive/BackupJob.h"

#include <algorithm>
#include <cstdio>

#include "archive/FolderArchiver.h"
#include "archive/StreamFormat.h"
#include "disc/CBurnProgress.h"
#include "disc/DiscRecording.h"
#include "disc/ImageFileName.h"
#include "disc/RecorderPath.h"

namespace corvane {

namespace {

// Steps in flight per compression thread: a small file takes three (its record's start, one
// batch, its end), so this many keep every core busy while the job thread reads small files,
// and few enough to keep memory small (a batch is about 200 KiB).
constexpr int kStepsPerWorker = 16;

void Tell(BackupHost& host, const char* text) { host.Ask({text, MessageIcon::Warning, MessageButtons::Ok}); }

std::string Confirmation(double totalKB) {
    char text[96];
    std::snprintf(text, sizeof text, "Are you sure you want to burn %.1f MB to disc?", totalKB / 1024.0);
    return text;
}

// "left out", or "left out or changed" when files changed while they were read.
std::string LeftOutWords(const BackupHost& host) {
    return host.changedWhileRead > 0 ? "left out or changed" : "left out";
}

std::string LeftOutReport(const BackupHost& host) {
    std::string text = "The backup was recorded, but " + std::to_string(host.leftOut.size()) +
                       (host.leftOut.size() == 1 ? " item was " : " items were ") + LeftOutWords(host) + ":\n";
    for (const auto& line : host.leftOut) text += "\n" + line;
    return text;
}

// Said after a backup that holds names a restore gives one local name: nothing is lost.
std::string NamesAsOneReport(const BackupHost& host) {
    std::string text = "Some folders hold names that restore as one name (everywhere, or where case is ignored, as "
                       "on FAT and exFAT). The backup holds every file; a restore numbers the later ones "
                       "(\"a (2).txt\"):\n";
    for (const auto& line : host.namesAsOne) text += "\n" + line;
    return text;
}

// A new backup never continues an earlier one: an image folder holding discs of a backup of the
// same name (the same source, backed up in the same minute) is refused.
std::string EarlierBackupIn(IDiscRecorder& recorder, const std::string& backupName) {
    ImageRecorderPath images;
    if (!ParseImageRecorderPath(recorder.GetPath(), images) || NextDiscNumber(images.folder, backupName) == 1) return {};
    return "The folder " + images.folder + " already holds discs of the backup " + backupName +
           ": wait a minute, or choose another folder.";
}

// The job's connection to the disc layer, released in the described order on every way out.
struct DiscSession {
    std::shared_ptr<IDiscMaster> master;
    IJolietDiscMaster* joliet = nullptr;
    std::unique_ptr<IEnumDiscRecorders> recorders;
    std::shared_ptr<IDiscRecorder> recorder;  // the last one taken from the list
    std::uint32_t cookie = 0;
    bool advised = false;

    ~DiscSession() {
        if (!master) return;
        if (advised) master->ProgressUnadvise(cookie);
        if (recorder) recorder->Close();
        master->Close();
    }
};

}  // namespace

namespace {

// Counts the files below the folder into host.fileCount and returns their bytes.
std::uint64_t MeasureFiles(BackupHost& host, const std::string& folderPath) {
    std::vector<FolderEntry> entries;
    if (!host.files->ListFolder(folderPath, entries).ok()) return 0;
    std::uint64_t bytes = 0;
    std::vector<std::string> subFolders;
    const std::string prefix = folderPath.empty() || folderPath.back() == '/' ? folderPath : folderPath + "/";
    for (const auto& entry : entries) {
        if (entry.info.isFolder()) {
            subFolders.push_back(prefix + entry.name);
        } else if (entry.info.isFile()) {
            ++host.fileCount;
            bytes += entry.info.size;
        }
    }
    for (const auto& sub : subFolders) bytes += MeasureFiles(host, sub);
    return bytes;
}

}  // namespace

void MeasureFolder(BackupHost& host, const std::string& folderPath) {
    // Summed in bytes and converted once: many small files add up.
    host.totalKB += static_cast<double>(MeasureFiles(host, folderPath)) / 1024.0;
}

BackupOutcome RunBackupJob(BackupHost& host, const BackupJobServices& services) {
    CBurnProgress sink(host);
    const std::int64_t startTime = host.clock->Now();
    host.BeginWaitCursor();
    BackupOutcome outcome = BackupOutcome::NotStarted;
    bool stoppedByFailure = false;  // a failure stopped the job, not the user
    host.failure.clear();

    // Setting idle comes last: from then on the window may close and go away.
    auto end = [&] {
        host.SetInputsEnabled(true);
        host.SetCancelEnabled(true);
        // A stop that comes once every disc is recorded leaves the backup as it ended.
        const bool finished = outcome == BackupOutcome::Completed || outcome == BackupOutcome::Incomplete;
        if (host.cancelRequested && !stoppedByFailure && !finished) {
            host.SetStatus("Cancelled");
            if (outcome != BackupOutcome::NotStarted) outcome = BackupOutcome::Cancelled;
        }
        host.tempFolder.Remove();  // the staging folder, wherever the job put it
        host.EndWaitCursor();
        host.idle = 1;
        return outcome;
    };
    // A failure shows its cause on the status line when one was named.
    auto failed = [&] {
        stoppedByFailure = true;
        host.SetStatus(host.failure.empty() ? "Error writing disc!" : host.failure);
        outcome = BackupOutcome::Failed;
        return end();
    };

    const auto recorderText = host.RecorderSelection();
    if (!recorderText) {
        Tell(host, "You must select a CD/DVD writable drive.");
        return end();
    }
    const auto source = host.SourceSelection();
    if (!source) {
        Tell(host, "You must select a USB drive to backup.");
        return end();
    }
    const std::string backupName =
        MakeBackupName(source->label ? &*source->label : nullptr, FormatBackupTimeStamp(startTime));
    std::string storedPassword;
    if (host.EncryptFiles() && (!PadPassword(host.Password(), storedPassword) || IsNoPassword(storedPassword))) {
        Tell(host, "Type a password of at most 16 characters to encrypt the files with.");
        return end();
    }

    {
        DiscSession disc;
        host.SetStatus("Initializing...");
        disc.master = services.createDiscMaster ? services.createDiscMaster() : nullptr;
        bool ready = disc.master && disc.master->Open().ok() &&
                     disc.master->SetActiveDiscMasterFormat(disc.joliet).ok() && disc.joliet;
        if (ready) {
            disc.advised = disc.master->ProgressAdvise(&sink, disc.cookie).ok();
            ready = disc.master->EnumDiscRecorders(disc.recorders).ok() && disc.recorders;
        }
        host.SetStatus("Selecting Disc Burner...");
        bool chosen = false;
        if (ready && disc.advised) {
            while (auto recorder = disc.recorders->Next()) {
                disc.recorder = recorder;
                if (services.recorderEntryText(recorder->GetPath()) == *recorderText) {
                    chosen = true;
                    break;
                }
            }
        }
        if (!chosen) {
            Tell(host, "Disc Recorder not accessible.");
            return end();
        }

        disc.master->SetActiveDiscRecorder(disc.recorder);
        host.failure = EarlierBackupIn(*disc.recorder, backupName);
        if (!host.failure.empty()) {
            Tell(host, host.failure.c_str());
            return failed();
        }
        host.totalKB = 0.0;
        host.bytesRead = host.bytesWritten = host.fileCount = 0;
        host.leftOut.clear();
        host.changedWhileRead = 0;
        host.namesAsOne.clear();
        MeasureFolder(host, source->root);
        host.ShowProgress();

        if (host.Ask({Confirmation(host.totalKB), MessageIcon::Question, MessageButtons::YesNo}) !=
            MessageAnswer::Yes) {
            host.SetStatus("Cancelled");
            outcome = BackupOutcome::Cancelled;
            return end();
        }
        outcome = BackupOutcome::Cancelled;
        host.filesDone = 0;
        if (host.cancelRequested) return end();

        std::shared_ptr<const BackupKey> key;
        if (host.EncryptFiles()) {
            // Once per backup: every stream is sealed with this key.
            host.SetStatus("Deriving the key from the password...");
            std::unique_ptr<BackupKey> made;
            if (Status s = BackupKey::Create(host.Password(), made); !s.ok()) {
                host.failure = "The files cannot be encrypted: " + s.message();
                Tell(host, host.failure.c_str());
                return failed();
            }
            key = std::move(made);
        }

        host.SetStatus("Accessing disc burner...");
        const DiscStep prepared = PrepareDisc(host, *disc.joliet, disc.recorder, *disc.master);
        if (prepared == DiscStep::Failed) return failed();
        if (prepared == DiscStep::Cancelled) host.cancelRequested = 1;

        host.SetStatus("Adding files...");
        ChunkPipeline pipeline(host.compressionWorkers, kStepsPerWorker * std::max(1, host.compressionWorkers));
        // The catalogue's records wait in the staging folder; in memory if it cannot be made.
        SetCatalogueWriter catalogue(backupName, startTime,
                                     host.tempFolder.Create().ok() ? host.tempFolder.path() : std::string());
        ArchiveContext context{host,       *disc.joliet, *disc.master, disc.recorder, source->root,
                               backupName, 0,            pipeline,     catalogue,     false,
                               1,          key};
        if (!host.cancelRequested) ArchiveFolder(context, source->root);
        if (context.failed) return failed();
        if (host.cancelRequested) return end();
        if (!AddCatalogueToDisc(context, false)) return failed();

        host.SetStatus("Burning Disc...");
        const DiscStep burnt = BurnDisc(host, *disc.master, disc.recorder);
        if (burnt == DiscStep::Failed) return failed();
        if (burnt == DiscStep::Cancelled) {
            host.cancelRequested = 1;
        } else if (!host.leftOut.empty()) {
            // Never a plain success while files were left out.
            host.SetStatus("Completed, " + std::to_string(host.leftOut.size()) + " " + LeftOutWords(host));
            host.Ask({LeftOutReport(host), MessageIcon::Warning, MessageButtons::Ok});
            outcome = BackupOutcome::Incomplete;
        } else {
            host.SetStatus("Completed Successfully!");
            outcome = BackupOutcome::Completed;
        }
        if (burnt != DiscStep::Cancelled && !host.namesAsOne.empty())
            host.Ask({NamesAsOneReport(host), MessageIcon::Information, MessageButtons::Ok});
    }
    return end();
}

}  // namespace corvane
