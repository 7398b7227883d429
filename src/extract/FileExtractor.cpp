#include "extract/FileExtractor.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <thread>
#include <vector>

#include "archive/BlockCodec.h"
#include "archive/ChunkPipeline.h"
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

// Shows the progress bar and reads the destination, which is remembered before any check.
std::string Prepare(ExtractHost& host) {
    host.ShowProgress();
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

constexpr int kBatchChunks = 16;                      // chunks decoded together on one thread
constexpr std::uint64_t kParallelFrom = 64 * 1024;  // a chunk list this long is decoded on every core
constexpr std::size_t kWriteBlock = 1 << 20;         // restored bytes are written in blocks this large

// A run of chunks of one record, decoded on a worker thread. Its buffers are left
// uninitialised: they are always written before they are read.
struct DecodeBatch {
    void Decode() {
        for (int i = 0; i < count && status.ok(); ++i)
            status = DecodeChunk(chunks.get() + i * kMaxChunkLength, chunkLengths[i],
                                 pieces.get() + i * kDecodeCapacity, pieceLengths[i]);
    }

    std::unique_ptr<std::uint8_t[]> chunks = std::make_unique_for_overwrite<std::uint8_t[]>(kBatchChunks * kMaxChunkLength);
    std::unique_ptr<std::uint8_t[]> pieces = std::make_unique_for_overwrite<std::uint8_t[]>(kBatchChunks * kDecodeCapacity);
    int chunkLengths[kBatchChunks] = {};
    int pieceLengths[kBatchChunks] = {};
    int count = 0;
    std::uint64_t consumedAfter = 0;  // the record's bytes consumed once this batch was read
    Status status;
};

// Decodes on this thread for short files and on every core for long ones; the threads are
// started once, by the first long file.
class Decoders {
  public:
    ChunkPipeline& For(std::uint64_t dataSize) {
        if (dataSize < kParallelFrom) return inline_;
        if (!parallel_) {
            const int workers = static_cast<int>(std::thread::hardware_concurrency());
            parallel_ = std::make_unique<ChunkPipeline>(workers, 4 * std::max(1, workers));
        }
        return *parallel_;
    }

  private:
    ChunkPipeline inline_{0, 1};
    std::unique_ptr<ChunkPipeline> parallel_;
};

// Collects restored bytes and writes them in large blocks.
class BlockWriter {
  public:
    explicit BlockWriter(File& out) : out_(out) {}

    Status Write(const std::uint8_t* data, std::size_t n) {
        block_.insert(block_.end(), data, data + n);
        return block_.size() >= kWriteBlock ? Flush() : Status::Ok();
    }
    Status Flush() {
        Status s = block_.empty() ? Status::Ok() : out_.Write(block_.data(), block_.size());
        block_.clear();
        return s;
    }

  private:
    File& out_;
    std::vector<std::uint8_t> block_;
};

// Decodes the current record's chunk list into out, until it ends or cancel is requested.
// Chunks are read here and decoded in batches by the pipeline, which hands them back in order.
Status CopyChunks(ExtractHost& host, StreamReader& reader, const FileRecord& record, File& out,
                  Decoders& decoders, Progress& progress) {
    ChunkPipeline& pipeline = decoders.For(record.dataSize);
    BlockWriter writer(out);
    Status failure;  // the first failure to decode or write, found by a completion
    auto write = [&](const DecodeBatch& batch) {
        if (!failure.ok() || host.cancelRequested) return;
        failure = batch.status;
        for (int i = 0; i < batch.count && failure.ok(); ++i)
            failure = writer.Write(batch.pieces.get() + i * kDecodeCapacity,
                                   static_cast<std::size_t>(batch.pieceLengths[i]));
        progress.Update(batch.consumedAfter);
    };
    Status read;
    bool done = false;
    while (!done && read.ok() && failure.ok() && !host.cancelRequested) {
        auto batch = std::make_shared<DecodeBatch>();
        while (batch->count < kBatchChunks) {
            read = reader.NextChunk(batch->chunks.get() + batch->count * kMaxChunkLength,
                                    batch->chunkLengths[batch->count], done);
            if (!read.ok() || done) break;
            ++batch->count;
        }
        batch->consumedAfter = reader.consumed();
        if (batch->count > 0) pipeline.Submit([batch] { batch->Decode(); }, [batch, &write] { write(*batch); });
    }
    pipeline.Drain();
    if (failure.ok()) failure = read;
    if (failure.ok()) failure = writer.Flush();
    return failure;
}

enum class Outcome { Extracted, Cancelled, Failed };

// Where a file being restored over an existing one is written until it is complete: beside
// it, under a hidden name, so that the old file stays whole if the restore fails or stops.
std::string ReplacementPath(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    return folder + ".corvane-restoring-" + std::to_string(::getpid());
}

// Writes the record in hand to target and sets the status. A target that fails part way or
// is cancelled is deleted, and a file it was to replace is left as it was; a finished one
// gets its stored last-write time back.
Outcome WriteTarget(ExtractHost& host, StreamReader& reader, const FileRecord& record,
                    const std::string& target, bool replacing, Decoders& decoders, Progress& progress) {
    const std::string written = replacing ? ReplacementPath(target) : target;
    std::unique_ptr<File> out;
    Status s = host.files->OpenWrite(written, out);
    if (!s.ok()) {
        ReportFailure(host, s);
        return Outcome::Failed;
    }
    s = CopyChunks(host, reader, record, *out, decoders, progress);
    progress.Finish();
    Status closed = out->Close();
    if (s.ok()) s = closed;
    if (s.ok() && !host.cancelRequested && replacing) s = host.files->Rename(written, target);
    if (!s.ok()) {
        host.files->RemoveFile(written);
        ReportFailure(host, s);
        return Outcome::Failed;
    }
    if (host.cancelRequested) {
        host.files->RemoveFile(written);
        host.SetStatus("Cancelled");
        return Outcome::Cancelled;
    }
    // The content is restored either way; a file system that keeps no times is no failure.
    host.files->SetModifiedTime(target, record.modified);
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

// The records of a folder stream whose folder exists under the destination. False when the
// stream stopped on an error (already reported).
bool ExtractRecords(ExtractHost& host, StreamReader& reader, const std::string& shownFolder,
                    const std::string& folder, std::vector<std::string>& refused) {
    Decoders decoders;
    OverwriteAnswer stickyAnswer = OverwriteAnswer::No;
    std::uint64_t streamConsumed = 0;
    FileRecord record;
    while (!host.cancelRequested) {
        bool found = false;
        Status s = reader.NextRecord(record, found);
        if (!s.ok()) {
            ReportFailure(host, s);
            return false;
        }
        if (!found) break;
        // A name that is refused is passed over like a skipped file: the next record
        // starts after its chunk list.
        std::string name;
        if (!StoredFileNameToLocal(record.fileName, name)) {
            refused.push_back(shownFolder + "\\" + ShownStoredText(record.fileName));
            continue;
        }
        host.SetStatus(shownFolder + "\\" + name);
        const std::string target = PathUnder(folder, name);
        const bool replacing = Exists(host, target);
        if (replacing && !MayOverwrite(host, target, stickyAnswer)) continue;
        Progress progress(host, streamConsumed, reader.length());
        Outcome outcome = WriteTarget(host, reader, record, target, replacing, decoders, progress);
        streamConsumed += reader.consumed();
        if (outcome == Outcome::Failed) return false;
    }
    // Streams end right after their last record; anything else there is damage that hides
    // the files it held.
    if (!host.cancelRequested && reader.endedEarly()) {
        Tell(host, std::string(kExtractError) + "\n\nThe rest of the backup stream is damaged.",
             MessageIcon::Warning);
        host.SetStatus("Error");
        return false;
    }
    return true;
}

}  // namespace

void ExtractFolderStream(ExtractHost& host, const std::string& streamPath) {
    WaitCursor wait(host);
    const std::string destination = Prepare(host);
    if (destination.empty()) {
        ReportNoDestination(host);
        return;
    }
    std::unique_ptr<File> in;
    Status s = host.files->OpenRead(streamPath, in);
    if (!s.ok()) {
        ReportFailure(host, s);
        return;
    }
    StreamReader reader(*in);
    FolderHeader header;
    s = reader.ReadFolderHeader(header);
    if (!s.ok()) {
        ReportFailure(host, s);
        return;
    }
    std::string relative;
    if (!StoredFolderToRelative(header.folderPath, relative)) {
        ReportRefused(host, {ShownStoredText(header.folderPath)});
        host.SetStatus("Error");
        return;
    }
    // The status line shows the stored path without its leading backslash.
    std::string_view storedFolder = header.folderPath;
    if (storedFolder.front() == '\\') storedFolder.remove_prefix(1);
    const std::string shownFolder = StoredTextToUtf8(storedFolder);

    const std::string folder = PathUnder(destination, relative);
    s = CreateDirectoryPath(*host.files, folder);
    if (!s.ok()) {
        ReportFailure(host, s);
        return;
    }
    std::vector<std::string> refused;
    const bool finished = ExtractRecords(host, reader, shownFolder, folder, refused);
    if (!refused.empty()) ReportRefused(host, refused);
    if (!finished) return;
    if (host.cancelRequested)
        host.SetStatus("Cancelled");
    else
        host.SetStatus(refused.empty() ? "Extracted" : "Error");
}

int ExtractFileRecord(ExtractHost& host, const std::string& streamPath, std::uint64_t recordOffset,
                      const std::string& fileName) {
    WaitCursor wait(host);
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
    const std::string target = PathUnder(destination, name);

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
    const bool replacing = Exists(host, target);
    if (replacing) {
        OverwriteAnswer answer = host.AskOverwrite(target);
        if (answer != OverwriteAnswer::Yes && answer != OverwriteAnswer::YesToAll) {
            host.cancelRequested = 1;
            host.SetStatus("Cancelled");
            return 0;
        }
    }
    Decoders decoders;
    Progress progress(host, 0, record.dataSize);
    return WriteTarget(host, reader, record, target, replacing, decoders, progress) == Outcome::Failed ? 1 : 0;
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
