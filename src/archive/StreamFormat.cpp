#include "archive/StreamFormat.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <limits>

#include "archive/BlockCodec.h"
#include "archive/LittleEndian.h"
#include "disc/DiscImage.h"
#include "extract/StoredPath.h"
#include "platform/TextCodec.h"

namespace corvane {

namespace {

constexpr std::size_t kWriteBuffer = 1 << 20;
constexpr std::int32_t kMaxNameLength = 4095;  // longer names end a listing, as readers have always done

// A stream's name on the disc holds at most the 64 UTF-16 characters of a Joliet name (the
// disc refuses longer ones), with room for stream numbers of up to this many digits.
constexpr int kMaxDiscName = 64;
constexpr int kMaxSequenceDigits = 6;

// The bytes of the UTF-8 character that starts with this byte.
std::size_t Utf8CharLength(unsigned char lead) { return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4; }

// A character that cannot stand in a file name on the disc: '/', or a control character
// (C0, DEL, and C1, which UTF-8 writes as 0xC2 0x80..0x9F).
bool IsUnfitInName(std::string_view character) {
    auto lead = static_cast<unsigned char>(character[0]);
    if (character.size() == 1) return lead < 0x20 || lead == 0x7F || lead == '/';
    return lead == 0xC2 && static_cast<unsigned char>(character[1]) < 0xA0;
}

Status Damaged(const std::string& what) { return Status(Status::Code::Corrupt, "Damaged stream: " + what); }

}  // namespace

std::string FormatBackupTimeStamp(std::int64_t time) {
    auto t = static_cast<std::time_t>(time);
    std::tm local{};
    if (!::localtime_r(&t, &local)) return "0000000000";
    char text[32];
    std::strftime(text, sizeof text, "%y%m%d%H%M", &local);
    return text;
}

std::string MakeBackupName(const std::string* label, std::string_view timeStamp) {
    const std::string text = label ? StoredTextToUtf8(*label) : std::string("unknown");
    const int room = kMaxDiscName - static_cast<int>(timeStamp.size() + 1 + 1 + kMaxSequenceDigits + 4);
    std::string name;
    for (std::size_t at = 0; at < text.size();) {
        std::string_view character = std::string_view(text).substr(at, Utf8CharLength(static_cast<unsigned char>(text[at])));
        at += character.size();
        std::string longer = name;
        longer += IsUnfitInName(character) ? std::string_view("_") : character;
        if (Utf16Length(longer) > room) break;
        name = std::move(longer);
    }
    name += ' ';
    name += timeStamp;
    return name;
}

std::string MakeStreamName(std::string_view backupName, int sequence) {
    std::string name(backupName);
    name += ' ';
    name += std::to_string(sequence);
    name += ".cvn";
    return name;
}

bool ParseStreamName(std::string_view fileName, StreamNameParts& parts) {
    constexpr std::string_view kExtension = ".cvn";
    if (fileName.size() < kExtension.size()) return false;
    std::string_view tail = fileName.substr(fileName.size() - kExtension.size());
    for (std::size_t i = 0; i < tail.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(tail[i])) != kExtension[i]) return false;
    std::string_view title = fileName.substr(0, fileName.size() - kExtension.size());

    auto lastSpace = title.rfind(' ');
    if (lastSpace == std::string_view::npos) return false;
    std::string_view number = title.substr(lastSpace + 1);
    if (number.empty() || number.size() > 10) return false;
    long long sequence = 0;
    for (char c : number) {
        if (c < '0' || c > '9') return false;
        sequence = sequence * 10 + (c - '0');
    }
    std::string_view rest = title.substr(0, lastSpace);
    auto stampSpace = rest.rfind(' ');
    if (stampSpace == std::string_view::npos) return false;
    parts.label = std::string(rest.substr(0, stampSpace));
    parts.timeStamp = std::string(rest.substr(stampSpace + 1));
    parts.sequence = sequence;
    return true;
}

std::string StoredFolderPathOf(std::string_view relative) {
    std::string stored = "\\";
    for (char c : relative) {
        if (c == '/' || c == '\\') {
            if (stored.back() != '\\') stored += '\\';
        } else {
            stored += c;
        }
    }
    if (stored.size() > 1 && stored.back() == '\\') stored.pop_back();
    return stored;
}

bool PadPassword(std::string_view password, std::string& padded) {
    if (password.size() > static_cast<std::size_t>(kPasswordLength)) return false;
    padded = std::string(password);
    padded.resize(kPasswordLength, ' ');
    return true;
}

std::string UntypablePassword(std::string_view password) {
    if (!IsValidUtf8(password)) return "the password is not UTF-8 text, so it could not be typed to restore the backup";
    // For UTF-8 text, the shown form differs exactly where there are control characters.
    if (ShownStoredText(password) != password) return "the password holds a control character, so it could not be typed to restore the backup";
    if (!password.empty() && password.find_first_not_of(' ') == std::string_view::npos)
        return "a password of only spaces would leave the backup unprotected";
    return {};
}

bool IsNoPassword(std::string_view stored) { return stored == std::string(kPasswordLength, ' '); }

// ---- sealed names ----

namespace {

constexpr std::size_t kFolderRecordFixed = kIdBytes + kSealOverhead + 4 + 4 + 2;  // id, seal, numbers, name length
constexpr std::size_t kRecordNameFixed = kIdBytes + 8 + 8;                          // file id, two times

std::string Sealed(const BackupKey& key, const std::string& plain, const std::string& context) {
    std::string sealed(plain.size() + kSealOverhead, '\0');
    key.Seal(reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size(), context,
             reinterpret_cast<std::uint8_t*>(sealed.data()));
    return sealed;
}

// Opens a sealed piece into plain; false when it does not open.
bool Opened(const BackupKey& key, std::string_view sealed, const std::string& context, std::string& plain) {
    if (sealed.size() < kSealOverhead) return false;
    plain.assign(sealed.size() - kSealOverhead, '\0');
    return key.Open(reinterpret_cast<const std::uint8_t*>(sealed.data()), sealed.size(), context,
                    reinterpret_cast<std::uint8_t*>(plain.data()));
}

void AppendU32(std::string& out, std::uint32_t v) {
    unsigned char raw[4];
    PutU32(raw, v);
    out.append(reinterpret_cast<const char*>(raw), 4);
}
void AppendI64(std::string& out, std::int64_t v) {
    unsigned char raw[8];
    PutI64(raw, v);
    out.append(reinterpret_cast<const char*>(raw), 8);
}
const unsigned char* Bytes(std::string_view text) { return reinterpret_cast<const unsigned char*>(text.data()); }

}  // namespace

std::size_t SealedNameLength(std::string_view name) { return kSealOverhead + kRecordNameFixed + name.size(); }

std::size_t SealedFolderRecordLength(std::string_view backupName, std::string_view folderPath) {
    return kFolderRecordFixed + backupName.size() + folderPath.size();
}

std::string SealFolderRecord(const BackupKey& key, const SealId& stream, std::string_view backupName, int sequence,
                             std::uint32_t recordCount, std::string_view folderPath) {
    std::string plain;
    AppendU32(plain, static_cast<std::uint32_t>(sequence));
    AppendU32(plain, recordCount);
    plain += static_cast<char>(backupName.size() & 0xFF);
    plain += static_cast<char>(backupName.size() >> 8);
    plain += backupName;
    plain += folderPath;
    std::string record(reinterpret_cast<const char*>(stream.data()), stream.size());
    record += Sealed(key, plain, FolderContext(key.parameters(), stream));
    return record;
}

std::string SealRecordName(const BackupKey& key, const SealId& stream, std::uint32_t recordIndex,
                           std::uint32_t dataSize, const SealId& file, std::int64_t created, std::int64_t modified,
                           std::string_view name) {
    std::string plain(reinterpret_cast<const char*>(file.data()), file.size());
    AppendI64(plain, created);
    AppendI64(plain, modified);
    plain += name;
    return Sealed(key, plain, RecordContext(key.parameters(), stream, recordIndex, dataSize));
}

// ---- writer ----

Status StreamWriter::WriteOut(std::size_t n) {
    if (n == 0) return Status::Ok();
    if (bufferStart_ + n > settled_) hashWhole_ = false;
    if (hashWhole_) hash_.Update(buffer_.data(), n);
    Status s = out_.Write(buffer_.data(), n);
    bufferStart_ += n;
    buffer_.erase(0, n);
    return s;
}

Status StreamWriter::Flush() { return WriteOut(buffer_.size()); }

Status StreamWriter::Put(const void* data, std::size_t n) {
    buffer_.append(static_cast<const char*>(data), n);
    position_ += n;
    if (buffer_.size() < kWriteBuffer) return Status::Ok();
    // The open record stays behind, where its DataSize can still be set or the record taken
    // back, unless it fills the buffer by itself.
    const std::size_t settled = settled_ > bufferStart_ ? static_cast<std::size_t>(settled_ - bufferStart_) : 0;
    if (buffer_.size() - settled >= kWriteBuffer) return Flush();
    return WriteOut(settled);
}

Status StreamWriter::Finish() { return Flush(); }

bool StreamWriter::Checksum(Digest128& digest) const {
    if (!hashWhole_ || !buffer_.empty()) return false;
    digest = hash_.Digest();
    return true;
}

Status StreamWriter::WriteFolderHeader(std::string_view folderPath, std::string_view storedPassword) {
    if (folderPath.empty() || folderPath.size() > static_cast<std::size_t>(kMaxStoredText))
        return Status(Status::Code::InvalidArgument, "Folder path must be 1 to 259 bytes");
    if (storedPassword.size() != static_cast<std::size_t>(kPasswordLength))
        return Status(Status::Code::InvalidArgument, "Stored password must be 16 bytes");
    unsigned char length[4];
    PutU32(length, static_cast<std::uint32_t>(folderPath.size()));
    Status s = Put(length, 4);
    if (s.ok()) s = Put(folderPath.data(), folderPath.size());
    if (s.ok()) s = Put(storedPassword.data(), storedPassword.size());
    settled_ = position_;
    return s;
}

Status StreamWriter::BeginFile(std::string_view name, std::int64_t created, std::int64_t modified,
                               std::uint64_t sourceLength) {
    if (name.empty() || name.size() > static_cast<std::size_t>(kMaxStoredText))
        return Status(Status::Code::InvalidArgument, "File name must be 1 to 259 bytes");
    return BeginRecord(name, created, modified, sourceLength);
}

Status StreamWriter::BeginSealedFile(std::size_t nameLength, std::uint64_t sourceLength) {
    if (nameLength < 1 || nameLength > static_cast<std::size_t>(kMaxNameLength))
        return Status(Status::Code::InvalidArgument, "A sealed name must be 1 to 4095 bytes");
    return BeginRecord(std::string(nameLength, '\0'), 0, 0, sourceLength);
}

Status StreamWriter::BeginRecord(std::string_view name, std::int64_t created, std::int64_t modified,
                                 std::uint64_t sourceLength) {
    recordStart_ = position_;
    unsigned char head[4];
    PutU32(head, static_cast<std::uint32_t>(name.size()));
    Status s = Put(head, 4);
    if (s.ok()) s = Put(name.data(), name.size());
    dataSizeAt_ = position_;
    unsigned char fixed[20];
    PutU32(fixed, static_cast<std::uint32_t>(sourceLength));  // placeholder, patched by EndFile
    PutI64(fixed + 4, created);
    PutI64(fixed + 12, modified);
    if (s.ok()) s = Put(fixed, sizeof fixed);
    dataSize_ = 0;
    inFile_ = s.ok();
    return s;
}

Status StreamWriter::WriteChunk(const std::uint8_t* data, int length) {
    if (!inFile_) return Status(Status::Code::InvalidArgument, "No file record is open");
    if (length < 1 || length > kEncodeCapacity) return Status(Status::Code::InvalidArgument, "Bad chunk length");
    unsigned char head[4];
    PutU32(head, static_cast<std::uint32_t>(length));
    Status s = Put(head, 4);
    if (s.ok()) s = Put(data, static_cast<std::size_t>(length));
    dataSize_ += 4 + static_cast<std::uint64_t>(length);
    return s;
}

Status StreamWriter::EndFile() {
    if (!inFile_) return Status(Status::Code::InvalidArgument, "No file record is open");
    if (dataSize_ > std::numeric_limits<std::uint32_t>::max()) {
        Status s = AbandonFile();
        if (!s.ok()) return s;
        return Status(Status::Code::TooLarge, "The file is too large to be stored in a backup stream");
    }
    inFile_ = false;
    settled_ = position_;
    unsigned char value[4];
    PutU32(value, static_cast<std::uint32_t>(dataSize_));
    return Patch(dataSizeAt_, value, 4);
}

Status StreamWriter::Patch(std::uint64_t at, const void* data, std::size_t n) {
    if (at + n > position_) return Status(Status::Code::InvalidArgument, "Patch past the end of the stream");
    if (at >= bufferStart_) {
        std::memcpy(buffer_.data() + (at - bufferStart_), data, n);
        return Status::Ok();
    }
    hashWhole_ = false;  // bytes taken into the checksum change
    Status s = Flush();
    if (s.ok()) s = out_.Seek(static_cast<std::int64_t>(at), SeekFrom::Start);
    if (s.ok()) s = out_.Write(data, n);
    if (s.ok()) s = out_.Seek(0, SeekFrom::End);
    return s;
}

Status StreamWriter::AbandonFile() {
    inFile_ = false;
    dataSize_ = 0;
    position_ = settled_ = recordStart_;
    if (recordStart_ >= bufferStart_) {
        buffer_.resize(recordStart_ - bufferStart_);
        return Status::Ok();
    }
    buffer_.clear();
    bufferStart_ = recordStart_;
    Status s = out_.Truncate(recordStart_);
    if (s.ok()) s = out_.Seek(static_cast<std::int64_t>(recordStart_), SeekFrom::Start);
    return s;
}

// ---- reader ----

Status StreamReader::EnsureLength() {
    if (haveLength_) return Status::Ok();
    Status s = in_.Length(length_);
    if (s.ok()) haveLength_ = true;
    return s;
}

Status StreamReader::Fill() {
    // The buffer is used up; refill it with the bytes from position_ on.
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<unsigned char[]>(readSize_);
    bufferPos_ = 0;
    bufferEnd_ = 0;
    std::size_t wanted = readSize_;
    if (unreadableAt_ != kNone && unreadableAt_ + kDiscBlock > position_) {
        if (unreadableAt_ <= position_) return unreadable_;
        wanted = std::min<std::uint64_t>(wanted, unreadableAt_ - position_);
    }
    Status s = positioned_ ? Status::Ok() : in_.Seek(static_cast<std::int64_t>(position_), SeekFrom::Start);
    std::size_t got = 0;
    if (s.ok()) s = in_.Read(buffer_.get(), wanted, got);
    positioned_ = s.ok();
    if (s.ok()) {
        bufferEnd_ = got;
        return s;
    }
    return FillByDiscBlocks(wanted, s);
}

Status StreamReader::FillByDiscBlocks(std::size_t wanted, const Status& failure) {
    // A read error lies somewhere in the span: read it again a disc block at a time (a stream
    // starts on a block of its disc) and keep what comes before the block that fails, so that
    // only the records on that block are lost.
    Status s = in_.Seek(static_cast<std::int64_t>(position_), SeekFrom::Start);
    while (s.ok() && bufferEnd_ < wanted) {
        const std::uint64_t at = position_ + bufferEnd_;
        const std::size_t piece = std::min<std::uint64_t>(wanted - bufferEnd_, kDiscBlock - at % kDiscBlock);
        std::size_t got = 0;
        s = in_.Read(buffer_.get() + bufferEnd_, piece, got);
        if (!s.ok()) {
            unreadableAt_ = at / kDiscBlock * kDiscBlock;
            unreadable_ = s;
        }
        if (!s.ok() || got == 0) break;
        bufferEnd_ += got;
    }
    positioned_ = s.ok();
    if (bufferEnd_ > 0) return Status::Ok();
    return s.ok() ? failure : s;
}

Status StreamReader::ReadExact(void* data, std::size_t n, std::size_t& got) {
    auto* out = static_cast<unsigned char*>(data);
    got = 0;
    while (got < n) {
        if (bufferPos_ >= bufferEnd_) {
            Status s = Fill();
            if (!s.ok()) return s;
            if (bufferEnd_ == 0) break;
        }
        std::size_t take = std::min(n - got, bufferEnd_ - bufferPos_);
        std::memcpy(out + got, buffer_.get() + bufferPos_, take);
        bufferPos_ += take;
        got += take;
        position_ += take;
    }
    return Status::Ok();
}

Status StreamReader::SeekTo(std::uint64_t target) {
    // Forward moves within the buffer need no system call.
    if (target >= position_ && target - position_ <= bufferEnd_ - bufferPos_) {
        bufferPos_ += static_cast<std::size_t>(target - position_);
        position_ = target;
        return Status::Ok();
    }
    // Elsewhere the next read seeks: a place on an unreadable block fails only once it is read.
    bufferEnd_ = 0;
    bufferPos_ = 0;
    positioned_ = false;
    position_ = target;
    return Status::Ok();
}

Status StreamReader::ReadFolderHeader(FolderHeader& header) {
    Status s = EnsureLength();
    if (!s.ok()) return s;
    s = SeekTo(0);
    if (!s.ok()) return s;
    unsigned char raw[4];
    std::size_t got = 0;
    s = ReadExact(raw, 4, got);
    if (!s.ok()) return s;
    if (got < 4) return Damaged("too short for a folder header");
    auto pathLength = static_cast<std::int32_t>(GetU32(raw));
    if (pathLength < 1 || pathLength > kMaxStoredText)
        return Damaged("folder path length " + std::to_string(pathLength) + " is out of range");
    header.folderPath.assign(static_cast<std::size_t>(pathLength), '\0');
    s = ReadExact(header.folderPath.data(), header.folderPath.size(), got);
    if (!s.ok()) return s;
    if (got < header.folderPath.size()) return Damaged("folder path cut short");
    header.password.assign(kPasswordLength, '\0');
    s = ReadExact(header.password.data(), header.password.size(), got);
    if (!s.ok()) return s;
    if (got < header.password.size()) return Damaged("password field cut short");
    inRecord_ = false;
    endedEarly_ = false;
    headerRead_ = true;
    sealed_ = header.sealed = IsSealedMarker(header.password);
    key_ = nullptr;
    if (!sealed_) return Status::Ok();
    s = ParseKeyParameters(header.folderPath, header.parameters);
    if (!s.ok()) return s;
    header.key = keys_ ? keys_->KeyFor(header.parameters) : nullptr;
    if (!header.key) return Status::Ok();  // locked: nothing beyond the header is read
    key_ = header.key;
    return OpenFolderRecord(header);
}

Status StreamReader::OpenFolderRecord(FolderHeader& header) {
    const Status damaged = Damaged("the encrypted folder record was changed or does not belong here");
    FileRecord folderRecord;
    bool found = false;
    Status s = NextStoredRecord(folderRecord, found);
    if (!s.ok()) return s;
    const std::string& raw = folderRecord.fileName;
    if (!found || folderRecord.dataSize != 0 || raw.size() < kFolderRecordFixed) return damaged;
    std::copy_n(Bytes(raw), kIdBytes, streamId_.begin());
    std::string plain;
    if (!Opened(*key_, std::string_view(raw).substr(kIdBytes), FolderContext(header.parameters, streamId_), plain))
        return damaged;
    const unsigned char* p = Bytes(plain);
    header.sequence = GetU32(p);
    recordCount_ = GetU32(p + 4);
    const std::size_t nameLength = p[8] | std::size_t{p[9]} << 8;
    if (plain.size() < 10 + nameLength + 1) return damaged;
    header.backupName = plain.substr(10, nameLength);
    header.folderPath = plain.substr(10 + nameLength);
    inRecord_ = false;
    firstRecord_ = position_;
    recordIndex_ = 0;
    return Status::Ok();
}

Status StreamReader::Locked() const {
    return Status(Status::Code::InvalidArgument, "the folder is encrypted and its password was not given");
}

Status StreamReader::OpenRecord(FileRecord& record) {
    std::string plain;
    if (recordIndex_ == recordCount_ ||
        !Opened(*key_, record.fileName,
                RecordContext(key_->parameters(), streamId_, recordIndex_ + 1, record.dataSize), plain) ||
        plain.size() < kRecordNameFixed + 1)
        return Damaged("file record " + std::to_string(recordIndex_ + 1) +
                       " of the encrypted folder was changed, moved or added");
    ++recordIndex_;
    std::copy_n(Bytes(plain), kIdBytes, fileId_.begin());
    record.created = GetI64(Bytes(plain) + kIdBytes);
    record.modified = GetI64(Bytes(plain) + kIdBytes + 8);
    record.fileName = plain.substr(kRecordNameFixed);
    chunkIndex_ = 0;
    return Status::Ok();
}

Status StreamReader::NextRecord(FileRecord& record, bool& found) {
    if (sealed_ && !key_) return Locked();
    Status s = NextStoredRecord(record, found);
    if (!s.ok() || !sealed_) return s;
    if (found) return OpenRecord(record);
    if (recordIndex_ != recordCount_)
        return Damaged(std::to_string(recordCount_ - recordIndex_) + " file records of the encrypted folder are missing");
    return Status::Ok();
}

Status StreamReader::NextStoredRecord(FileRecord& record, bool& found) {
    found = false;
    Status s = EnsureLength();
    if (!s.ok()) return s;
    if (inRecord_) {
        s = SkipData();
        if (!s.ok()) return s;
    }
    if (position_ >= length_ || length_ - position_ < 4) {
        endedEarly_ = endedEarly_ || position_ != length_;
        return Status::Ok();
    }
    unsigned char raw[kRecordFixed - 4];
    std::size_t got = 0;
    s = ReadExact(raw, 4, got);
    if (!s.ok()) return s;
    auto nameLength = static_cast<std::int32_t>(GetU32(raw));
    if (got < 4 || nameLength < 1 || static_cast<std::uint64_t>(nameLength) >= length_ ||
        nameLength > kMaxNameLength) {
        endedEarly_ = true;
        return Status::Ok();
    }
    record.fileName.assign(static_cast<std::size_t>(nameLength), '\0');
    s = ReadExact(record.fileName.data(), record.fileName.size(), got);
    if (!s.ok()) return s;
    if (got < record.fileName.size()) {
        endedEarly_ = true;
        return Status::Ok();
    }
    record.recordOffset = position_;
    s = ReadExact(raw, sizeof raw, got);
    if (!s.ok()) return s;
    if (got < sizeof raw) {
        endedEarly_ = true;
        return Status::Ok();
    }
    EnterRecord(raw, record);
    found = true;
    return Status::Ok();
}

Status StreamReader::SeekToRecord(std::uint64_t recordOffset, FileRecord& record) {
    if (!headerRead_) {
        // Whether the stream is sealed is known from its header; a plain stream's record is
        // found without it, even when the header is damaged.
        FolderHeader header;
        Status s = ReadFolderHeader(header);
        if (!s.ok() && sealed_) return s;
    }
    if (sealed_) {
        // A sealed record is opened by its place in the stream: walk there.
        if (!key_) return Locked();
        Status s = SeekTo(firstRecord_);
        inRecord_ = false;
        recordIndex_ = 0;
        for (bool found = true; s.ok() && found;) {
            s = NextRecord(record, found);
            if (s.ok() && found && record.recordOffset == recordOffset) return s;
        }
        return s.ok() ? Damaged("record position lies past the end") : s;
    }
    return ReadRecordAt(recordOffset, record);
}

Status StreamReader::ReadRecordAt(std::uint64_t recordOffset, FileRecord& record) {
    inRecord_ = false;
    Status s = EnsureLength();
    if (!s.ok()) return s;
    if (recordOffset >= length_) return Damaged("record position lies past the end");
    s = SeekTo(recordOffset);
    if (!s.ok()) return s;
    unsigned char raw[kRecordFixed - 4];
    std::size_t got = 0;
    s = ReadExact(raw, sizeof raw, got);
    if (!s.ok()) return s;
    if (got < sizeof raw) return Damaged("file record cut short");
    record.recordOffset = recordOffset;
    EnterRecord(raw, record);
    return Status::Ok();
}

Status StreamReader::EnterListedRecord(std::uint64_t recordOffset, std::string_view storedName,
                                       std::uint32_t index, FileRecord& record) {
    if (sealed_ && !key_) return Locked();
    Status s = ReadRecordAt(recordOffset, record);
    if (!s.ok()) return s;
    record.fileName.assign(storedName);
    endedEarly_ = false;  // what lay before is the caller's to account for
    if (!sealed_) return Status::Ok();
    if (index == 0) {
        inRecord_ = false;
        return Damaged("file record 0 does not exist");
    }
    recordIndex_ = index - 1;
    s = OpenRecord(record);
    if (!s.ok()) inRecord_ = false;
    return s;
}

void StreamReader::EnterRecord(const unsigned char* fixed, FileRecord& record) {
    record.dataSize = GetU32(fixed);
    record.created = GetI64(fixed + 4);
    record.modified = GetI64(fixed + 12);
    dataSize_ = record.dataSize;
    dataStart_ = position_;
    consumed_ = 0;
    inRecord_ = true;
}

Status StreamReader::SkipData() {
    if (!inRecord_) return Status::Ok();
    inRecord_ = false;
    // From where the chunk list starts: a chunk read part way does not move the next record.
    std::uint64_t target = dataStart_ + dataSize_;
    consumed_ = dataSize_;
    if (target > length_) {  // a lying DataSize ends the listing, on damage
        target = length_;
        endedEarly_ = true;
    }
    return SeekTo(target);
}

Status StreamReader::NextChunk(std::uint8_t* buffer, int& length, bool& done) {
    length = 0;
    done = false;
    if (!inRecord_ || consumed_ >= dataSize_) {
        done = true;
        return Status::Ok();
    }
    if (dataSize_ - consumed_ < 4) return Damaged("chunk list does not add up");
    unsigned char raw[4];
    std::size_t got = 0;
    Status s = ReadExact(raw, 4, got);
    if (!s.ok()) return s;
    if (got < 4) return Damaged("chunk length cut short");
    consumed_ += 4;
    std::uint32_t chunkLength = GetU32(raw);
    if (chunkLength < 1 || chunkLength > static_cast<std::uint32_t>(kMaxChunkLength))
        return Damaged("chunk length " + std::to_string(chunkLength) + " is out of range");
    if (chunkLength > dataSize_ - consumed_) return Damaged("chunk runs past its file record");
    if (sealed_ && !sealedChunk_) sealedChunk_ = std::make_unique_for_overwrite<std::uint8_t[]>(kMaxChunkLength);
    s = ReadExact(sealed_ ? sealedChunk_.get() : buffer, chunkLength, got);
    if (!s.ok()) return s;
    if (got < chunkLength) return Damaged("chunk data cut short");
    consumed_ += chunkLength;
    length = static_cast<int>(chunkLength);
    if (!sealed_) return Status::Ok();
    // Nothing of a sealed chunk is handed on unless it opens as this file's next chunk.
    if (chunkLength <= kSealOverhead ||
        !key_->Open(sealedChunk_.get(), chunkLength, ChunkContext(key_->parameters(), streamId_, fileId_, chunkIndex_),
                    buffer))
        return Damaged("chunk " + std::to_string(chunkIndex_ + 1) + " was changed, swapped or moved from elsewhere");
    ++chunkIndex_;
    length -= static_cast<int>(kSealOverhead);
    return Status::Ok();
}

}  // namespace corvane
