#include "archive/SetCatalogueWriter.h"

#include <utility>

#include "archive/LittleEndian.h"

namespace corvane {

namespace {

constexpr std::size_t kEndPayload = 8 + 16;

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

std::size_t BackupRecordSize(const std::string& name) { return kCatalogueRecordHead + 8 + 4 + 2 + name.size(); }

}  // namespace

std::string CatalogueFileName(std::string_view backupName) { return std::string(backupName) + ".catalog"; }

SetCatalogueWriter::SetCatalogueWriter(std::string backupName, std::int64_t backupTime)
    : backupName_(std::move(backupName)), backupTime_(backupTime) {}

void SetCatalogueWriter::AddStream(const CatalogueStream& stream, const std::vector<CatalogueFile>& files) {
    streamRecords_ += EncodeStream(streams_, stream, files);
}

std::uint64_t SetCatalogueWriter::SizeWith(const CatalogueStream& stream,
                                           const std::vector<CatalogueFile>& files) const {
    std::string added;
    EncodeStream(added, stream, files);
    return kCatalogueHeaderSize + BackupRecordSize(backupName_) + streams_.size() + added.size() +
           kCatalogueRecordHead + kEndPayload;
}

std::string SetCatalogueWriter::Bytes(std::uint32_t discs) const {
    std::string out(kCatalogueMagic, sizeof kCatalogueMagic);
    Append(out, kCatalogueVersion);
    std::string payload;
    Append(payload, backupTime_);
    Append(payload, discs);
    AppendText(payload, backupName_);
    AppendRecord(out, CatalogueRecord::Backup, payload);
    out += streams_;
    out.push_back(static_cast<char>(CatalogueRecord::End));
    Append(out, static_cast<std::uint32_t>(kEndPayload));
    Append(out, 1 + streamRecords_);
    ContentHash hash;
    hash.Update(out.data(), out.size());
    AppendDigest(out, hash.Digest());
    return out;
}

}  // namespace corvane
