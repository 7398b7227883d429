// Encrypted backups: what the discs hold of a sealed stream, and that every change to it is
// caught and named before a byte of it is used.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

#include "archive/JobRig.h"
#include "extract/FileExtractor.h"
#include "extract/TestExtractHost.h"
#include "restore/BackupCatalog.h"

namespace corvane::test {
namespace {

constexpr const char* kPassword = "s3cret pass";

std::uint32_t U32At(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
}
void PutU32At(std::string& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

// Where the parts of a stream lie, walked by the lengths alone, as a reader without the key
// walks it.
struct Layout {
    struct Record {
        std::size_t name = 0, nameLength = 0;  // the (sealed) FileName
        std::size_t dataSize = 0;              // the DataSize field
        std::vector<std::size_t> chunks;       // each chunk's ChunkLength field
    };
    std::size_t folderPath = 4, folderPathLength = 0;
    std::vector<Record> records;  // the folder record first

    explicit Layout(const std::string& bytes) {
        folderPathLength = U32At(bytes, 0);
        for (std::size_t at = 4 + folderPathLength + 16; at + 4 <= bytes.size();) {
            Record record;
            record.nameLength = U32At(bytes, at);
            record.name = at + 4;
            record.dataSize = record.name + record.nameLength;
            const std::size_t end = record.dataSize + 20 + U32At(bytes, record.dataSize);
            for (at = record.dataSize + 20; at < end; at += 4 + U32At(bytes, at)) record.chunks.push_back(at);
            records.push_back(record);
        }
    }
    // A chunk's whole bytes, length field included.
    static std::string ChunkAt(const std::string& bytes, std::size_t at) { return bytes.substr(at, 4 + U32At(bytes, at)); }
};

// One encrypted backup of a small tree: its streams by name, as the disc holds them.
struct SealedBackup {
    explicit SealedBackup(const std::string& label = "DATA") {
        rig.host.sourceSelection = SourceChoice{rig.source.path(), label};
        rig.host.password = kPassword;
        rig.host.encrypt = true;
        // Two files of the same content: their chunks have the same lengths, so one can stand
        // in for the other without changing any length.
        const std::string text = SampleBytes(9000, 7);
        rig.source.WriteFile("Docs/twin one.txt", text);
        rig.source.WriteFile("Docs/twin two.txt", text);
        rig.source.WriteFile("Docs/three.bin", SampleBytes(5000, 3));
        rig.source.WriteFile("top.txt", "at the root");
        EXPECT_EQ(rig.Run(), BackupOutcome::Completed) << Messages(rig.host);
        for (const auto& disc : rig.master->recordedDiscs())
            for (const auto& file : disc.files)
                if (file.name.ends_with(".cvn")) streams[file.name] = file.bytes;
        docs = NameOfFolder("\\Docs");
    }

    // The name of the stream of a folder, found by reading each with the password.
    std::string NameOfFolder(const std::string& folder) {
        KeyRing keys;
        keys.AddPassword(kPassword);
        for (const auto& [name, bytes] : streams) {
            ReadBack back;
            if (ReadSampleStream(rig.scratch.WriteFile("probe.cvn", bytes), back, DefaultFileSystem(), &keys).ok() &&
                back.header.folderPath == folder)
                return name;
        }
        ADD_FAILURE() << "no stream of " << folder;
        return {};
    }

    JobRig rig;
    std::map<std::string, std::string> streams;
    std::string docs;  // the name of the stream of \Docs
};

// Reads every stream as a restore does, with the password: the first failure, or Ok.
Status ReadAll(const std::map<std::string, std::string>& streams, ScratchFolder& folder) {
    KeyRing keys;
    keys.AddPassword(kPassword);
    for (const auto& [name, bytes] : streams) {
        BackupStream stream;
        stream.path = folder.WriteFile(name, bytes);
        StreamNameParts parts;
        EXPECT_TRUE(ParseStreamName(name, parts));
        stream.label = parts.label;
        stream.timeStamp = parts.timeStamp;
        stream.sequence = parts.sequence;
        Status s = ReadStreamHeader(DefaultFileSystem(), stream, &keys);
        if (!s.ok()) return s;
        if (!stream.key) return Status(Status::Code::InvalidArgument, "the password no longer opens " + name);
        ReadBack back;
        s = ReadSampleStream(stream.path, back, DefaultFileSystem(), &keys);
        if (!s.ok()) return s;
    }
    return Status::Ok();
}

TEST(SealedStream, HoldsNoNameNoPathNoTimeAndNoPasswordAndReadsBackWithTheKey) {
    SealedBackup backup;
    ASSERT_EQ(backup.streams.size(), 2u);
    const std::string docs = backup.streams.at(backup.docs);
    for (const char* plain : {"Docs", "twin", "three", "top.txt", kPassword}) {
        for (const auto& [name, bytes] : backup.streams) EXPECT_EQ(bytes.find(plain), std::string::npos) << plain << " in " << name;
    }
    // What a reader without the key sees: the header, and a password no one can type.
    std::string path = backup.rig.scratch.WriteFile("docs.cvn", docs);
    std::unique_ptr<File> in;
    ASSERT_TRUE(DefaultFileSystem().OpenRead(path, in).ok());
    StreamReader gateOnly(*in);
    FolderHeader header;
    ASSERT_TRUE(gateOnly.ReadFolderHeader(header).ok());
    EXPECT_TRUE(header.sealed);
    EXPECT_FALSE(IsNoPassword(header.password));
    EXPECT_FALSE(UntypablePassword(header.password).empty());
    FileRecord record;
    bool found = false;
    EXPECT_FALSE(gateOnly.NextRecord(record, found).ok()) << "nothing is read beyond the header without the key";

    ReadBack back;
    KeyRing keys;
    keys.AddPassword(kPassword);
    ASSERT_TRUE(ReadSampleStream(path, back, DefaultFileSystem(), &keys).ok());
    EXPECT_EQ(back.header.folderPath, "\\Docs");
    std::map<std::string, std::string> files;
    for (const auto& file : back.files) files[file.name] = file.content;
    EXPECT_EQ(files.at("twin one.txt"), SampleBytes(9000, 7));
    EXPECT_EQ(files.at("three.bin"), SampleBytes(5000, 3));
    for (const auto& file : back.files) EXPECT_GT(file.modified, 0) << "times come back from the sealed name";
}

TEST(SealedStream, WrongPasswordFailsTheKeyCheckAlone) {
    SealedBackup backup;
    const std::string& bytes = backup.streams.begin()->second;
    const std::string path = backup.rig.scratch.WriteFile("any.cvn", bytes);
    KeyParameters parameters;
    ASSERT_TRUE(ParseKeyParameters(std::string_view(bytes).substr(4, U32At(bytes, 0)), parameters).ok());
    std::unique_ptr<BackupKey> key;
    Status s = BackupKey::Open("s3cret pas", parameters, key);
    EXPECT_EQ(s.message(), "Invalid Password");
    EXPECT_FALSE(key);
    EXPECT_TRUE(BackupKey::Open(std::string(kPassword) + "  ", parameters, key).ok())
        << "trailing blanks are no part of a password, as for the stored one";

    KeyRing wrong;
    wrong.AddPassword("s3cret pas");
    ReadBack back;
    EXPECT_FALSE(ReadSampleStream(path, back, DefaultFileSystem(), &wrong).ok());
    EXPECT_TRUE(wrong.Refused(parameters));
    EXPECT_TRUE(back.files.empty());
}

// Each row changes the backup's streams as an attacker with the discs could; reading them with
// the password must fail, naming what failed.
struct Tampering {
    const char* name;
    std::function<void(SealedBackup&, std::map<std::string, std::string>&)> change;
    const char* named;  // in the failure's message
};

std::string& DocsStream(SealedBackup& backup, std::map<std::string, std::string>& streams) {
    return streams.at(backup.docs);
}
// The records of Docs in stream order are the folder record, then its files in listing order;
// which twin comes first does not matter to any row.
const Layout::Record& FileRecordOf(const Layout& layout, std::size_t index) { return layout.records.at(index); }

const Tampering kTamperings[] = {
    {"a flipped byte in a chunk",
     [](SealedBackup& b, auto& streams) {
         std::string& s = DocsStream(b, streams);
         Layout layout(s);
         s[FileRecordOf(layout, 1).chunks.at(1) + 20] ^= 0x01;
     },
     "chunk 2 was changed"},
    {"a flipped byte in a file name",
     [](SealedBackup& b, auto& streams) {
         std::string& s = DocsStream(b, streams);
         s[FileRecordOf(Layout(s), 2).name + 30] ^= 0x01;
     },
     "file record 2 of the encrypted folder"},
    {"a flipped byte in the folder record",
     [](SealedBackup& b, auto& streams) {
         std::string& s = DocsStream(b, streams);
         s[FileRecordOf(Layout(s), 0).name + 50] ^= 0x01;
     },
     "encrypted folder record was changed"},
    {"a flipped byte in the header's key parameters",
     [](SealedBackup& b, auto& streams) {
         std::string& s = DocsStream(b, streams);
         char& c = s[Layout(s).folderPath + 10];
         c = c == 'A' ? 'B' : 'A';
     },
     "the password no longer opens"},
    {"two chunks of a file swapped",
     [](SealedBackup& b, auto& streams) {
         std::string& s = DocsStream(b, streams);
         const Layout layout(s);
         const auto& chunks = FileRecordOf(layout, 1).chunks;
         const std::string first = Layout::ChunkAt(s, chunks[0]), second = Layout::ChunkAt(s, chunks[1]);
         s.replace(chunks[0], first.size() + second.size(), second + first);  // the file's size stays
     },
     "chunk 1 was changed, swapped"},
    {"a chunk moved in from the other file",
     [](SealedBackup& b, auto& streams) {
         std::string& s = DocsStream(b, streams);
         Layout layout(s);
         const Layout::Record* twins[2] = {};
         for (std::size_t i = 1; i < layout.records.size(); ++i)
             if (layout.records[i].chunks.size() == 3) (twins[0] ? twins[1] : twins[0]) = &layout.records[i];
         ASSERT_TRUE(twins[1]);
         const std::string chunk = Layout::ChunkAt(s, twins[0]->chunks[0]);
         s.replace(twins[1]->chunks[0], chunk.size(), chunk);
     },
     "chunk 1 was changed, swapped or moved"},
    {"a chunk moved in from another backup with the same password",
     [](SealedBackup& b, auto& streams) {
         SealedBackup other("OTHER");
         std::string& s = DocsStream(b, streams);
         const std::string& o = other.streams.at(other.docs);
         const std::size_t mine = FileRecordOf(Layout(s), 1).chunks[2];
         const std::string chunk = Layout::ChunkAt(o, FileRecordOf(Layout(o), 1).chunks[2]);
         ASSERT_EQ(chunk.size(), Layout::ChunkAt(s, mine).size());
         s.replace(mine, chunk.size(), chunk);
     },
     "chunk 3 was changed, swapped or moved"},
    {"the last chunk of a file cut off",
     [](SealedBackup& b, auto& streams) {
         std::string& s = DocsStream(b, streams);
         const Layout layout(s);
         const Layout::Record& record = FileRecordOf(layout, 1);
         const std::string last = Layout::ChunkAt(s, record.chunks.back());
         PutU32At(s, record.dataSize, U32At(s, record.dataSize) - static_cast<std::uint32_t>(last.size()));
         s.erase(record.chunks.back(), last.size());
     },
     "file record 1 of the encrypted folder"},
    {"the last file record dropped",
     [](SealedBackup& b, auto& streams) {
         std::string& s = DocsStream(b, streams);
         s.resize(Layout(s).records.back().name - 4);
     },
     "file records of the encrypted folder are missing"},
    {"two streams swapped by name",
     [](SealedBackup&, auto& streams) {
         auto first = streams.begin(), second = std::next(first);
         std::swap(first->second, second->second);
     },
     "written as another stream"},
};

// The rows change copies of one backup: a key is derived in a fraction of a second, on purpose.
class SealedStreamTampering : public ::testing::TestWithParam<Tampering> {
  protected:
    static void SetUpTestSuite() { backup_ = std::make_unique<SealedBackup>(); }
    static void TearDownTestSuite() { backup_.reset(); }
    static std::unique_ptr<SealedBackup> backup_;
};
std::unique_ptr<SealedBackup> SealedStreamTampering::backup_;

TEST(SealedStream, UntouchedReadsBackWhole) {
    SealedBackup backup;
    ScratchFolder folder;
    EXPECT_TRUE(ReadAll(backup.streams, folder).ok());
}

TEST_P(SealedStreamTampering, IsCaughtAndNamed) {
    SealedBackup& backup = *backup_;
    ScratchFolder folder;
    auto streams = backup.streams;
    GetParam().change(backup, streams);
    const Status s = ReadAll(streams, folder);
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.message().find(GetParam().named), std::string::npos) << s.message();
}

INSTANTIATE_TEST_SUITE_P(Rows, SealedStreamTampering, ::testing::ValuesIn(kTamperings),
                         [](const ::testing::TestParamInfo<Tampering>& row) {
                             std::string name = row.param.name;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

TEST(SealedStream, AChunkThatFailsFailsItsFileAloneAndLeavesNoPartOfIt) {
    SealedBackup backup;
    std::string docs = backup.streams.at(backup.docs);
    const Layout layout(docs);
    const Layout::Record& twin = layout.records.at(layout.records[1].chunks.size() == 3 ? 1 : 2);
    docs[twin.chunks.at(2) + 30] ^= 0x01;  // its last chunk: two good ones come before it
    ScratchFolder destination;
    TestExtractHost host(destination.path());
    KeyRing keys;
    keys.AddPassword(kPassword);
    host.keys = &keys;
    ExtractFolderStream(host, backup.rig.scratch.WriteFile(backup.docs, docs));

    ASSERT_EQ(host.notRestored.size(), 1u);
    EXPECT_TRUE(host.notRestored[0].first.starts_with("Docs\\twin ")) << host.notRestored[0].first;
    EXPECT_EQ(host.restored.size(), 2u) << "the other files of the folder come back";
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(destination / "Docs")) left.push_back(entry.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left.size(), 2u) << "no part of the failed file, under its name or a hidden one";
    for (const auto& name : left) EXPECT_TRUE(name == "three.bin" || name.starts_with("twin ")) << name;
}

}  // namespace
}  // namespace corvane::test
