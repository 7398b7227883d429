#include "archive/FolderArchiver.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "archive/BlockCodec.h"
#include "archive/ContentHash.h"
#include "archive/Recycler.h"
#include "archive/StreamFormat.h"
#include "disc/DiscRecording.h"
#include "extract/StoredPath.h"
#include "platform/TextCodec.h"

namespace corvane {

namespace {

constexpr std::size_t kReadBlock = 16 * kPieceSize;  // pieces are read and compressed in batches

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

// The line is shown on terminals too: a name's control characters become '?'.
void LeaveOut(BackupHost& host, const std::string& path, const std::string& reason) {
    host.leftOut.push_back(ShownStoredText(path + ": " + reason));
}

// Why an entry cannot be stored, or empty when it can: the stream format separates folders
// with backslashes and holds names of at most 259 bytes, and restore refuses names that could
// lead outside its destination (control characters, a drive designator).
std::string UnstorableName(const ArchiveContext& c, const std::string& path, const FolderEntry& entry) {
    const std::string& name = entry.name;
    if (name.find('\\') != std::string::npos) return "its name contains a backslash";
    if (name.size() > static_cast<std::size_t>(kMaxStoredText)) return "its name is too long";
    std::string restored;
    const NameUse use = entry.info.isFolder() ? StoredFolderToRelative(StoredFolderPath(c.sourceRoot, path), restored)
                                              : StoredFileNameToLocal(name, restored);
    const bool restorable = use == NameUse::AsStored;
    if (!restorable) return "its name could not be restored (a control character or a drive designator)";
    return {};
}

// Notes names of the folder that a restore gives one local name: the same once decoded
// (Latin-1 and UTF-8 spellings of "café.txt") or differing only in case, which FAT and exFAT
// destinations take as one. Only names that are backed up count.
void NoteNamesAsOne(BackupHost& host, const std::string& folderPath, const std::vector<std::string>& storedNames) {
    std::vector<std::pair<std::string, std::string>> locals;  // local name, stored name
    for (const std::string& stored : storedNames) {
        std::string local;
        StoredFileNameToLocal(stored, local);
        locals.emplace_back(std::move(local), stored);
    }
    const auto ignoringCase = [](const auto& a, const auto& b) { return CompareIgnoringCase(a.first, b.first) < 0; };
    std::stable_sort(locals.begin(), locals.end(), ignoringCase);
    for (auto group = locals.begin(); group != locals.end();) {
        const auto end = std::upper_bound(group, locals.end(), *group, ignoringCase);
        if (end - group > 1) {
            std::string line = ShownStoredText(folderPath) + ":";
            for (auto it = group; it != end; ++it) line += (it == group ? " " : ", ") + ShownStoredText(it->second);
            host.namesAsOne.push_back(line);
        }
        group = end;
    }
}

// One folder's stream being written, shared by the pipeline's completions. They all run on
// the job's thread, in order, so one folder's stream is finished and added to the disc
// before the next one's staging file is opened, while reading runs ahead into later folders.
struct StreamInProgress {
    explicit StreamInProgress(BackupHost& owner) : host(owner) {}

    BackupHost& host;
    std::unique_ptr<File> out;
    std::optional<StreamWriter> writer;  // once the staging file is open
    Status staging;  // the first failure to write the staging file; it ends the job
    std::vector<CatalogueFile> files;  // the files stored so far, for the catalogue
    std::string folder;                // the folder path as the stream's header stores it
    bool isProtected = false;
    // Sealed streams: the stream's id, its folder record's place and the file records written.
    SealId id{};
    std::uint64_t folderRecordAt = 0;
    std::uint32_t records = 0;
};
using SharedStream = std::shared_ptr<StreamInProgress>;

// What seals one file of a sealed stream.
struct FileSeal {
    std::shared_ptr<const BackupKey> key;
    SealId stream{};
    SealId file = NewSealId();
};

// A run of pieces of one file, compressed on a worker thread.
// Its buffers are left uninitialised: they are always written before they are read.
struct Batch {
    void Reset() {
        size = 0;
        lengths.clear();
        status = Status::Ok();
        seal = nullptr;
    }
    void Encode() {
        const std::size_t pieces = (size + kPieceSize - 1) / kPieceSize;
        lengths.resize(pieces);
        if (seal && !encoded) encoded = std::make_unique_for_overwrite<std::uint8_t[]>(kEncodeCapacity);
        for (std::size_t i = 0; i < pieces && status.ok(); ++i) {
            const std::size_t at = i * kPieceSize;
            const int n = static_cast<int>(std::min<std::size_t>(kPieceSize, size - at));
            std::uint8_t* chunk = output.get() + i * kEncodeCapacity;
            if (!seal) {
                status = EncodeChunk(input.get() + at, n, chunk, lengths[i]);
                continue;
            }
            // Sealed after compression: the encoded chunk under the chunk's own context.
            int length = 0;
            status = EncodeChunk(input.get() + at, n, encoded.get(), length);
            const auto index = static_cast<std::uint32_t>(firstChunk + i);
            if (status.ok())
                seal->key->Seal(encoded.get(), static_cast<std::size_t>(length),
                                ChunkContext(seal->key->parameters(), seal->stream, seal->file, index), chunk);
            lengths[i] = length + static_cast<int>(kSealOverhead);
        }
    }

    static constexpr std::size_t kPieces = kReadBlock / kPieceSize;
    std::unique_ptr<std::uint8_t[]> input = std::make_unique_for_overwrite<std::uint8_t[]>(kReadBlock);
    std::size_t size = 0;  // bytes of input in use
    std::unique_ptr<std::uint8_t[]> output = std::make_unique_for_overwrite<std::uint8_t[]>(kPieces * kEncodeCapacity);
    std::vector<int> lengths;
    Status status;
    // Set for a sealed stream: where the batch's chunks belong.
    const FileSeal* seal = nullptr;
    std::uint64_t firstChunk = 0;  // the file's chunk index of the batch's first chunk
    std::unique_ptr<std::uint8_t[]> encoded;  // one encoded chunk before it is sealed
};

// What the file's last step needs to know of the steps before it.
struct FileInProgress {
    Status problem;  // why the file has to be left out, once known
    bool changed = false;  // its size or change time moved while it was read
    // For the catalogue; a sealed file's entry shows only what its record shows unsealed.
    CatalogueFile entry;  // its size grows with every batch stored
    ContentHash content;  // of the bytes stored
    std::optional<FileSeal> seal;  // a sealed stream's file
    std::string name;
    FileInfo opened;
};

// Whether the stream's staging file is open and has taken every write so far.
bool Writable(const StreamInProgress& stream) { return stream.writer && stream.staging.ok(); }

// Writes a batch's chunks into the file's record; a stop takes effect before the next batch.
void WriteBatch(StreamInProgress& stream, FileInProgress& file, const Batch& batch) {
    BackupHost& host = stream.host;
    if (!Writable(stream) || !file.problem.ok() || Cancelled(host)) return;
    if (!batch.status.ok()) {
        file.problem = batch.status;
        return;
    }
    for (std::size_t i = 0; i < batch.lengths.size() && stream.staging.ok(); ++i) {
        stream.staging = stream.writer->WriteChunk(batch.output.get() + i * kEncodeCapacity, batch.lengths[i]);
        host.bytesRead += std::min<std::uint64_t>(kPieceSize, batch.size - i * kPieceSize);
        host.bytesWritten += static_cast<std::uint64_t>(batch.lengths[i]);
    }
    if (!file.seal) {
        file.content.Update(batch.input.get(), batch.size);
        file.entry.size += batch.size;
    }
    host.ShowCounters(host.bytesRead, host.bytesWritten);
}

// Ends the file's record. A file that could not be read or stored whole leaves no trace in
// the stream and is listed in host.leftOut; one that changed while it was read is kept as read
// and listed too. On a stop the record keeps the chunks written so far; the stream never
// reaches a disc.
void EndRecord(StreamInProgress& stream, FileInProgress& file, const std::string& path) {
    if (!Writable(stream)) return;
    if (!file.problem.ok()) {
        LeaveOut(stream.host, path, file.problem.message());
        stream.staging = stream.writer->AbandonFile();
        return;
    }
    const std::uint64_t dataSize = stream.writer->currentDataSize();
    Status ended = stream.writer->EndFile();
    if (ended.code() == Status::Code::TooLarge) {
        LeaveOut(stream.host, path, ended.message());
        return;
    }
    std::string sealedName;
    if (ended.ok() && file.seal) {
        // Sealed once its size is known, so nothing can be cut from or added to its chunks.
        const FileSeal& seal = *file.seal;
        sealedName = SealRecordName(*seal.key, seal.stream, ++stream.records, static_cast<std::uint32_t>(dataSize),
                                    seal.file, file.opened.created, file.opened.modified, file.name);
        ended = stream.writer->Patch(stream.writer->nameStart(), sealedName.data(), sealedName.size());
    }
    stream.staging = ended;
    if (!ended.ok()) return;
    // A sealed file's entry shows what its record shows: the sealed name, and no times, size or
    // checksum of its content, which its seals stand for.
    if (file.seal) file.entry.name = std::move(sealedName);
    else file.entry.checksum = file.content.Digest();
    stream.files.push_back(std::move(file.entry));
    if (file.changed) {
        LeaveOut(stream.host, path, "changed while it was read");
        ++stream.host.changedWhileRead;
    }
}

// Reads one file in batches to its end, and hands them to the pipeline; its record is written as
// the batches come back. Reading runs ahead of writing by at most the pipeline's budget. The end
// is where reading ends, not the size the file had when it was opened: files of /proc and of
// sources mounted through FUSE (phones, cameras) say they are empty and hold data.
void ArchiveFile(ArchiveContext& c, Recycler<Batch>& batches, const SharedStream& stream, const std::string& path,
                 const FolderEntry& entry) {
    BackupHost& host = c.host;
    std::unique_ptr<File> in;
    FileInfo opened;
    Status source = host.files->OpenSource(path, c.sourceRoot, in);
    if (source.ok()) source = in->Examine(opened);
    if (!source.ok()) {
        c.pipeline.Then([&host, path, source] { LeaveOut(host, path, source.message()); });
        return;
    }
    auto file = std::make_shared<FileInProgress>();
    if (c.key) file->seal = FileSeal{c.key, stream->id};
    file->name = entry.name;
    file->opened = opened;
    c.pipeline.Then([stream, file] {
        ++stream->host.filesDone;
        if (!Writable(*stream)) return;
        // A sealed record holds room for its sealed name, and its times only there.
        const FileInfo& info = file->opened;
        if (file->seal)
            stream->staging = stream->writer->BeginSealedFile(SealedNameLength(file->name), info.size);
        else
            stream->staging = stream->writer->BeginFile(file->name, info.created, info.modified, info.size);
        if (!file->seal) file->entry = {file->name, stream->writer->recordOffset(), 0, info.created, info.modified, {}};
        else file->entry.recordOffset = stream->writer->recordOffset();
    });
    std::uint64_t chunks = 0;
    while (!Cancelled(host) && stream->staging.ok()) {
        Batch* batch = batches.Take();
        const std::size_t wanted = kReadBlock;
        source = in->ReadFull(batch->input.get(), wanted, batch->size);
        if (!source.ok() || batch->size == 0) {
            batches.Give(batch);
            break;
        }
        if (file->seal) {
            batch->seal = &*file->seal;
            batch->firstChunk = chunks;
            chunks += (batch->size + kPieceSize - 1) / kPieceSize;
        }
        const bool last = batch->size < wanted;
        c.pipeline.Submit([batch] { batch->Encode(); }, [stream, file, batch, &batches] {
            WriteBatch(*stream, *file, *batch);
            batches.Give(batch);
        });
        if (last) break;
    }
    FileInfo after;
    if (source.ok()) source = in->Examine(after);
    const bool changed = after.size != opened.size || after.changed != opened.changed;
    in->Close();
    c.pipeline.Then([stream, file, source, path, changed] {
        if (!source.ok() && file->problem.ok()) file->problem = source;
        file->changed = changed;
        EndRecord(*stream, *file, path);
    });
}

// Tells the user why the backup cannot go on and stops it as a failure.
void StopOnFailure(ArchiveContext& c, const std::string& why) {
    c.host.Ask({why, MessageIcon::Warning, MessageButtons::Ok});
    c.failed = true;
    c.host.cancelRequested = 1;
}

// The checksum of a staged file's bytes.
Status ChecksumOfFile(FileSystem& files, const std::string& path, Digest128& digest) {
    std::unique_ptr<File> in;
    Status s = files.OpenRead(path, in);
    if (!s.ok()) return s;
    ContentHash hash;
    std::vector<unsigned char> buffer(kReadBlock);
    for (;;) {
        std::size_t got = 0;
        s = in->Read(buffer.data(), buffer.size(), got);
        if (!s.ok() || got == 0) break;
        hash.Update(buffer.data(), got);
    }
    in->Close();
    digest = hash.Digest();
    return s;
}

// Adds the staged stream to the image; on a full disc records it, with the catalogue, and goes
// on with the next. True when the stream reached a disc.
bool AddToDisc(ArchiveContext& c, const StagedFile& staged, const std::string& folderPath) {
    BackupHost& host = c.host;
    Status s = c.joliet.AddData(staged, false);
    if (s.ok()) return true;
    if (s.code() == Status::Code::TooLarge) {
        LeaveOut(host, folderPath, "its files do not fit on one disc (" + s.message() + ")");
        return false;
    }
    if (s.code() != Status::Code::NoSpace) {
        StopOnFailure(c, "The folder " + folderPath + " could not be added to the disc: " + s.message());
        return false;
    }
    if (!AddCatalogueToDisc(c, true)) return false;
    if (const DiscStep next = ContinueOnNewDisc(host, c.joliet, c.discMaster, c.recorder); next != DiscStep::Done) {
        c.failed = next == DiscStep::Failed;
        host.cancelRequested = 1;
        return false;
    }
    ++c.disc;
    s = c.joliet.AddData(staged, false);
    if (!s.ok()) LeaveOut(host, folderPath, "its files do not fit on one disc (" + s.message() + ")");
    return s.ok();
}

// Opens the staging file and writes the folder header; a stop before then leaves it unopened.
// A sealed stream's header holds the key parameters, and its folder record room for the
// sealed folder path, sealed when the stream ends.
void OpenStream(const ArchiveContext& c, StreamInProgress& stream, const std::string& stagingPath,
                const std::string& storedFolder, const std::string& storedPassword) {
    if (Cancelled(stream.host)) return;
    stream.staging = stream.host.files->OpenWrite(stagingPath, stream.out);
    if (!stream.staging.ok()) return;
    stream.writer.emplace(*stream.out);
    if (!c.key) {
        stream.staging = stream.writer->WriteFolderHeader(storedFolder, storedPassword);
        return;
    }
    stream.staging = stream.writer->WriteFolderHeader(StoredKeyParameters(c.key->parameters()), kSealedMarker);
    if (!stream.staging.ok()) return;
    stream.folderRecordAt = stream.writer->position() + 4;
    stream.staging = stream.writer->BeginSealedFile(SealedFolderRecordLength(c.backupName, storedFolder), 0);
    if (stream.staging.ok()) stream.staging = stream.writer->EndFile();
}

// Seals a sealed stream's folder record: the stream number it will have and its record count.
Status SealFolder(const ArchiveContext& c, StreamInProgress& stream, const std::string& storedFolder) {
    const std::string record = SealFolderRecord(*c.key, stream.id, c.backupName, c.sequence, stream.records, storedFolder);
    return stream.writer->Patch(stream.folderRecordAt, record.data(), record.size());
}

// Closes the staging file and, unless the job stopped, adds the stream to the disc; then
// deletes the staging file and moves the progress bar.
void FinishStream(ArchiveContext& c, StreamInProgress& stream, const std::string& folderPath,
                  const std::string& stagingPath) {
    BackupHost& host = c.host;
    Status s = stream.staging;
    if (stream.out) {
        if (s.ok() && c.key) s = SealFolder(c, stream, StoredFolderPath(c.sourceRoot, folderPath));
        if (s.ok()) s = stream.writer->Finish();
        Status closed = stream.out->Close();
        if (s.ok()) s = closed;
    }
    CatalogueStream entry{MakeStreamName(c.backupName, c.sequence), static_cast<std::uint32_t>(c.sequence), 0,
                          stream.folder, stream.isProtected, 0, {}};
    if (s.ok() && !Cancelled(host)) {
        entry.size = stream.writer->position();
        if (!stream.writer->Checksum(entry.checksum)) s = ChecksumOfFile(*host.files, stagingPath, entry.checksum);
    }
    if (!s.ok()) {
        StopOnFailure(c, "The backup cannot go on: " + s.message());
    } else if (!Cancelled(host)) {
        // Room is kept for the catalogue as it will be with this stream: the same on this disc
        // and on a fresh one.
        const StagedFile staged{entry.name, stagingPath, false, false, c.catalogue.SizeWith(entry, stream.files)};
        // The number is only used up when the stream reaches a disc, so numbers never skip.
        if (AddToDisc(c, staged, folderPath)) {
            entry.disc = c.disc;
            c.catalogue.AddStream(entry, stream.files);
            ++c.sequence;
        }
    }
    host.files->RemoveFile(stagingPath);

    if (host.filesDone > 0 && host.fileCount > 0) {
        const auto percent = static_cast<int>(std::min<std::uint64_t>(100, host.filesDone * 100 / host.fileCount));
        if (percent > host.Progress()) host.SetProgress(percent);
    }
}

// Hands the folder's stream to the pipeline, from opening its staging file to adding it to
// the disc, and collects its sub-folders.
void SubmitStream(ArchiveContext& c, Recycler<Batch>& batches, const std::string& folderPath, const std::string& stagingPath,
                  const std::string& storedPassword, const std::vector<FolderEntry>& entries,
                  std::vector<std::string>& subFolders) {
    BackupHost& host = c.host;
    auto stream = std::make_shared<StreamInProgress>(host);
    const std::string folder = StoredFolderPath(c.sourceRoot, folderPath);
    // A sealed stream's header holds the key's parameters in place of its folder.
    stream->folder = c.key ? StoredKeyParameters(c.key->parameters()) : folder;
    stream->isProtected = !IsNoPassword(storedPassword);
    if (c.key) stream->id = NewSealId();
    c.pipeline.Then([&c, stream, stagingPath, folder, storedPassword] {
        OpenStream(c, *stream, stagingPath, folder, storedPassword);
    });
    std::vector<std::string> storedNames;
    for (const auto& entry : entries) {
        if (!stream->staging.ok() || Cancelled(host)) break;
        const std::string path = JoinPath(folderPath, entry.name);
        // Anything but a folder goes to ArchiveFile: opening it as a source says why a link,
        // a FIFO, a socket or a device is left out.
        if (std::string why = UnstorableName(c, path, entry); !why.empty()) {
            c.pipeline.Then([&host, path, why] { LeaveOut(host, path, why); });  // a folder too: a backslash would split it on restore
            continue;
        }
        storedNames.push_back(entry.name);
        if (entry.info.isFolder())
            subFolders.push_back(path);
        else
            ArchiveFile(c, batches, stream, path, entry);
    }
    c.pipeline.Then([&host, folderPath, storedNames] { NoteNamesAsOne(host, folderPath, storedNames); });
    c.pipeline.Then([&c, stream, folderPath, stagingPath] { FinishStream(c, *stream, folderPath, stagingPath); });
}

// Archives the folder and its sub-folders. Reading runs ahead of the pipeline's completions,
// so a stop found here takes effect once the completions before it have run.
void ArchiveTree(ArchiveContext& c, Recycler<Batch>& batches, const std::string& folderPath) {
    BackupHost& host = c.host;
    std::string storedPassword;
    if (c.key) {
        storedPassword = kSealedMarker;
    } else if (!PadPassword(host.Password(), storedPassword)) {
        c.pipeline.Drain();
        host.Ask({"The password is longer than 16 bytes.", MessageIcon::Warning, MessageButtons::Ok});
        host.cancelRequested = 1;
        return;
    }
    c.pipeline.Then([&host, folderPath] { host.SetStatus(folderPath); });

    std::vector<FolderEntry> entries;
    Status listed = host.files->ListFolder(folderPath, entries);
    if (!listed.ok()) {
        c.pipeline.Then([&host, folderPath, listed] { LeaveOut(host, folderPath, listed.message()); });
        return;
    }
    const bool isRoot = folderPath == c.sourceRoot;
    if (entries.empty() && isRoot) return;  // an empty drive yields no stream at all
    if (StoredFolderPath(c.sourceRoot, folderPath).size() > static_cast<std::size_t>(kMaxStoredText)) {
        c.pipeline.Then([&host, folderPath] { LeaveOut(host, folderPath, "its path is too long to be stored"); });
        return;
    }
    if (Status made = host.tempFolder.Create(); !made.ok()) {
        c.pipeline.Drain();
        LeaveOut(host, folderPath, made.message());
        c.failed = true;
        host.cancelRequested = 1;
        return;
    }

    const std::string stagingPath = host.tempFolder.path() + "/corvane.mcb";
    if (host.stagedFiles.empty() || host.stagedFiles.back() != stagingPath) host.stagedFiles.push_back(stagingPath);
    std::vector<std::string> subFolders;
    SubmitStream(c, batches, folderPath, stagingPath, storedPassword, entries, subFolders);
    for (const auto& sub : subFolders) {
        if (Cancelled(host)) break;
        ArchiveTree(c, batches, sub);
    }
}

}  // namespace

bool AddCatalogueToDisc(ArchiveContext& c, bool moreDiscsFollow) {
    BackupHost& host = c.host;
    Status s = host.tempFolder.Create();
    const std::string path = host.tempFolder.path() + "/catalogue";
    std::unique_ptr<File> out;
    if (s.ok()) s = host.files->OpenWrite(path, out);
    if (s.ok()) {
        s = c.catalogue.WriteTo(*out, c.disc, moreDiscsFollow);
        Status closed = out->Close();
        if (s.ok()) s = closed;
    }
    if (s.ok()) s = c.joliet.AddData({CatalogueFileName(c.backupName), path}, false);
    host.files->RemoveFile(path);
    if (!s.ok())
        StopOnFailure(c, "The catalogue of the backup could not be added to disc " + std::to_string(c.disc) + ": " +
                             s.message());
    return s.ok();
}

std::string StoredFolderPath(const std::string& sourceRoot, const std::string& folderPath) {
    const std::size_t rootLength = std::min(sourceRoot.size(), folderPath.size());
    return StoredFolderPathOf(std::string_view(folderPath).substr(rootLength));
}

void ArchiveFolder(ArchiveContext& c, const std::string& folderPath) {
    WaitCursor busy(c.host);
    Recycler<Batch> batches;
    ArchiveTree(c, batches, folderPath);
    c.pipeline.Drain();  // before the batches go
}

}  // namespace corvane
