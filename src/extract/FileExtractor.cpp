#include "extract/FileExtractor.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <vector>

#include "archive/BlockCodec.h"
#include "archive/ChunkPipeline.h"
#include "archive/Recycler.h"
#include "archive/StreamFormat.h"
#include "extract/StoredPath.h"
#include "platform/TextCodec.h"

namespace corvane {

namespace {

constexpr const char* kNoDestination = "You must select a destination folder.";
constexpr const char* kExtractError = "There was an error extracting the file!";
constexpr const char* kRefused =
    "Not restored, because the backup names a place outside the destination folder:";
constexpr std::size_t kMaxRefusedShown = 10;

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

// A damaged chunk is shown with the plain message; a failure of the file layer (a read
// error, a full disk) also says what failed.
void ReportFailure(ExtractHost& host, const Status& cause) {
    std::string text = kExtractError;
    if (cause.code() != Status::Code::Corrupt) text += "\n\n" + cause.message();
    Tell(host, text, MessageIcon::Warning);
    host.SetStatus("Error");
}

void ReportRefused(ExtractHost& host, const std::vector<std::string>& shownNames) {
    std::string text = kRefused;
    for (std::size_t i = 0; i < shownNames.size() && i < kMaxRefusedShown; ++i)
        text += "\n" + shownNames[i];
    if (shownNames.size() > kMaxRefusedShown)
        text += "\n(and " + std::to_string(shownNames.size() - kMaxRefusedShown) + " more)";
    Tell(host, text, MessageIcon::Warning);
}

// A target exists when it can be opened for reading.
bool Exists(ExtractHost& host, const std::string& path) {
    std::unique_ptr<File> file;
    if (!host.files->OpenRead(path, file).ok()) return false;
    file->Close();
    return true;
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
    std::string folder;       // where its files go
    OverwriteAnswer stickyAnswer = OverwriteAnswer::No;  // "to all" answers hold for this stream
    std::vector<std::string> refused;
    bool begun = false;    // it was not cancelled before its turn came
    bool stopped = false;  // a failure was reported: the rest of the stream is passed over

    // Whether a record whose turn has come is still dealt with, as it would have been read
    // at all by a reader going one file at a time.
    bool GoesOn(const ExtractHost& host) const { return begun && !stopped && !host.cancelRequested; }
};

// One file being restored, shared by its steps' completions.
struct FileInProgress {
    FileInProgress(ExtractHost& host, std::uint64_t before, std::uint64_t denominator)
        : progress(host, before, denominator) {}

    std::string target;
    std::string written;  // target, or the hidden name beside it while replacing
    bool replacing = false;
    bool skipped = false;  // not to be restored: the reader passes over its chunks
    std::int64_t modified = 0;
    std::unique_ptr<File> out;  // open from its start to its end
    Status failure;             // the first failure to decode, read or write
    Progress progress;
};
using SharedFile = std::shared_ptr<FileInProgress>;

enum class Outcome { Extracted, Cancelled, Failed };

// Where a file being restored over an existing one is written until it is complete: beside
// it, under a hidden name, so that the old file stays whole if the restore fails or stops.
std::string ReplacementPath(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    return folder + ".corvane-restoring-" + std::to_string(::getpid());
}

// Opens the file's target (or the hidden name beside it); a failure is reported.
bool OpenTarget(ExtractHost& host, FileInProgress& file) {
    file.written = file.replacing ? ReplacementPath(file.target) : file.target;
    Status s = host.files->OpenWrite(file.written, file.out);
    if (s.ok()) return true;
    ReportFailure(host, s);
    return false;
}

// Writes a decoded batch; a failure or a stop takes effect before the next batch.
void WriteBatch(ExtractHost& host, FileInProgress& file, const DecodeBatch& batch) {
    if (!file.out || !file.failure.ok() || host.cancelRequested) return;
    file.failure = batch.status;
    if (file.failure.ok() && batch.filled > 0) file.failure = file.out->Write(batch.pieces.get(), batch.filled);
    file.progress.Update(batch.consumedAfter);
}

// Ends the file and sets the status. A target that failed part way or was cancelled is
// deleted, and a file it was to replace is left as it was; a finished one gets its stored
// last-write time back.
Outcome EndTarget(ExtractHost& host, FileInProgress& file) {
    Status s = file.failure;
    file.progress.Finish();
    Status closed = file.out->Close();
    if (s.ok()) s = closed;
    if (s.ok() && !host.cancelRequested && file.replacing) s = host.files->Rename(file.written, file.target);
    if (!s.ok()) {
        host.files->RemoveFile(file.written);
        ReportFailure(host, s);
        return Outcome::Failed;
    }
    if (host.cancelRequested) {
        host.files->RemoveFile(file.written);
        host.SetStatus("Cancelled");
        return Outcome::Cancelled;
    }
    // The content is restored either way; a file system that keeps no times is no failure.
    host.files->SetModifiedTime(file.target, file.modified);
    host.SetStatus("Extracted");
    return Outcome::Extracted;
}

// Whether an existing target of a folder stream is replaced: by the "to all" answer given
// earlier in this stream, else by asking. Cancel also stops the run.
bool MayOverwrite(ExtractHost& host, const std::string& target, OverwriteAnswer& stickyAnswer) {
    if (stickyAnswer == OverwriteAnswer::NoToAll) return false;
    if (stickyAnswer == OverwriteAnswer::YesToAll) return true;
    stickyAnswer = host.AskOverwrite(target);
    if (stickyAnswer == OverwriteAnswer::Cancel) host.cancelRequested = 1;
    return stickyAnswer == OverwriteAnswer::Yes || stickyAnswer == OverwriteAnswer::YesToAll;
}

// Reads the record's chunks and hands them to the pipeline in batches, to be decoded on a
// worker and written in order; stops early once the file is passed over or the run cancelled.
// False on a read error, which the file's end reports.
bool SubmitChunks(ChunkPipeline& pipeline, Recycler<DecodeBatch>& batches, ExtractHost& host, StreamReader& reader,
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
    return read.ok();
}

// Hands every record of the stream to the pipeline: its start (status line, overwrite
// question, opening the target), its chunks and its end.
void SubmitRecords(ChunkPipeline& pipeline, Recycler<DecodeBatch>& batches, ExtractHost& host, StreamReader& reader,
                   const std::shared_ptr<StreamInProgress>& stream) {
    std::uint64_t streamConsumed = 0;
    FileRecord record;
    // Reading runs ahead of the completions, which stop the stream or the run: the reader
    // goes on until it sees that, and the completions pass over what it read meanwhile.
    while (!host.cancelRequested && !stream->stopped) {
        bool found = false;
        Status s = reader.NextRecord(record, found);
        if (!s.ok()) {
            pipeline.Then([&host, stream, s] {
                if (!stream->GoesOn(host)) return;
                ReportFailure(host, s);
                stream->stopped = true;
            });
            return;
        }
        if (!found) return;
        // A name that is refused is passed over like a skipped file: the next record
        // starts after its chunk list.
        std::string name;
        if (!StoredFileNameToLocal(record.fileName, name)) {
            pipeline.Then([&host, stream, shown = stream->shownFolder + "\\" + ShownStoredText(record.fileName)] {
                if (stream->GoesOn(host)) stream->refused.push_back(shown);
            });
            continue;
        }
        auto file = std::make_shared<FileInProgress>(host, streamConsumed, reader.length());
        file->target = PathUnder(stream->folder, name);
        file->modified = record.modified;
        // A file that may have to be asked about is decided before its chunks are read, once
        // every file before it is written.
        if (Exists(host, file->target)) pipeline.Drain();
        pipeline.Then([&host, stream, file, shown = stream->shownFolder + "\\" + name] {
            file->skipped = !stream->GoesOn(host);
            if (file->skipped) return;
            host.SetStatus(shown);
            file->replacing = Exists(host, file->target);
            file->skipped = file->replacing && !MayOverwrite(host, file->target, stream->stickyAnswer);
            if (!file->skipped && !OpenTarget(host, *file)) stream->stopped = true;
        });
        const bool read = SubmitChunks(pipeline, batches, host, reader, file);
        if (!file->skipped) streamConsumed += reader.consumed();
        pipeline.Then([&host, stream, file] {
            if (file->out && EndTarget(host, *file) == Outcome::Failed) stream->stopped = true;
        });
        if (!read) return;
    }
}

}  // namespace

struct ExtractionRun::Parts {
    explicit Parts(int workers) : pipeline(workers, kStepsPerWorker * std::max(1, workers)) {}

    Recycler<DecodeBatch> batches;  // outlives the pipeline, whose dropped steps hold batches
    ChunkPipeline pipeline;
};

ExtractionRun::ExtractionRun(ExtractHost& host)
    : host_(host), parts_(std::make_unique<Parts>(host.decodeWorkers)) {}

ExtractionRun::~ExtractionRun() { Finish(); }

void ExtractionRun::Finish() { parts_->pipeline.Drain(); }

void ExtractionRun::FolderStream(const std::string& streamPath) {
    ExtractHost& host = host_;
    const std::string destination = Prepare(host);
    auto stream = std::make_shared<StreamInProgress>();
    parts_->pipeline.Then([&host, stream] {
        stream->begun = !host.cancelRequested;
        if (!stream->begun) return;
        host.BeginWaitCursor();
        host.ShowProgress();
    });
    // Steps that report why the stream stops where it is; the last one ends the stream.
    auto stop = [&](std::function<void()> report) {
        parts_->pipeline.Then([&host, stream, report] {
            if (!stream->begun) return;
            report();
            host.EndWaitCursor();
        });
    };
    if (destination.empty()) return stop([&host] { ReportNoDestination(host); });
    std::unique_ptr<File> in;
    Status s = host.files->OpenRead(streamPath, in);
    if (!s.ok()) return stop([&host, s] { ReportFailure(host, s); });
    StreamReader reader(*in);
    FolderHeader header;
    s = reader.ReadFolderHeader(header);
    if (!s.ok()) return stop([&host, s] { ReportFailure(host, s); });
    std::string relative;
    if (!StoredFolderToRelative(header.folderPath, relative)) {
        return stop([&host, shown = ShownStoredText(header.folderPath)] {
            ReportRefused(host, {shown});
            host.SetStatus("Error");
        });
    }
    // The status line shows the stored path without its leading backslash.
    std::string_view storedFolder = header.folderPath;
    if (storedFolder.front() == '\\') storedFolder.remove_prefix(1);
    stream->shownFolder = StoredTextToUtf8(storedFolder);
    stream->folder = PathUnder(destination, relative);
    parts_->pipeline.Then([&host, stream] {
        if (!stream->begun) return;
        Status made = CreateDirectoryPath(*host.files, stream->folder);
        if (made.ok()) return;
        ReportFailure(host, made);
        stream->stopped = true;
    });
    SubmitRecords(parts_->pipeline, parts_->batches, host, reader, stream);
    parts_->pipeline.Then([&host, stream, endedEarly = reader.endedEarly()] {
        if (!stream->begun) return;
        // Streams end right after their last record; anything else there is damage that
        // hides the files it held.
        if (!stream->stopped && !host.cancelRequested && endedEarly) {
            Tell(host, std::string(kExtractError) + "\n\nThe rest of the backup stream is damaged.",
                 MessageIcon::Warning);
            host.SetStatus("Error");
            stream->stopped = true;
        }
        if (!stream->refused.empty()) ReportRefused(host, stream->refused);
        if (!stream->stopped) {
            if (host.cancelRequested)
                host.SetStatus("Cancelled");
            else
                host.SetStatus(stream->refused.empty() ? "Extracted" : "Error");
        }
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
    std::string name;
    if (!StoredFileNameToLocal(fileName, name)) {
        ReportRefused(host, {ShownStoredText(fileName)});
        host.SetStatus("Error");
        return 1;
    }
    std::unique_ptr<File> in;
    Status s = host.files->OpenRead(streamPath, in);
    if (!s.ok()) {
        ReportFailure(host, s);
        return 1;
    }
    StreamReader reader(*in);
    FileRecord record;
    s = reader.SeekToRecord(recordOffset, record);
    if (!s.ok()) {
        ReportFailure(host, s);
        return 1;
    }
    auto file = std::make_shared<FileInProgress>(host, 0, record.dataSize);
    file->target = PathUnder(destination, name);
    file->modified = record.modified;
    file->replacing = Exists(host, file->target);
    if (file->replacing) {
        OverwriteAnswer answer = host.AskOverwrite(file->target);
        if (answer != OverwriteAnswer::Yes && answer != OverwriteAnswer::YesToAll) {
            host.cancelRequested = 1;
            host.SetStatus("Cancelled");
            return 0;
        }
    }
    if (!OpenTarget(host, *file)) return 1;
    SubmitChunks(parts_->pipeline, parts_->batches, host, reader, file);
    Outcome outcome = Outcome::Extracted;
    parts_->pipeline.Then([&host, file, &outcome] { outcome = EndTarget(host, *file); });
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
