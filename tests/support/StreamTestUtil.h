#pragma once
// Writes and reads whole streams for tests.

#include <string>
#include <vector>

#include "archive/BlockCodec.h"
#include "archive/StreamFormat.h"
#include "platform/FileLayer.h"

namespace corvane::test {

struct SampleFile {
    std::string name;
    std::string content;
    std::int64_t created = 1199145600;
    std::int64_t modified = 1199145600;
    int damagedChunk = -1;  // index of a chunk written with one byte flipped, so it won't decode
};

// Writes a stream file at path; returns the bytes written.
inline Status WriteSampleStream(const std::string& path, const std::string& folderPath,
                                const std::string& password, const std::vector<SampleFile>& files) {
    std::unique_ptr<File> out;
    Status s = DefaultFileSystem().OpenWrite(path, out);
    if (!s.ok()) return s;
    StreamWriter writer(*out);
    std::string stored;
    if (!PadPassword(password, stored)) return Status(Status::Code::InvalidArgument, "password");
    s = writer.WriteFolderHeader(folderPath, stored);
    for (const auto& f : files) {
        if (!s.ok()) return s;
        s = writer.BeginFile(f.name, f.created, f.modified, f.content.size());
        for (std::size_t at = 0; s.ok() && at < f.content.size(); at += kPieceSize) {
            int n = static_cast<int>(std::min<std::size_t>(kPieceSize, f.content.size() - at));
            std::uint8_t chunk[kEncodeCapacity];
            int length = 0;
            s = EncodeChunk(reinterpret_cast<const std::uint8_t*>(f.content.data() + at), n, chunk, length);
            if (s.ok() && static_cast<int>(at / kPieceSize) == f.damagedChunk) chunk[length / 2] ^= 0x55;
            if (s.ok()) s = writer.WriteChunk(chunk, length);
        }
        if (s.ok()) s = writer.EndFile();
    }
    if (s.ok()) s = writer.Finish();
    Status closed = out->Close();
    return s.ok() ? closed : s;
}

// Where the record of the first file named name lies in a stream, read without decoding any
// chunk; 0 when there is none.
inline std::uint64_t OffsetOf(const std::string& path, const std::string& name) {
    std::unique_ptr<File> in;
    if (!DefaultFileSystem().OpenRead(path, in).ok()) return 0;
    StreamReader reader(*in);
    FolderHeader header;
    if (!reader.ReadFolderHeader(header).ok()) return 0;
    FileRecord record;
    for (bool found = true; reader.NextRecord(record, found).ok() && found;) {
        if (record.fileName == name) return record.recordOffset;
    }
    return 0;
}

struct ReadBack {
    FolderHeader header;
    std::vector<SampleFile> files;
    std::vector<FileRecord> records;
};

// Reads a whole stream back, decoding every chunk; an encrypted one with the keys of the ring.
inline Status ReadSampleStream(const std::string& path, ReadBack& result,
                               FileSystem& files = DefaultFileSystem(), KeyRing* keys = nullptr) {
    std::unique_ptr<File> in;
    Status s = files.OpenRead(path, in);
    if (!s.ok()) return s;
    StreamReader reader(*in, 1 << 16, keys);
    s = reader.ReadFolderHeader(result.header);
    if (!s.ok()) return s;
    for (;;) {
        FileRecord record;
        bool found = false;
        s = reader.NextRecord(record, found);
        if (!s.ok() || !found) return s;
        SampleFile file{record.fileName, {}, record.created, record.modified};
        for (;;) {
            std::uint8_t chunk[kMaxChunkLength], piece[kDecodeCapacity];
            int length = 0, pieceLength = 0;
            bool done = false;
            s = reader.NextChunk(chunk, length, done);
            if (!s.ok()) return s;
            if (done) break;
            s = DecodeChunk(chunk, length, piece, pieceLength);
            if (!s.ok()) return s;
            file.content.append(reinterpret_cast<char*>(piece), static_cast<std::size_t>(pieceLength));
        }
        result.files.push_back(std::move(file));
        result.records.push_back(record);
    }
}

}  // namespace corvane::test
