#include "archive/SetCatalogueWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "archive/LittleEndian.h"

namespace corvane {

namespace {

constexpr std::size_t kEndPayload = 8 + 16;
constexpr std::size_t kBlockSize = 1 << 20;

template <typename T>
void Append(std::string& out, T value) {
    unsigned char bytes[sizeof(T)];
    PutLittleEndian(bytes, value);
    out.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

// Texts in the catalogue come from names and paths of at most a few hundred bytes.
void AppendText(std::string& out, std::string_view text) {
    Append(out, static_cast<std::uint16_t>(text.size()));
    out.append(text);
}

void AppendDigest(std::string& out, const Digest128& digest) {
    out.append(reinterpret_cast<const char*>(digest.data()), digest.size());
}

void AppendRecord(std::string& out, CatalogueRecord type, const std::string& payload) {
    out.push_back(static_cast<char>(type));
    Append(out, static_cast<std::uint32_t>(payload.size()));
    out.append(payload);
}

// The stream's record and its files' records; returns how many records that is.
std::uint64_t EncodeStream(std::string& out, const CatalogueStream& stream, const std::vector<CatalogueFile>& files) {
    std::string payload;
    Append(payload, stream.sequence);
    Append(payload, stream.disc);
    Append(payload, static_cast<std::uint8_t>(stream.isProtected ? 1 : 0));
    Append(payload, stream.size);
    AppendDigest(payload, stream.checksum);
    AppendText(payload, stream.name);
    AppendText(payload, stream.folderPath);
    AppendRecord(out, CatalogueRecord::Stream, payload);
    for (const CatalogueFile& file : files) {
        payload.clear();
        Append(payload, file.recordOffset);
        Append(payload, file.size);
        Append(payload, file.created);
        Append(payload, file.modified);
        AppendDigest(payload, file.checksum);
        AppendText(payload, file.name);
        AppendRecord(out, CatalogueRecord::File, payload);
    }
    return 1 + files.size();
}

// pwrite and pread until every byte is through.
bool WriteAll(int fd, std::string_view bytes, std::uint64_t at) {
    while (!bytes.empty()) {
        const ssize_t done = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(done));
        at += static_cast<std::uint64_t>(done);
    }
    return true;
}

bool ReadAll(int fd, std::string& into, std::uint64_t at) {
    for (std::size_t got = 0; got < into.size();) {
        const ssize_t done = ::pread(fd, into.data() + got, into.size() - got, static_cast<off_t>(at + got));
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) return false;
        if (done == 0) {
            errno = EIO;  // cut short
            return false;
        }
        got += static_cast<std::size_t>(done);
    }
    return true;
}

std::size_t BackupRecordSize(const std::string& name) { return kCatalogueRecordHead + 8 + 4 + 2 + name.size() + 1; }

}  // namespace

std::string CatalogueFileName(std::string_view backupName) { return std::string(backupName) + ".catalog"; }

SetCatalogueWriter::SetCatalogueWriter(std::string backupName, std::int64_t backupTime, const std::string& spillFolder)
    : backupName_(std::move(backupName)), backupTime_(backupTime) {
    if (!spillFolder.empty()) spill_ = ::open(spillFolder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

SetCatalogueWriter::~SetCatalogueWriter() {
    if (spill_ >= 0) ::close(spill_);
}

void SetCatalogueWriter::AddStream(const CatalogueStream& stream, const std::vector<CatalogueFile>& files) {
    std::string encoded;
    streamRecords_ += EncodeStream(encoded, stream, files);
    if (spill_ >= 0 && !WriteAll(spill_, encoded, encodedSize_)) StopSpilling();
    if (spill_ < 0) KeepInMemory(encoded);
    encodedSize_ += encoded.size();
}

void SetCatalogueWriter::StopSpilling() {
    std::string spilled(encodedSize_, '\0');
    const bool whole = ReadAll(spill_, spilled, 0);
    ::close(spill_);
    spill_ = -1;
    if (!whole) lost_ = Status::FromErrno(errno, "The catalogue's records could not be read back");
    else if (!spilled.empty()) KeepInMemory(spilled);
}

void SetCatalogueWriter::KeepInMemory(const std::string& encoded) {
    if (blocks_.empty() || blocks_.back().size() + encoded.size() > kBlockSize) {
        blocks_.emplace_back();
        blocks_.back().reserve(std::max(kBlockSize, encoded.size()));
    }
    blocks_.back() += encoded;
}

std::uint64_t SetCatalogueWriter::SizeWith(const CatalogueStream& stream,
                                           const std::vector<CatalogueFile>& files) const {
    std::string added;
    EncodeStream(added, stream, files);
    return kCatalogueHeaderSize + BackupRecordSize(backupName_) + encodedSize_ + added.size() +
           kCatalogueRecordHead + kEndPayload;
}

Status SetCatalogueWriter::Emit(std::uint32_t discs, bool moreDiscsFollow,
                                const std::function<Status(std::string_view)>& sink) const {
    if (!lost_.ok()) return lost_;
    ContentHash hash;
    auto hashed = [&](std::string_view piece) {
        hash.Update(piece.data(), piece.size());
        return sink(piece);
    };
    std::string head(kCatalogueMagic, sizeof kCatalogueMagic);
    Append(head, kCatalogueVersion);
    std::string payload;
    Append(payload, backupTime_);
    Append(payload, discs);
    AppendText(payload, backupName_);
    Append(payload, static_cast<std::uint8_t>(moreDiscsFollow ? 1 : 0));
    AppendRecord(head, CatalogueRecord::Backup, payload);
    Status status = hashed(head);
    if (spill_ >= 0) {
        std::string piece;
        for (std::uint64_t at = 0; status.ok() && at < encodedSize_; at += piece.size()) {
            piece.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, encodedSize_ - at)));
            if (!ReadAll(spill_, piece, at)) return Status::FromErrno(errno, "The catalogue's records could not be read back");
            status = hashed(piece);
        }
    }
    for (std::size_t i = 0; status.ok() && i < blocks_.size(); ++i) status = hashed(blocks_[i]);
    if (!status.ok()) return status;
    std::string end(1, static_cast<char>(CatalogueRecord::End));
    Append(end, static_cast<std::uint32_t>(kEndPayload));
    Append(end, 1 + streamRecords_);
    status = hashed(end);
    if (!status.ok()) return status;
    std::string digest;
    AppendDigest(digest, hash.Digest());
    return sink(digest);
}

std::string SetCatalogueWriter::Bytes(std::uint32_t discs, bool moreDiscsFollow) const {
    std::string out;
    if (!Emit(discs, moreDiscsFollow, [&](std::string_view piece) {
             out += piece;
             return Status::Ok();
         }).ok())
        out.clear();
    return out;
}

Status SetCatalogueWriter::WriteTo(File& out, std::uint32_t discs, bool moreDiscsFollow) const {
    return Emit(discs, moreDiscsFollow, [&](std::string_view piece) { return out.Write(piece.data(), piece.size()); });
}

}  // namespace corvane
