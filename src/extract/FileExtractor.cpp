#include "extract/FileExtractor.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <vector>

#include "archive/BlockCodec.h"
#include "archive/ChunkPipeline.h"
#include "archive/ContentHash.h"
#include "archive/Recycler.h"
#include "archive/StreamFormat.h"
#include "extract/NamesGiven.h"
#include "extract/StoredPath.h"
#include "platform/TextCodec.h"

namespace corvane {

namespace {

constexpr const char* kExtractError = "There was an error extracting the file!";
constexpr const char* kRefused = "it names a place outside the destination folder";
constexpr const char* kRestDamaged = "the rest of the stream is damaged";
constexpr const char* kContentMismatch = "its content does not match the checksum the backup recorded for it";

class WaitCursor {
  public:
    explicit WaitCursor(ExtractHost& host) : host_(host) { host_.BeginWaitCursor(); }
    ~WaitCursor() { host_.EndWaitCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

  private:
    ExtractHost& host_;
};

void Tell(ExtractHost& host, std::string text, MessageIcon icon) {
    Message message;
    message.text = std::move(text);
    message.icon = icon;
    host.Ask(message);
}

// Reads the destination, which is remembered before any check.
std::string Prepare(ExtractHost& host) {
    std::string destination = host.Destination();
    while (!destination.empty() && std::isspace(static_cast<unsigned char>(destination.back())))
        destination.pop_back();
    if (host.lastDestination) *host.lastDestination = destination;
    return destination;
}

void ReportNoDestination(ExtractHost& host) {
    Tell(host, kNoDestination, MessageIcon::Error);
    host.SetStatus("Error");
}

// Why an entry failed, for the list of what was not restored: a chunk that does not decode
// gets the plain message, a failure of the file layer (a read error, a full disk) says what
// failed.
std::string ReasonOf(const Status& cause) {
    if (cause.code() == Status::Code::Corrupt) return kExtractError;
    return cause.message();
}

// Names what was not restored, and sets the status line.
void ReportNotRestored(ExtractHost& host, const std::string& shown, const std::string& reason) {
    host.NotRestored(shown, reason);
    host.SetStatus("Error");
}

// A target exists when there is an entry of its name, also a link that leads nowhere.
bool Exists(ExtractHost& host, const std::string& path, FileInfo& info) {
    return host.files->Stat(path, info).ok();
}

// Moves the progress bar when the percentage has grown since the last move.
class Progress {
  public:
    Progress(ExtractHost& host, std::uint64_t before, std::uint64_t denominator)
        : host_(host), before_(before), denominator_(denominator) {}

    void Update(std::uint64_t consumed) {
        const std::uint64_t numerator = before_ + consumed;
        if (numerator == 0 || denominator_ == 0) return;
        const auto percent = static_cast<int>(numerator * 100 / denominator_);
        if (percent > lastPercent_) {
            host_.SetProgress(percent);
            lastPercent_ = percent;
        }
    }

    // The bar stands at 100 after every file.
    void Finish() {
        if (lastPercent_ < 100) host_.SetProgress(100);
        lastPercent_ = 100;
    }

  private:
    ExtractHost& host_;
    std::uint64_t before_;  // counted before this file's chunk list
    std::uint64_t denominator_;
    int lastPercent_ = 0;
};

constexpr int kBatchChunks = 16;  // chunks decoded together on one thread
constexpr int kStepsPerWorker = 12;  // a small file takes three steps: its start, one batch, its end

// A run of chunks of one record, decoded on a worker thread into one block of restored bytes.
// Its buffers are left uninitialised: they are always written before they are read.
struct DecodeBatch {
    void Reset() {
        count = 0;
        filled = 0;
        status = Status::Ok();
    }
    void Decode() {
        for (int i = 0; i < count && status.ok(); ++i) {
            int length = 0;
            // Piece i starts at most i * kDecodeCapacity in: it has kDecodeCapacity bytes of room.
            status = DecodeChunk(chunks.get() + i * kMaxChunkLength, chunkLengths[i], pieces.get() + filled, length);
            filled += static_cast<std::size_t>(length);
        }
    }

    std::unique_ptr<std::uint8_t[]> chunks = std::make_unique_for_overwrite<std::uint8_t[]>(kBatchChunks * kMaxChunkLength);
    std::unique_ptr<std::uint8_t[]> pieces = std::make_unique_for_overwrite<std::uint8_t[]>(kBatchChunks * kDecodeCapacity);
    int chunkLengths[kBatchChunks] = {};
    int count = 0;
    std::size_t filled = 0;           // restored bytes in pieces
    std::uint64_t consumedAfter = 0;  // the record's bytes consumed once this batch was read
    Status status;
};

// One folder stream, shared by its steps' completions.
struct StreamInProgress {
    std::string shownFolder;  // as the status line shows it: "Docs\2008"
    std::string top;          // the destination
    std::string relative;     // the stream's folder below it
    std::string folder;       // where its files go
    bool folderSubstituted = false;
    OverwriteAnswer* stickyAnswer = nullptr;  // the run's: a "to all" answer holds for the rest of it
    Status folderFailure;         // the folder could not be made: none of its files can be
    bool sealed = false;          // encrypted: the catalogue's names of its files are sealed
    int notRestored = 0;
    bool begun = false;  // it was not cancelled before its turn came

    // Whether a record whose turn has come is still dealt with.
    bool GoesOn(const ExtractHost& host) const { return begun && !host.cancelRequested; }
    // The stream's folder in messages: the root is "\".
    std::string shownName() const { return shownFolder.empty() ? std::string("\\") : shownFolder; }
};

// One file being restored, shared by its steps' completions.
struct FileInProgress {
    FileInProgress(ExtractHost& host, std::uint64_t before, std::uint64_t denominator)
        : progress(host, before, denominator) {}

    std::string shown;           // as stored, for the status line and messages
    std::string top;             // the destination, which the target never leaves
    std::string folder;          // where the target goes
    std::string folderRelative;  // folder below top
    std::string name;            // the target's name in folder
    std::string relative;        // the target below top
    std::string target;
    std::string written;  // target, or the hidden name beside it while replacing
    bool substituted = false;
    bool replacing = false;
    bool skipped = false;  // not to be restored: the reader passes over its chunks
    std::int64_t modified = 0;
    std::unique_ptr<File> out;  // open from its start to its end
    Status failure;             // the first failure to decode, read or write
    const Digest128* expected = nullptr;    // the catalogue's checksum of its content
    std::unique_ptr<ContentHash> content;   // of the bytes written, while one is expected
    Progress progress;
};
using SharedFile = std::shared_ptr<FileInProgress>;

using ListedRecords = std::map<std::uint64_t, ListedFile>;
// Gives the file its local name in its folder.
void SetName(FileInProgress& file, const std::string& name) {
    file.name = name;
    file.relative = file.folderRelative.empty() ? name : file.folderRelative + "/" + name;
    file.target = PathUnder(file.folder, name);
}

// What the catalogue says of a stream, or null when no catalogue lists it.
const ListedStream* ListedStreamOf(const ExtractHost& host, const std::string& streamPath) {
    if (!host.catalogue) return nullptr;
    const auto found = host.catalogue->find(std::string(FileNameOf(streamPath)));
    return found == host.catalogue->end() ? nullptr : &found->second;
}

// The catalogue's entry of a record, or null.
const ListedFile* ListedFileAt(const ListedRecords* listed, std::uint64_t recordOffset) {
    if (!listed) return nullptr;
    const auto found = listed->find(recordOffset);
    return found == listed->end() ? nullptr : &found->second;
}

// Makes the file's content checked when the catalogue holds a checksum of its record.
void ExpectChecksum(FileInProgress& file, const ListedFile* listed) {
    if (!listed || !listed->hasChecksum) return;
    file.expected = &listed->checksum;
    file.content = std::make_unique<ContentHash>();
}

enum class Outcome { Extracted, Cancelled, Failed };

// Where a file being restored over an existing one is written until it is complete: beside
// it, under a hidden name, so that the old file stays whole if the restore fails or stops.
std::string ReplacementPath(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    return folder + ".corvane-restoring-" + std::to_string(::getpid());
}

// Opens the file's target, or the hidden name beside it while replacing; where the folder
// takes no new name (not writable), the target is replaced in place. Links below the
// destination are never followed.
Status OpenTarget(ExtractHost& host, FileInProgress& file) {
    if (file.replacing) {
        const std::string hidden = ReplacementPath(file.relative);
        if (host.files->OpenWriteBelow(file.top, hidden, file.out).ok()) {
            file.written = PathUnder(file.top, hidden);
            return Status::Ok();
        }
        file.replacing = false;
    }
    file.written = file.target;
    return host.files->OpenWriteBelow(file.top, file.relative, file.out);
}

// Whether a failure to create an entry may be the destination refusing its name, as FAT and
// exFAT refuse "why?.txt": it says the name is invalid or, through FUSE, that there is no
// such entry.
bool MayBeRefusedName(const Status& failure) {
    return failure.code() == Status::Code::InvalidArgument || failure.code() == Status::Code::NotFound;
}

// A file whose name the destination refuses is created once more under a name those file
// systems take. The first failure stands when that does not help.
Status OpenUnderPortableName(ExtractHost& host, NamesGiven& names, FileInProgress& file, const Status& failure) {
    const std::string portable = PortableName(file.name);
    if (!MayBeRefusedName(failure) || file.replacing || portable == file.name) return failure;
    SetName(file, names.GiveUnused(*host.files, file.folder, portable));
    if (!OpenTarget(host, file).ok()) return failure;
    file.substituted = true;
    return Status::Ok();
}

enum class Start { Write, PassOver, Failed };

// Gives the file its name for good: a name an earlier file of the run has in its folder is
// numbered. Decides whether the target is written: never over an entry this run wrote (the
// file takes a numbered name beside it) nor over a folder, and over another entry (a file, a
// link) only as the overwrite question, asked by ask, allows. Opens the target; failures are
// named.
template <typename Ask>
Start StartTarget(ExtractHost& host, NamesGiven& names, FileInProgress& file, Ask ask) {
    const std::string given = names.Give(file.folder, file.name);
    if (given != file.name) {
        SetName(file, given);
        file.substituted = true;
    }
    FileInfo info;
    file.replacing = Exists(host, file.target, info);
    if (file.replacing && names.FindsWritten(*host.files, file.folder, file.name)) {
        SetName(file, names.GiveUnused(*host.files, file.folder, file.name));
        file.substituted = true;
        file.replacing = false;
    }
    if (file.replacing && info.isFolder()) {
        ReportNotRestored(host, file.shown, "Cannot create " + file.target + ": a folder has that name");
        return Start::Failed;
    }
    if (file.replacing && !ask()) return Start::PassOver;
    Status opened = OpenTarget(host, file);
    if (!opened.ok()) opened = OpenUnderPortableName(host, names, file, opened);
    if (opened.ok()) return Start::Write;
    ReportNotRestored(host, file.shown, ReasonOf(opened));
    return Start::Failed;
}

// Writes a decoded batch; a failure or a stop takes effect before the next batch.
void WriteBatch(ExtractHost& host, FileInProgress& file, const DecodeBatch& batch) {
    if (!file.out || !file.failure.ok() || host.cancelRequested) return;
    file.failure = batch.status;
    if (file.failure.ok() && batch.filled > 0) file.failure = file.out->Write(batch.pieces.get(), batch.filled);
    if (file.failure.ok() && file.content) file.content->Update(batch.pieces.get(), batch.filled);
    file.progress.Update(batch.consumedAfter);
}

// Ends the file, names it when it was not restored and sets the status. A target that failed
// part way, whose content does not match the catalogue, or was cancelled is deleted, and a file it was to replace is left as it was; a
// finished one gets its stored last-write time back.
Outcome EndTarget(ExtractHost& host, NamesGiven& names, FileInProgress& file) {
    Status s = file.failure;
    file.progress.Finish();
    Status closed = file.out->Close();
    if (s.ok()) s = closed;
    const bool mismatch = s.ok() && !host.cancelRequested && file.content && file.content->Digest() != *file.expected;
    if (s.ok() && !mismatch && !host.cancelRequested && file.replacing) s = host.files->Rename(file.written, file.target);
    if (!s.ok() || mismatch) {
        host.files->RemoveFile(file.written);
        ReportNotRestored(host, file.shown, mismatch ? kContentMismatch : ReasonOf(s));
        return Outcome::Failed;
    }
    if (host.cancelRequested) {
        host.files->RemoveFile(file.written);
        host.SetStatus("Cancelled");
        return Outcome::Cancelled;
    }
    // The content is restored either way; a file system that keeps no times is no failure.
    host.files->SetModifiedTime(file.target, file.modified);
    names.Written(file.folder, file.name);
    host.Restored(file.target);
    if (file.substituted) host.RestoredUnder(file.shown, file.target);
    host.SetStatus("Extracted");
    return Outcome::Extracted;
}

// Whether an existing target of a folder stream is replaced: by the "to all" answer given
// earlier in the run, else by asking. Cancel also stops the run.
bool MayOverwrite(ExtractHost& host, const std::string& target, OverwriteAnswer& stickyAnswer) {
    if (stickyAnswer == OverwriteAnswer::NoToAll) return false;
    if (stickyAnswer == OverwriteAnswer::YesToAll) return true;
    stickyAnswer = host.AskOverwrite(target);
    if (stickyAnswer == OverwriteAnswer::Cancel) host.cancelRequested = 1;
    return stickyAnswer == OverwriteAnswer::Yes || stickyAnswer == OverwriteAnswer::YesToAll;
}

// Reads the record's chunks and hands them to the pipeline in batches, to be decoded on a
// worker and written in order; stops early once the file is passed over or the run
// cancelled. A chunk that cannot be read fails the file: the reader then goes on at the
// next record, which DataSize places, whatever the file's own fate.
void SubmitChunks(ChunkPipeline& pipeline, Recycler<DecodeBatch>& batches, ExtractHost& host, StreamReader& reader,
                  const SharedFile& file) {
    Status read;
    bool done = false;
    while (!done && read.ok() && !file->skipped && !host.cancelRequested) {
        DecodeBatch* batch = batches.Take();
        while (batch->count < kBatchChunks) {
            read = reader.NextChunk(batch->chunks.get() + batch->count * kMaxChunkLength,
                                    batch->chunkLengths[batch->count], done);
            if (!read.ok() || done) break;
            ++batch->count;
        }
        batch->consumedAfter = reader.consumed();
        if (batch->count == 0) {
            batches.Give(batch);
            break;
        }
        pipeline.Submit([batch] { batch->Decode(); }, [&host, &batches, file, batch] {
            WriteBatch(host, *file, *batch);
            batches.Give(batch);
        });
    }
    if (!read.ok()) pipeline.Then([file, read] { if (file->failure.ok()) file->failure = read; });
}

// Names a file that is not restored, in its turn.
void NameInTurn(ChunkPipeline& pipeline, ExtractHost& host, const std::shared_ptr<StreamInProgress>& stream,
                const std::string& shown, const std::string& reason) {
    pipeline.Then([&host, stream, shown, reason] {
        if (!stream->GoesOn(host)) return;
        ++stream->notRestored;
        ReportNotRestored(host, shown, reason);
    });
}

// A file the catalogue lists, as messages name it: an encrypted one by its place, since only
// its record holds its name.
std::string ShownListedFile(const StreamInProgress& stream, const ListedFile& file) {
    return stream.shownFolder + "\\" +
           (stream.sealed ? "(encrypted file " + std::to_string(file.index) + ")" : ShownStoredText(file.storedName));
}

// Names the files the catalogue lists after the record at `after` and before the one at
// `before`, which the stream does not hold where they were recorded.
void NameListedBetween(ChunkPipeline& pipeline, ExtractHost& host, const std::shared_ptr<StreamInProgress>& stream,
                       const ListedRecords& listed, std::uint64_t after, std::uint64_t before,
                       const std::string& reason) {
    for (auto file = listed.upper_bound(after); file != listed.end() && file->first < before; ++file)
        NameInTurn(pipeline, host, stream, ShownListedFile(*stream, file->second), reason);
}

// Goes on, after damage, at the first record the catalogue lists after the one at `after`
// that can be read; each listed record that cannot is named, and `after` moves past it.
// False when none is left.
bool ResumeAtListedRecord(ChunkPipeline& pipeline, ExtractHost& host, StreamReader& reader,
                          const std::shared_ptr<StreamInProgress>& stream, const ListedRecords& listed,
                          std::uint64_t& after, FileRecord& record) {
    for (auto file = listed.upper_bound(after); file != listed.end(); ++file) {
        Status s = reader.EnterListedRecord(file->first, file->second.storedName, file->second.index, record);
        if (s.ok()) return true;
        NameInTurn(pipeline, host, stream, ShownListedFile(*stream, file->second),
                   "its record could not be read: " + s.message());
        after = file->first;
    }
    return false;
}

// Hands every record of the stream to the pipeline: its start (status line, overwrite
// question, opening the target), its chunks and its end. A record that fails is given up
// alone. Where the layout cannot be read on, reading goes on at the next record the catalogue
// lists (without one, the stream ends there); every listed file the stream does not yield is
// named. startAtListed: the header could not be read, so the first record is found by its place.
void SubmitRecords(ChunkPipeline& pipeline, Recycler<DecodeBatch>& batches, NamesGiven& names, ExtractHost& host,
                   StreamReader& reader, const std::shared_ptr<StreamInProgress>& stream, const ListedRecords* listed,
                   bool startAtListed) {
    std::uint64_t streamConsumed = 0;
    std::uint64_t lastOffset = 0;  // the record offset of the last record read
    FileRecord record;
    bool resume = startAtListed && listed;
    // Reading runs ahead of the completions, which may stop the run: the reader goes on
    // until it sees that, and the completions pass over what it read meanwhile.
    while (!host.cancelRequested) {
        bool found = false;
        Status s;
        if (!resume) s = reader.NextRecord(record, found);
        if (listed && (resume || !s.ok() || (!found && reader.endedEarly()))) {
            resume = false;
            if (!ResumeAtListedRecord(pipeline, host, reader, stream, *listed, lastOffset, record)) return;
            found = true;
        } else if (!s.ok()) {
            NameInTurn(pipeline, host, stream, stream->shownName(),
                       "the rest of the stream could not be read: " + s.message());
            return;
        }
        if (!found) break;
        if (listed)
            NameListedBetween(pipeline, host, stream, *listed, lastOffset, record.recordOffset,
                              "its record is not in the stream where the catalogue places it");
        lastOffset = record.recordOffset;
        auto file = std::make_shared<FileInProgress>(host, streamConsumed, reader.length());
        file->shown = stream->shownFolder + "\\" + ShownStoredText(record.fileName);
        std::string name;
        const NameUse use = StoredFileNameToLocal(record.fileName, name);
        // A name that is refused is passed over like a skipped file: the next record starts
        // after its chunk list.
        if (use == NameUse::Refused) {
            NameInTurn(pipeline, host, stream, file->shown, kRefused);
            continue;
        }
        file->top = stream->top;
        file->folder = stream->folder;
        file->folderRelative = stream->relative;
        file->substituted = use == NameUse::Substituted;
        SetName(*file, name);
        file->modified = record.modified;
        ExpectChecksum(*file, ListedFileAt(listed, record.recordOffset));
        // A file that may have to be asked about is decided before its chunks are read, once
        // every file before it is written. Its name is not final before its turn either.
        FileInfo existing;
        if (Exists(host, file->target, existing)) pipeline.Drain();
        pipeline.Then([&host, &names, stream, file] {
            file->skipped = !stream->GoesOn(host);
            if (file->skipped) return;
            // The stream's folder is known for good by now.
            file->folder = stream->folder;
            file->folderRelative = stream->relative;
            SetName(*file, file->name);
            host.SetStatus(file->shown);
            Start start = Start::Failed;
            if (stream->folderFailure.ok())
                start = StartTarget(host, names, *file,
                                    [&] { return MayOverwrite(host, file->target, *stream->stickyAnswer); });
            else
                ReportNotRestored(host, file->shown, ReasonOf(stream->folderFailure));
            file->skipped = start != Start::Write;
            if (start == Start::Failed) ++stream->notRestored;
        });
        SubmitChunks(pipeline, batches, host, reader, file);
        if (!file->skipped) streamConsumed += reader.consumed();
        pipeline.Then([&host, &names, stream, file] {
            if (file->out && EndTarget(host, names, *file) == Outcome::Failed) ++stream->notRestored;
        });
    }
    if (listed && !host.cancelRequested)
        NameListedBetween(pipeline, host, stream, *listed, lastOffset, ~std::uint64_t{0},
                          "the stream ends before its record (it was cut short)");
}

// Makes the stream's folders once more where the destination refused a name of theirs, each
// under a name FAT and exFAT take. The first failure stands when that does not help.
Status CreateUnderPortableNames(ExtractHost& host, StreamInProgress& stream, const Status& failure) {
    if (!MayBeRefusedName(failure)) return failure;
    std::string portable;
    ForEachStep(stream.relative, [&](const std::string&, const std::string& name) {
        portable += (portable.empty() ? "" : "/") + PortableName(name);
    });
    if (portable == stream.relative || !host.files->CreateFoldersBelow(stream.top, portable).ok()) return failure;
    stream.relative = portable;
    stream.folder = PathUnder(stream.top, portable);
    stream.folderSubstituted = true;
    return Status::Ok();
}

// The folders of relative below top, made or entered, are the run's: a file given one of
// their names later is numbered, and one spelled otherwise that the file system takes for one
// of them shares its names.
void ReachFolders(NamesGiven& names, FileSystem& files, const std::string& top, const std::string& relative) {
    names.FolderReached(files, top);
    std::string parent = top;
    ForEachStep(relative, [&](const std::string& path, const std::string& name) {
        names.FolderWritten(parent, name);
        parent = PathUnder(top, path);
        names.FolderReached(files, parent);
    });
}

}  // namespace

struct ExtractionRun::Parts {
    explicit Parts(int workers) : pipeline(workers, kStepsPerWorker * std::max(1, workers)) {}

    OverwriteAnswer stickyAnswer = OverwriteAnswer::No;  // of the folder streams' overwrite prompts
    Recycler<DecodeBatch> batches;  // outlives the pipeline, whose dropped steps hold batches
    NamesGiven names;               // by the whole run, in every folder it writes to
    ChunkPipeline pipeline;
};

ExtractionRun::ExtractionRun(ExtractHost& host)
    : host_(host), parts_(std::make_unique<Parts>(host.decodeWorkers)) {
    host_.files->KeepWalkedFolders(true);
}

ExtractionRun::~ExtractionRun() {
    Finish();
    host_.files->KeepWalkedFolders(false);
}

void ExtractionRun::Finish() { parts_->pipeline.Drain(); }

void ExtractionRun::FolderStream(const std::string& streamPath) {
    ExtractHost& host = host_;
    const std::string destination = Prepare(host);
    auto stream = std::make_shared<StreamInProgress>();
    stream->stickyAnswer = &parts_->stickyAnswer;
    parts_->pipeline.Then([&host, stream] {
        stream->begun = !host.cancelRequested;
        if (!stream->begun) return;
        host.BeginWaitCursor();
        host.ShowProgress();
    });
    // Steps that report why the stream is not restored at all; the last one ends the stream.
    auto stop = [&](std::function<void()> report) {
        parts_->pipeline.Then([&host, stream, report] {
            if (!stream->begun) return;
            report();
            host.EndWaitCursor();
        });
    };
    if (destination.empty()) return stop([&host] { ReportNoDestination(host); });
    const ListedStream* listed = ListedStreamOf(host, streamPath);
    // A stream that cannot be read at all: each file the catalogue lists in it is named.
    auto unreadable = [&](const Status& why) {
        stop([&host, streamPath, listed, why] {
            if (!listed || listed->sealed || listed->isProtected) return ReportNotRestored(host, streamPath, why.message());
            for (const auto& [offset, file] : listed->files)
                ReportNotRestored(host, ShownStoredFolder(listed->folderPath) + "\\" + ShownStoredText(file.storedName),
                                  "its stream could not be read: " + why.message());
        });
    };
    std::unique_ptr<File> in;
    Status s = host.files->OpenRead(streamPath, in);
    if (!s.ok()) return unreadable(s);
    StreamReader reader(*in, 1 << 16, host.keys);
    FolderHeader header;
    s = reader.ReadFolderHeader(header);
    // A plain stream's folder is the one its catalogue, guarded by a checksum, gives: a header
    // that cannot be read or says otherwise is passed over (the tree named the difference), and
    // the records are found by their places.
    const bool headerLost = listed && !listed->sealed && !header.sealed && !s.ok();
    if (listed && !listed->sealed && !header.sealed) {
        header.folderPath = listed->folderPath;
        s = Status::Ok();
    }
    if (!s.ok()) return unreadable(s);
    stream->shownFolder = ShownStoredFolder(header.folderPath);
    const NameUse use = StoredFolderToRelative(header.folderPath, stream->relative);
    if (use == NameUse::Refused) {
        return stop([&host, shown = ShownStoredText(header.folderPath)] { ReportNotRestored(host, shown, kRefused); });
    }
    stream->folderSubstituted = use == NameUse::Substituted;
    stream->sealed = header.sealed;
    stream->top = PathUnder(destination, "");
    stream->folder = PathUnder(destination, stream->relative);
    parts_->pipeline.Then([&host, &names = parts_->names, stream] {
        if (!stream->begun) return;
        // The destination itself may be reached through links: the user chose it.
        Status made = CreateDirectoryPath(*host.files, stream->top);
        const std::string placed = names.PlaceFolders(*host.files, stream->top, stream->relative);
        if (placed != stream->relative) {
            stream->relative = placed;
            stream->folder = PathUnder(stream->top, placed);
            stream->folderSubstituted = true;
        }
        if (made.ok()) made = host.files->CreateFoldersBelow(stream->top, stream->relative);
        if (!made.ok()) made = CreateUnderPortableNames(host, *stream, made);
        if (!made.ok()) {
            stream->folderFailure = made;
            return;
        }
        ReachFolders(names, *host.files, stream->top, stream->relative);
        if (stream->folderSubstituted) host.RestoredUnder(stream->shownFolder, stream->folder);
    });
    SubmitRecords(parts_->pipeline, parts_->batches, parts_->names, host, reader, stream,
                  listed ? &listed->files : nullptr, headerLost);
    // Streams end right after their last record; anything else there is damage that may hide
    // files, unless the catalogue tells which files the stream holds.
    parts_->pipeline.Then([&host, stream, endedEarly = reader.endedEarly() && !listed] {
        if (!stream->begun) return;
        if (!host.cancelRequested && endedEarly) {
            ++stream->notRestored;
            host.NotRestored(stream->shownName(), kRestDamaged);
        }
        // A folder that could not be made is named by its files; one without files by itself.
        if (!host.cancelRequested && !stream->folderFailure.ok() && stream->notRestored == 0) {
            ++stream->notRestored;
            host.NotRestored(stream->shownName(), ReasonOf(stream->folderFailure));
        }
        if (host.cancelRequested)
            host.SetStatus("Cancelled");
        else
            host.SetStatus(stream->notRestored == 0 ? "Extracted" : "Error");
        host.EndWaitCursor();
    });
}

int ExtractionRun::SingleFile(const std::string& streamPath, std::uint64_t recordOffset,
                              const std::string& fileName) {
    Finish();  // every host call below comes after those of the files before
    ExtractHost& host = host_;
    WaitCursor wait(host);
    host.ShowProgress();
    const std::string destination = Prepare(host);
    if (destination.empty()) {
        ReportNoDestination(host);
        return 1;
    }
    const std::string shown = ShownStoredText(fileName);
    std::string name;
    const NameUse use = StoredFileNameToLocal(fileName, name);
    if (use == NameUse::Refused) {
        ReportNotRestored(host, shown, kRefused);
        return 1;
    }
    std::unique_ptr<File> in;
    Status s = host.files->OpenRead(streamPath, in);
    if (!s.ok()) {
        ReportNotRestored(host, shown, ReasonOf(s));
        return 1;
    }
    StreamReader reader(*in, 1 << 16, host.keys);
    FileRecord record;
    const ListedStream* listedStream = ListedStreamOf(host, streamPath);
    const ListedFile* listed = ListedFileAt(listedStream ? &listedStream->files : nullptr, recordOffset);
    if (listed) {
        // The catalogue places the record: nothing before it needs to be readable. A plain
        // stream's record is found even when its header is damaged.
        FolderHeader header;
        s = reader.ReadFolderHeader(header);
        if (s.ok() || !header.sealed)
            s = reader.EnterListedRecord(recordOffset, listed->storedName, listed->index, record);
    } else {
        s = reader.SeekToRecord(recordOffset, record);
    }
    if (!s.ok()) {
        ReportNotRestored(host, shown, ReasonOf(s));
        return 1;
    }
    auto file = std::make_shared<FileInProgress>(host, 0, record.dataSize);
    file->shown = shown;
    file->top = PathUnder(destination, "");
    file->folder = file->top;
    file->substituted = use == NameUse::Substituted;
    SetName(*file, name);
    parts_->names.FolderReached(*host.files, file->folder);
    file->modified = record.modified;
    ExpectChecksum(*file, listed);
    bool answeredNo = false;
    const Start start = StartTarget(host, parts_->names, *file, [&] {
        OverwriteAnswer answer = host.AskOverwrite(file->target);
        answeredNo = answer != OverwriteAnswer::Yes && answer != OverwriteAnswer::YesToAll;
        return !answeredNo;
    });
    if (answeredNo) {
        host.cancelRequested = 1;
        host.SetStatus("Cancelled");
        return 0;
    }
    if (start != Start::Write) return 1;
    SubmitChunks(parts_->pipeline, parts_->batches, host, reader, file);
    Outcome outcome = Outcome::Extracted;
    parts_->pipeline.Then([this, file, &outcome] { outcome = EndTarget(host_, parts_->names, *file); });
    Finish();
    return outcome == Outcome::Failed ? 1 : 0;
}

void ExtractFolderStream(ExtractHost& host, const std::string& streamPath) {
    ExtractionRun run(host);
    run.FolderStream(streamPath);
}

int ExtractFileRecord(ExtractHost& host, const std::string& streamPath, std::uint64_t recordOffset,
                      const std::string& fileName) {
    ExtractionRun run(host);
    return run.SingleFile(streamPath, recordOffset, fileName);
}

Status CreateDirectoryPath(FileSystem& files, const std::string& path) {
    // Ancestors first; their failures show up as the failure of the last one.
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
        files.CreateFolder(path.substr(0, at));
    Status s = files.CreateFolder(path);
    if (s.code() == Status::Code::AlreadyExists) return Status::Ok();
    return s;
}

}  // namespace corvane
