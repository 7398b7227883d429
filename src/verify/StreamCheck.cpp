#include "verify/StreamCheck.h"

#include <map>
#include <memory>
#include <set>

#include "archive/BlockCodec.h"
#include "archive/ContentHash.h"
#include "archive/StreamFormat.h"
#include "extract/StoredPath.h"

namespace corvane {

namespace {

constexpr std::size_t kHashRead = 1 << 20;

std::string Bytes(std::uint64_t n) { return std::to_string(n) + " bytes"; }

// The size and checksum of every byte of the file.
Status HashWhole(File& in, std::uint64_t& size, Digest128& digest, const VerifyProgress& progress) {
    std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(kHashRead);
    ContentHash hash;
    size = 0;
    for (;;) {
        if (progress.Cancelled()) return Status(Status::Code::Cancelled, "cancelled");
        std::size_t got = 0;
        Status s = in.Read(buffer.get(), kHashRead, got);
        if (!s.ok()) return s;
        if (got == 0) break;
        hash.Update(buffer.get(), got);
        size += got;
    }
    digest = hash.Digest();
    return Status::Ok();
}

class StreamWalk {
public:
    StreamWalk(File& in, const CataloguedStream* expected, KeyRing* keys, const VerifyProgress& progress,
               StreamVerdict& verdict)
        : reader_(in, 1 << 16, keys), expected_(expected), progress_(progress), verdict_(verdict) {
        if (expected_)
            for (std::size_t i = 0; i < expected_->files.size(); ++i)
                byOffset_.emplace(expected_->files[i].recordOffset, Listed{&expected_->files[i], static_cast<std::uint32_t>(i + 1)});
    }

    void Run() {
        FolderHeader header;
        Status s = reader_.ReadFolderHeader(header);
        // A plain stream's records are found by their places in the catalogue without it.
        KeyParameters parameters;
        const bool lost = !s.ok();
        if (lost) Damage("", "its folder header cannot be read: " + s.message());
        if (lost && (!expected_ || header.sealed || ParseKeyParameters(expected_->stream.folderPath, parameters).ok()))
            return;
        sealed_ = header.sealed;
        if (expected_ && !sealed_ && !lost && header.folderPath != expected_->stream.folderPath)
            Damage("", "it holds the folder " + ShownStoredText(header.folderPath) + ", the catalogue says " +
                           ShownStoredText(expected_->stream.folderPath));
        if (sealed_ && !header.key) {
            verdict_.locked = true;
            return;
        }
        std::uint64_t reported = 0;
        std::uint64_t lastOffset = 0;
        bool resume = lost;
        for (;;) {
            if (progress_.Cancelled()) return Damage("", "the check was cancelled");
            FileRecord record;
            bool found = false;
            if (!resume) s = reader_.NextRecord(record, found);
            progress_.Advance(reader_.position() > reported ? reader_.position() - reported : 0);
            reported = reader_.position();
            // Past damage the records go on where the catalogue places them, as a restore finds them.
            if (expected_ && (resume || !s.ok() || (!found && reader_.endedEarly()))) {
                resume = false;
                found = ResumeAfter(lastOffset, record);
                if (!found) break;
            } else if (!s.ok()) {
                Damage("", "the records after file " + std::to_string(verdict_.files) + " cannot be read: " + s.message());
                break;
            }
            if (!found) break;
            lastOffset = record.recordOffset;
            ++verdict_.files;
            if (!CheckRecord(record) && !expected_) break;
        }
        if (reader_.endedEarly() && !expected_)
            Damage("", "its layout ends in damage after file " + std::to_string(verdict_.files));
        for (const auto& [offset, listed] : byOffset_)
            if (!seen_.count(offset) && !unreachable_.count(offset))
                Damage(listed.file->name, "is in the catalogue but not in the stream");
    }

private:
    struct Listed {
        const CatalogueFile* file;
        std::uint32_t index;  // among the stream's records, from 1
    };

    void Damage(const std::string& file, const std::string& why) { verdict_.damage.push_back({file, why}); }

    // Enters the first record the catalogue lists after the one at `after` that can be read;
    // each that cannot is named. False when none is left.
    bool ResumeAfter(std::uint64_t& after, FileRecord& record) {
        for (auto it = byOffset_.upper_bound(after); it != byOffset_.end(); ++it) {
            Status s = reader_.EnterListedRecord(it->first, it->second.file->name, it->second.index, record);
            if (s.ok()) return true;
            Damage(it->second.file->name, "its record cannot be read: " + s.message());
            unreachable_.insert(it->first);
            after = it->first;
        }
        return false;
    }

    // Decodes the record's chunks and compares what they hold with the catalogue. False when the
    // chunk list cannot be read, so the records after it cannot be found.
    bool CheckRecord(const FileRecord& record) {
        const CatalogueFile* entry = nullptr;
        if (auto it = byOffset_.find(record.recordOffset); it != byOffset_.end()) {
            entry = it->second.file;
            seen_.insert(record.recordOffset);
        } else if (expected_) {
            Damage(record.fileName, "is not in the catalogue");
        }
        if (entry && !sealed_ && entry->name != record.fileName)
            Damage(record.fileName, "the catalogue names this file " + ShownStoredText(entry->name));
        ContentHash hash;
        std::uint64_t size = 0;
        int undecodable = 0;
        for (int index = 0;; ++index) {
            if (progress_.Cancelled()) {  // a file may be gigabytes long
                Damage("", "the check was cancelled");
                return false;
            }
            int length = 0;
            bool done = false;
            Status s = reader_.NextChunk(chunk_, length, done);
            if (!s.ok()) {
                Damage(record.fileName, "its chunk " + std::to_string(index + 1) + " cannot be read: " + s.message());
                return false;
            }
            if (done) break;
            int pieceLength = 0;
            if (!DecodeChunk(chunk_, length, piece_, pieceLength).ok()) {
                if (++undecodable == 1)
                    Damage(record.fileName, "its chunk " + std::to_string(index + 1) + " does not decode");
                continue;
            }
            hash.Update(piece_, static_cast<std::size_t>(pieceLength));
            size += static_cast<std::uint64_t>(pieceLength);
        }
        // An encrypted file's entry holds no size or checksum: its seals stand for them.
        if (!entry || sealed_ || undecodable) return true;
        if (size != entry->size)
            Damage(record.fileName, "it holds " + Bytes(size) + ", the catalogue says " + Bytes(entry->size));
        else if (hash.Digest() != entry->checksum)
            Damage(record.fileName, "its content does not match the catalogue's checksum");
        return true;
    }

    StreamReader reader_;
    const CataloguedStream* expected_;
    const VerifyProgress& progress_;
    StreamVerdict& verdict_;
    bool sealed_ = false;
    std::map<std::uint64_t, Listed> byOffset_;
    std::set<std::uint64_t> seen_;
    std::set<std::uint64_t> unreachable_;  // listed records that damage hides
    std::uint8_t chunk_[kMaxChunkLength];
    std::uint8_t piece_[kDecodeCapacity];
};

}  // namespace

StreamVerdict CheckStream(FileSystem& files, const std::string& path, const CataloguedStream* expected,
                          KeyRing* keys, const VerifyProgress& progress) {
    StreamVerdict verdict;
    std::unique_ptr<File> in;
    Status s = files.OpenRead(path, in);
    if (!s.ok()) {
        verdict.damage.push_back({"", "it cannot be read: " + s.message()});
        return verdict;
    }
    if (expected) {
        std::uint64_t size = 0;
        Digest128 digest{};
        s = HashWhole(*in, size, digest, progress);
        // Where some of it cannot be read, the walk below tells which files that costs.
        if (!s.ok())
            verdict.damage.push_back({"", "it cannot be read whole: " + s.message()});
        else if (size != expected->stream.size)
            verdict.damage.push_back({"", "it holds " + Bytes(size) + ", the catalogue says " + Bytes(expected->stream.size)});
        else if (digest != expected->stream.checksum)
            verdict.damage.push_back({"", "its bytes do not match the catalogue's checksum"});
        s = in->Seek(0, SeekFrom::Start);
        if (!s.ok()) {
            verdict.damage.push_back({"", "it cannot be read: " + s.message()});
            return verdict;
        }
    }
    auto walk = std::make_unique<StreamWalk>(*in, expected, keys, progress, verdict);
    walk->Run();
    return verdict;
}

}  // namespace corvane
