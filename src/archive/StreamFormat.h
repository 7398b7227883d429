#pragma once
// Backup streams: one file per backed-up folder. A folder header (PathLength, FolderPath,
// Password) is followed by one record per file (NameLength, FileName, DataSize,
// CreationTime, LastWriteTime, chunk list); each chunk is ChunkLength and ChunkData.
// Integers are little-endian; there is no magic, count or checksum.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "archive/BackupKey.h"
#include "archive/ContentHash.h"
#include "platform/FileLayer.h"

namespace corvane {

constexpr int kPasswordLength = 16;
constexpr int kMaxStoredText = 259;  // names and paths are shorter than 260 bytes
constexpr std::uint64_t kFolderHeaderFixed = 4 + kPasswordLength;
constexpr std::uint64_t kRecordFixed = 4 + 4 + 8 + 8;  // NameLength, DataSize, two times
constexpr std::size_t kLargestFolderHeader = kFolderHeaderFixed + kMaxStoredText;

// "%y%m%d%H%M" of a time in local time.
std::string FormatBackupTimeStamp(std::int64_t time);
// "%s %s" of the volume label ("unknown" when it could not be read) and the time stamp, made
// fit for the disc: a label that is not UTF-8 is read as Windows-1252 (as restore reads it),
// '/' and control characters become '_', and the label is cut, by whole characters, so that
// every stream name of the backup (numbers of up to six digits) keeps to the 64 UTF-16
// characters of a Joliet name. An empty label stays empty (" 0812251430").
std::string MakeBackupName(const std::string* label, std::string_view timeStamp);
// "%s %d.cvn".
std::string MakeStreamName(std::string_view backupName, int sequence);

struct StreamNameParts {
    std::string label;
    std::string timeStamp;
    long long sequence = 0;
};
// Takes "<label> <stamp> <sequence>.cvn" apart from the right, so labels may hold spaces.
// False when the name does not have that shape.
bool ParseStreamName(std::string_view fileName, StreamNameParts& parts);

// The stored form of a folder path relative to the drive's root ("Docs/2008" gives
// "\Docs\2008", "" gives "\"): '/' and '\' separate folders, empty steps are dropped.
std::string StoredFolderPathOf(std::string_view relative);

// The stored form of a password: padded with spaces to 16 bytes. Longer ones are refused.
bool PadPassword(std::string_view password, std::string& padded);
// Why a password could not be typed back to restore the backup, or "" when it can: it is not
// UTF-8 text, holds a control character (NUL included), or is only spaces, which is stored as
// no password at all.
std::string UntypablePassword(std::string_view password);
// True when a stored password means "no password" (16 spaces).
bool IsNoPassword(std::string_view stored);

struct FolderHeader {
    std::string folderPath;  // "\" for the root, "\Docs\2008" below it
    std::string password;    // the 16 stored bytes
    // A sealed stream (Password holds kSealedMarker): its key parameters, and once a password
    // of the reader's key ring opened it, its key, the backup name and stream number it was
    // written as, and its real folderPath.
    bool sealed = false;
    KeyParameters parameters;
    std::shared_ptr<const BackupKey> key;
    std::string backupName;
    long long sequence = -1;
};

// The FileName of a sealed stream's folder record: the stream id, then the sealed backup name,
// stream number, record count and folder path. Its length does not depend on the record count,
// so the record is written first and sealed when the stream ends.
std::string SealFolderRecord(const BackupKey& key, const SealId& stream, std::string_view backupName,
                             int sequence, std::uint32_t recordCount, std::string_view folderPath);
// The FileName of a sealed file record, once its DataSize is known; recordIndex counts from 1.
std::string SealRecordName(const BackupKey& key, const SealId& stream, std::uint32_t recordIndex,
                           std::uint32_t dataSize, const SealId& file, std::int64_t created, std::int64_t modified,
                           std::string_view name);
// The length of the sealed forms of a name and of a folder record.
std::size_t SealedNameLength(std::string_view name);
std::size_t SealedFolderRecordLength(std::string_view backupName, std::string_view folderPath);

struct FileRecord {
    std::string fileName;
    std::uint32_t dataSize = 0;
    std::int64_t created = 0;
    std::int64_t modified = 0;
    std::uint64_t recordOffset = 0;  // position of DataSize from the start of the stream
};

// Writes one stream into a file opened for writing.
class StreamWriter {
public:
    explicit StreamWriter(File& out) : out_(out) {}

    Status WriteFolderHeader(std::string_view folderPath, std::string_view storedPassword);
    // Starts a record; DataSize holds a placeholder until EndFile.
    Status BeginFile(std::string_view name, std::int64_t created, std::int64_t modified,
                     std::uint64_t sourceLength);
    // Starts a sealed record: room for its sealed name, sealed by Patch once its size is known.
    Status BeginSealedFile(std::size_t nameLength, std::uint64_t sourceLength);
    Status WriteChunk(const std::uint8_t* data, int length);
    // Writes the real DataSize. Fails with TooLarge, and removes the record, when the
    // chunk list does not fit 32 bits.
    Status EndFile();
    // Removes the record begun last, as if the file had never been seen.
    Status AbandonFile();
    // Writes out what is still buffered; call before closing the file.
    Status Finish();
    // After Finish: the checksum of every byte of the stream, taken as they were written.
    // False when bytes had to be written while they could still change (a record of more than
    // the 1 MiB write buffer, whose DataSize is set later, or a sealed folder record patched
    // after it was written): the stream must then be read back for its checksum.
    bool Checksum(Digest128& digest) const;
    // Overwrites n bytes written earlier at position at: a sealed name once its record's size
    // is known.
    Status Patch(std::uint64_t at, const void* data, std::size_t n);
    // Where the FileName of the record begun last starts.
    std::uint64_t nameStart() const { return recordStart_ + 4; }

    std::uint64_t position() const { return position_; }
    // Where the DataSize of the record begun last lies: the file's place in the stream.
    std::uint64_t recordOffset() const { return dataSizeAt_; }
    // Sum of 4 + ChunkLength over the chunks of the open record.
    std::uint64_t currentDataSize() const { return dataSize_; }

private:
    Status Put(const void* data, std::size_t n);
    // Writes the first n buffered bytes, taking them into the checksum while all are settled.
    Status WriteOut(std::size_t n);
    Status Flush();
    Status BeginRecord(std::string_view name, std::int64_t created, std::int64_t modified, std::uint64_t sourceLength);

    File& out_;
    std::string buffer_;             // bytes not yet written, starting at bufferStart_
    std::uint64_t bufferStart_ = 0;
    std::uint64_t position_ = 0;
    std::uint64_t recordStart_ = 0;
    std::uint64_t dataSizeAt_ = 0;
    std::uint64_t dataSize_ = 0;
    bool inFile_ = false;
    std::uint64_t settled_ = 0;  // the bytes before this no longer change
    ContentHash hash_;           // of the bytes written, while they were all settled
    bool hashWhole_ = true;
};

// Reads a stream with buffered reads. It never reads past the end of the stream and never
// trusts a length field: damage is reported as Corrupt, never as a crash.
class StreamReader {
public:
    // Each read from the file asks for readSize bytes: reading the folder header alone needs no
    // more than kLargestFolderHeader.
    // A sealed stream is opened with the keys of the ring, when one of its passwords fits.
    explicit StreamReader(File& in, std::size_t readSize = 1 << 16, KeyRing* keys = nullptr)
        : in_(in), readSize_(readSize), keys_(keys) {}

    // Reads the folder header; the stream must start at position 0. A sealed stream that the
    // key ring opens is read as a plain one from then on: its names, times and chunks come out
    // opened, and anything changed, swapped, moved or dropped is reported as Corrupt. One it
    // does not open cannot be read beyond its header.
    Status ReadFolderHeader(FolderHeader& header);
    // The next record's head. found is false when the stream ends here by the reading rules
    // (fewer than 4 bytes left, NameLength below 1 or not below the stream length).
    Status NextRecord(FileRecord& record, bool& found);
    // Goes to the record whose DataSize lies at recordOffset and reads DataSize and times.
    Status SeekToRecord(std::uint64_t recordOffset, FileRecord& record);
    // Goes to a record that a catalogue places, reading nothing before it, for when damage hides
    // the way there: the index-th file record (from 1), whose DataSize lies at recordOffset and
    // whose FileName is storedName. After the folder header; reading goes on from there, and
    // damage seen before it no longer counts for endedEarly.
    Status EnterListedRecord(std::uint64_t recordOffset, std::string_view storedName, std::uint32_t index,
                             FileRecord& record);
    // Skips the rest of the current record's chunk list.
    Status SkipData();
    // The next chunk of the current record into buffer (kMaxChunkLength bytes), opened when
    // sealed; done is true once the chunk list is consumed.
    Status NextChunk(std::uint8_t* buffer, int& length, bool& done);

    std::uint64_t position() const { return position_; }
    std::uint64_t length() const { return length_; }
    // Bytes of the current record's chunk list consumed so far.
    std::uint64_t consumed() const { return consumed_; }
    // True when the record list ended on damage (a cut or impossible field) rather than
    // cleanly at the end of the stream.
    bool endedEarly() const { return endedEarly_; }

private:
    Status EnsureLength();
    Status ReadExact(void* data, std::size_t n, std::size_t& got);
    Status Fill();
    // Fill after a failed read of wanted bytes: the bytes before the first unreadable disc block.
    Status FillByDiscBlocks(std::size_t wanted, const Status& failure);
    Status SeekTo(std::uint64_t position);
    // Reads DataSize and the two times of the record whose DataSize lies at recordOffset and
    // starts reading its chunks.
    Status ReadRecordAt(std::uint64_t recordOffset, FileRecord& record);
    // Takes DataSize and the two times (20 bytes) and starts reading that record's chunks.
    void EnterRecord(const unsigned char* fixed, FileRecord& record);
    // The record's head as stored: NextRecord without opening a sealed name.
    Status NextStoredRecord(FileRecord& record, bool& found);
    // Opens the sealed folder record that follows the header.
    Status OpenFolderRecord(FolderHeader& header);
    // Opens a sealed record's name and times, checking its place in the stream.
    Status OpenRecord(FileRecord& record);
    Status Locked() const;

    File& in_;
    std::size_t readSize_;
    bool haveLength_ = false;
    std::uint64_t length_ = 0;
    std::uint64_t position_ = 0;  // logical position in the stream
    bool positioned_ = false;     // the file's own position is known to match
    // The first byte of the last disc block that could not be read, and why: reads stop short
    // of it rather than fail on it again.
    static constexpr std::uint64_t kDiscBlock = 2048;
    static constexpr std::uint64_t kNone = ~std::uint64_t{0};
    std::uint64_t unreadableAt_ = kNone;
    Status unreadable_;
    // readSize_ bytes, made at the first read and never zeroed: only the bufferEnd_ bytes read
    // into it are used. A stream of a few hundred bytes then costs no 64 KiB of zeroing.
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t bufferEnd_ = 0;
    std::size_t bufferPos_ = 0;
    std::uint32_t dataSize_ = 0;
    std::uint64_t dataStart_ = 0;  // where the current record's chunk list starts
    std::uint64_t consumed_ = 0;
    bool inRecord_ = false;
    bool endedEarly_ = false;
    // Sealed streams.
    KeyRing* keys_;
    bool headerRead_ = false;
    bool sealed_ = false;
    std::shared_ptr<const BackupKey> key_;  // null while a sealed stream is locked
    SealId streamId_{};
    std::uint32_t recordCount_ = 0;   // file records the folder record promises
    std::uint32_t recordIndex_ = 0;   // file records opened so far
    std::uint64_t firstRecord_ = 0;   // where the file records start
    SealId fileId_{};                 // the current record's
    std::uint32_t chunkIndex_ = 0;
    std::unique_ptr<std::uint8_t[]> sealedChunk_;
};

}  // namespace corvane
