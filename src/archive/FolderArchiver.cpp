#include "archive/FolderArchiver.h"

#include <algorithm>
#include <vector>

#include "archive/BlockCodec.h"
#include "archive/StreamFormat.h"
#include "disc/DiscRecording.h"
#include "extract/StoredPath.h"

namespace corvane {

namespace {

constexpr std::size_t kReadBlock = 64 * kPieceSize;  // pieces are cut from larger reads

class WaitCursor {
public:
    explicit WaitCursor(BackupHost& host) : host_(host) { host_.BeginWaitCursor(); }
    ~WaitCursor() { host_.EndWaitCursor(); }

private:
    BackupHost& host_;
};

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool Cancelled(const BackupHost& host) { return host.cancelRequested.load() != 0; }

void LeaveOut(BackupHost& host, const std::string& path, const std::string& reason) {
    host.leftOut.push_back(path + ": " + reason);
}

// Why an entry cannot be stored, or empty when it can: the stream format separates folders
// with backslashes and holds names of at most 259 bytes, and restore refuses names that could
// lead outside its destination (control characters, a drive designator).
std::string UnstorableName(const ArchiveContext& c, const std::string& path, const FolderEntry& entry) {
    const std::string& name = entry.name;
    if (name.find('\\') != std::string::npos) return "its name contains a backslash";
    if (name.size() > static_cast<std::size_t>(kMaxStoredText)) return "its name is too long";
    std::string restored;
    const bool restorable = entry.info.isFolder()
                                ? StoredFolderToRelative(StoredFolderPath(c.sourceRoot, path), restored)
                                : StoredFileNameToLocal(name, restored);
    if (!restorable) return "its name could not be restored (a control character or a drive designator)";
    return {};
}

// Writes one file's record. A file that cannot be read or stored whole leaves no trace in
// the stream and is listed in host.leftOut; a failure to write the staging file itself is
// returned, since it ends the job.
Status ArchiveFile(ArchiveContext& c, StreamWriter& writer, const std::string& path, const FolderEntry& entry) {
    BackupHost& host = c.host;
    std::unique_ptr<File> in;
    Status source = host.files->OpenRead(path, in);
    if (!source.ok()) {
        LeaveOut(host, path, source.message());
        return Status::Ok();
    }
    ++host.filesDone;
    Status staging = writer.BeginFile(entry.name, entry.info.created, entry.info.modified, entry.info.size);

    std::vector<std::uint8_t> block(kReadBlock);
    std::uint8_t chunk[kEncodeCapacity];
    bool more = staging.ok();
    while (more && !Cancelled(host)) {
        std::size_t got = 0;
        source = in->ReadFull(block.data(), block.size(), got);
        for (std::size_t at = 0; source.ok() && at < got; at += kPieceSize) {
            const int n = static_cast<int>(std::min<std::size_t>(kPieceSize, got - at));
            int length = 0;
            source = EncodeChunk(block.data() + at, n, chunk, length);
            if (source.ok()) staging = writer.WriteChunk(chunk, length);
            if (!source.ok() || !staging.ok()) break;
            host.bytesRead += static_cast<std::uint64_t>(n);
            host.bytesWritten += static_cast<std::uint64_t>(length);
            host.ShowCounters(host.bytesRead, host.bytesWritten);
            if (Cancelled(host)) break;  // a stop takes effect after at most one chunk
        }
        more = source.ok() && staging.ok() && got == block.size();
    }
    in->Close();
    if (!staging.ok()) return staging;
    if (!source.ok()) {
        LeaveOut(host, path, source.message());
        return writer.AbandonFile();
    }
    // On cancel the record keeps the chunks written so far; the stream never reaches a disc.
    staging = writer.EndFile();
    if (staging.code() == Status::Code::TooLarge) {
        LeaveOut(host, path, staging.message());
        return Status::Ok();
    }
    return staging;
}

// Writes the folder's stream into the staging file and collects its sub-folders.
Status WriteStream(ArchiveContext& c, const std::string& folderPath, const std::string& stagingPath,
                   const std::string& storedPassword, const std::vector<FolderEntry>& entries,
                   std::vector<std::string>& subFolders) {
    BackupHost& host = c.host;
    std::unique_ptr<File> out;
    Status s = host.files->OpenWrite(stagingPath, out);
    if (!s.ok()) return s;
    StreamWriter writer(*out);
    s = writer.WriteFolderHeader(StoredFolderPath(c.sourceRoot, folderPath), storedPassword);
    for (const auto& entry : entries) {
        if (!s.ok() || Cancelled(host)) break;
        const std::string path = JoinPath(folderPath, entry.name);
        if (!entry.info.isFolder() && !entry.info.isFile()) continue;  // devices, sockets, links to folders
        if (std::string why = UnstorableName(c, path, entry); !why.empty()) {
            LeaveOut(host, path, why);  // a folder too: a backslash would split it on restore
        } else if (entry.info.isFolder()) {
            subFolders.push_back(path);
        } else {
            s = ArchiveFile(c, writer, path, entry);
        }
    }
    if (s.ok()) s = writer.Finish();
    Status closed = out->Close();
    return s.ok() ? closed : s;
}

// Adds the staged stream to the image; on a full disc records it and goes on with the next.
// True when the stream reached a disc.
bool AddToDisc(ArchiveContext& c, const StagedFile& staged, const std::string& folderPath) {
    BackupHost& host = c.host;
    Status s = c.joliet.AddData(staged, false);
    if (s.ok()) return true;
    if (s.code() == Status::Code::TooLarge) {
        LeaveOut(host, folderPath, "its files do not fit on one disc (" + s.message() + ")");
        return false;
    }
    if (s.code() != Status::Code::NoSpace) {
        host.Ask({"The folder " + folderPath + " could not be added to the disc: " + s.message(),
                  MessageIcon::Warning, MessageButtons::Ok});
        c.failed = true;
        host.cancelRequested = 1;
        return false;
    }
    if (!BurnDisc(host, c.discMaster, c.recorder)) {
        c.failed = !Cancelled(host);  // as for the last disc: a recording that did not happen
        host.cancelRequested = 1;
        return false;
    }
    if (host.Ask({"Please insert another disc", MessageIcon::Information, MessageButtons::RetryCancel}) !=
        MessageAnswer::Retry) {
        host.cancelRequested = 1;
        return false;
    }
    c.discMaster.SetActiveDiscRecorder(c.recorder);
    if (!PrepareDisc(host, c.joliet, c.recorder, c.discMaster)) {
        host.cancelRequested = 1;
        return false;
    }
    s = c.joliet.AddData(staged, false);
    if (!s.ok()) LeaveOut(host, folderPath, "its files do not fit on one disc (" + s.message() + ")");
    return s.ok();
}

}  // namespace

std::string StoredFolderPath(const std::string& sourceRoot, const std::string& folderPath) {
    const std::size_t rootLength = std::min(sourceRoot.size(), folderPath.size());
    return StoredFolderPathOf(std::string_view(folderPath).substr(rootLength));
}

void ArchiveFolder(ArchiveContext& c, const std::string& folderPath) {
    BackupHost& host = c.host;
    WaitCursor busy(host);
    std::string storedPassword;
    if (!PadPassword(host.Password(), storedPassword)) {
        host.Ask({"The password is longer than 16 bytes.", MessageIcon::Warning, MessageButtons::Ok});
        host.cancelRequested = 1;
        return;
    }
    host.SetStatus(folderPath);

    std::vector<FolderEntry> entries;
    Status listed = host.files->ListFolder(folderPath, entries);
    if (!listed.ok()) {
        LeaveOut(host, folderPath, listed.message());
        return;
    }
    const bool isRoot = folderPath == c.sourceRoot;
    if (entries.empty() && isRoot) return;  // an empty drive yields no stream at all
    if (StoredFolderPath(c.sourceRoot, folderPath).size() > static_cast<std::size_t>(kMaxStoredText)) {
        LeaveOut(host, folderPath, "its path is too long to be stored");
        return;
    }
    if (Status made = host.tempFolder.Create(); !made.ok()) {
        LeaveOut(host, folderPath, made.message());
        c.failed = true;
        host.cancelRequested = 1;
        return;
    }

    const std::string stagingPath = host.tempFolder.path() + "/corvane.mcb";
    host.stagedFiles.push_back(stagingPath);
    // The number is only used up when the stream reaches a disc, so numbers never skip.
    const StagedFile staged{MakeStreamName(c.backupName, c.sequence), stagingPath};

    std::vector<std::string> subFolders;
    Status written = WriteStream(c, folderPath, stagingPath, storedPassword, entries, subFolders);
    if (!written.ok()) {
        host.Ask({"The backup cannot go on: " + written.message(), MessageIcon::Warning, MessageButtons::Ok});
        c.failed = true;
        host.cancelRequested = 1;
    } else if (!Cancelled(host) && AddToDisc(c, staged, folderPath)) {
        ++c.sequence;
    }
    host.files->RemoveFile(stagingPath);

    if (host.filesDone > 0 && host.fileCount > 0) {
        const auto percent = static_cast<int>(std::min<std::uint64_t>(100, host.filesDone * 100 / host.fileCount));
        if (percent > host.Progress()) host.SetProgress(percent);
    }
    for (const auto& sub : subFolders) {
        if (Cancelled(host)) break;
        ArchiveFolder(c, sub);
    }
}

}  // namespace corvane
