#include <gtest/gtest.h>

#include "support/ScratchFolder.h"
#include "support/StreamTestUtil.h"

namespace corvane {
namespace {

using test::ReadBack;
using test::SampleFile;

std::vector<unsigned char> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(StreamFormat, WorkedExampleIsByteExact) {
    test::ScratchFolder dir;
    std::string path = dir / "DATA 0812251430 0.cvn";
    ASSERT_TRUE(test::WriteSampleStream(path, "\\Docs", "", {{"a.txt", "abc"}}).ok());

    const std::vector<unsigned char> expected = {
        0x05, 0x00, 0x00, 0x00, 0x5C, 0x44, 0x6F, 0x63, 0x73,                          // \\Docs
        0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
        0x05, 0x00, 0x00, 0x00, 0x61, 0x2E, 0x74, 0x78, 0x74,                          // a.txt
        0x0F, 0x00, 0x00, 0x00,                                                        // DataSize 15
        0x80, 0x82, 0x79, 0x47, 0x00, 0x00, 0x00, 0x00, 0x80, 0x82, 0x79, 0x47, 0x00, 0x00, 0x00, 0x00,
        0x0B, 0x00, 0x00, 0x00, 0x83, 0x9C, 0x4B, 0x4C, 0x4A, 0x06, 0x00, 0x02, 0x4D, 0x01, 0x27};
    ASSERT_EQ(expected.size(), 69u);
    EXPECT_EQ(Bytes(test::ReadWholeFile(path)), expected);
}

// The writer takes the checksum of a stream as it writes it, whatever the flushes, records
// taken back and DataSize set; only a record longer than its buffer makes it say that the
// stream must be read back instead.
TEST(StreamFormat, WritersChecksumIsThatOfTheBytesWritten) {
    struct Record {
        std::size_t chunks;  // of 4000 bytes
        bool keep;
    };
    const struct {
        const char* what;
        std::vector<Record> records;
        bool taken;
    } cases[] = {
        {"a folder header alone", {}, true},
        {"small records", {{1, true}, {0, true}, {3, true}}, true},
        {"a record taken back between two", {{2, true}, {5, false}, {1, true}}, true},
        {"700 records flushed between them", std::vector<Record>(700, {2, true}), true},
        {"records taken back after a flush", {{200, true}, {100, false}, {200, true}, {100, false}}, true},
        {"a record longer than the buffer", {{10, true}, {300, true}, {1, true}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchFolder dir;
        const std::string path = dir / "x 0.cvn";
        std::unique_ptr<File> out;
        ASSERT_TRUE(DefaultFileSystem().OpenWrite(path, out).ok());
        StreamWriter writer(*out);
        ASSERT_TRUE(writer.WriteFolderHeader("\\Docs", std::string(16, ' ')).ok());
        const std::string chunk = test::SampleBytes(4000, 3);
        for (std::size_t r = 0; r < c.records.size(); ++r) {
            ASSERT_TRUE(writer.BeginFile("f" + std::to_string(r), 1, 2, 0).ok());
            for (std::size_t i = 0; i < c.records[r].chunks; ++i)
                ASSERT_TRUE(writer.WriteChunk(reinterpret_cast<const std::uint8_t*>(chunk.data()), 4000).ok());
            ASSERT_TRUE((c.records[r].keep ? writer.EndFile() : writer.AbandonFile()).ok());
        }
        ASSERT_TRUE(writer.Finish().ok());
        ASSERT_TRUE(out->Close().ok());
        Digest128 taken{};
        ASSERT_EQ(writer.Checksum(taken), c.taken);
        const std::string bytes = test::ReadWholeFile(path);
        EXPECT_EQ(writer.position(), bytes.size());
        if (!c.taken) continue;
        ContentHash hash;
        hash.Update(bytes.data(), bytes.size());
        EXPECT_EQ(taken, hash.Digest());
    }
}

struct RoundTripCase {
    const char* what;
    std::string folderPath;
    std::string password;
    std::vector<SampleFile> files;
    std::size_t expectedStreamSize;  // 0: not checked
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.what; }

class StreamRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(StreamRoundTrip, ReadsBackWhatWasWritten) {
    const auto& c = GetParam();
    test::ScratchFolder dir;
    std::string path = dir / "x 0.cvn";
    ASSERT_TRUE(test::WriteSampleStream(path, c.folderPath, c.password, c.files).ok());
    if (c.expectedStreamSize) {
        EXPECT_EQ(test::ReadWholeFile(path).size(), c.expectedStreamSize);
    }

    ReadBack back;
    ASSERT_TRUE(test::ReadSampleStream(path, back).ok());
    EXPECT_EQ(back.header.folderPath, c.folderPath);
    std::string stored;
    ASSERT_TRUE(PadPassword(c.password, stored));
    EXPECT_EQ(back.header.password, stored);
    ASSERT_EQ(back.files.size(), c.files.size());
    for (std::size_t i = 0; i < c.files.size(); ++i) {
        EXPECT_EQ(back.files[i].name, c.files[i].name);
        EXPECT_EQ(back.files[i].content, c.files[i].content) << c.files[i].name;
        EXPECT_EQ(back.files[i].created, c.files[i].created);
        EXPECT_EQ(back.files[i].modified, c.files[i].modified);
        if (c.files[i].content.empty()) {
            EXPECT_EQ(back.records[i].dataSize, 0u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamRoundTrip,
    ::testing::Values(
        RoundTripCase{"empty file", "\\", "", {{"empty.txt", ""}}, 20 + 1 + 24 + 9},
        RoundTripCase{"empty folder", "\\Empty Folder", "", {}, 20 + 13},
        RoundTripCase{"one full piece", "\\a", "", {{"f4096", test::SampleBytes(4096, 1)}}, 0},
        RoundTripCase{"one piece and a byte", "\\a", "", {{"f4097", test::SampleBytes(4097, 2)}}, 0},
        RoundTripCase{"16-character password", "\\p", "0123456789abcdef", {{"x", "y"}}, 0},
        RoundTripCase{"password with inner spaces", "\\p", "a b", {{"x", "y"}}, 0},
        RoundTripCase{"several files, large and small",
                      "\\Docs\\2008",
                      "secret",
                      {{"a.bin", test::SampleBytes(3 * 4096 + 17, 3)},
                       {"b b.txt", "hello"},
                       {"Ümlaut.txt", test::SampleBytes(70000, 4), -5, 4102444800}},
                      0}),
    [](const auto& param) {
        std::string name = param.param.what;
        for (char& ch : name)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

TEST(StreamFormat, FullPieceAndOneByteMore) {
    test::ScratchFolder dir;
    std::string path = dir / "s.cvn";
    ASSERT_TRUE(test::WriteSampleStream(path, "\\", "", {{"a", std::string(4096, 'a')}, {"b", std::string(4097, 'b')}}).ok());
    std::unique_ptr<File> in;
    ASSERT_TRUE(DefaultFileSystem().OpenRead(path, in).ok());
    StreamReader reader(*in);
    FolderHeader header;
    ASSERT_TRUE(reader.ReadFolderHeader(header).ok());
    std::vector<std::vector<int>> pieceSizes;
    for (;;) {
        FileRecord record;
        bool found = false;
        ASSERT_TRUE(reader.NextRecord(record, found).ok());
        if (!found) break;
        pieceSizes.emplace_back();
        for (;;) {
            std::uint8_t chunk[kMaxChunkLength], piece[kDecodeCapacity];
            int length = 0, pieceLength = 0;
            bool done = false;
            ASSERT_TRUE(reader.NextChunk(chunk, length, done).ok());
            if (done) break;
            ASSERT_TRUE(DecodeChunk(chunk, length, piece, pieceLength).ok());
            pieceSizes.back().push_back(pieceLength);
        }
    }
    EXPECT_EQ(pieceSizes, (std::vector<std::vector<int>>{{4096}, {4096, 1}}));
    EXPECT_FALSE(reader.endedEarly());
}

TEST(StreamFormat, RecordOffsetPointsAtDataSizeAndSkippingWorks) {
    test::ScratchFolder dir;
    std::string path = dir / "s.cvn";
    std::vector<SampleFile> files = {{"one", test::SampleBytes(9000, 5)}, {"two", "second"}, {"three", ""}};
    ASSERT_TRUE(test::WriteSampleStream(path, "\\f", "", files).ok());
    ReadBack back;
    ASSERT_TRUE(test::ReadSampleStream(path, back).ok());
    ASSERT_EQ(back.records.size(), 3u);
    EXPECT_EQ(back.records[0].recordOffset, 4u + 2 + 16 + 4 + 3);

    // Jump straight to the second record, as single-file extraction does.
    std::unique_ptr<File> in;
    ASSERT_TRUE(DefaultFileSystem().OpenRead(path, in).ok());
    StreamReader reader(*in);
    FileRecord record;
    ASSERT_TRUE(reader.SeekToRecord(back.records[1].recordOffset, record).ok());
    std::uint8_t chunk[kMaxChunkLength], piece[kDecodeCapacity];
    int length = 0, pieceLength = 0;
    bool done = false;
    ASSERT_TRUE(reader.NextChunk(chunk, length, done).ok());
    ASSERT_FALSE(done);
    ASSERT_TRUE(DecodeChunk(chunk, length, piece, pieceLength).ok());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(piece), static_cast<std::size_t>(pieceLength)), "second");

    // Listing without decoding skips every chunk list.
    StreamReader lister(*in);
    FolderHeader header;
    ASSERT_TRUE(lister.ReadFolderHeader(header).ok());
    std::vector<std::string> names;
    for (;;) {
        bool found = false;
        ASSERT_TRUE(lister.NextRecord(record, found).ok());
        if (!found) break;
        names.push_back(record.fileName);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"one", "two", "three"}));
}

TEST(StreamFormat, WriterRefusesWhatTheFormatCannotHold) {
    test::ScratchFolder dir;
    std::unique_ptr<File> out;
    ASSERT_TRUE(DefaultFileSystem().OpenWrite(dir / "s.cvn", out).ok());
    StreamWriter writer(*out);
    EXPECT_FALSE(writer.WriteFolderHeader("", std::string(16, ' ')).ok());
    EXPECT_FALSE(writer.WriteFolderHeader(std::string(260, 'x'), std::string(16, ' ')).ok());
    EXPECT_FALSE(writer.WriteFolderHeader("\\", "short").ok());
    ASSERT_TRUE(writer.WriteFolderHeader("\\", std::string(16, ' ')).ok());
    EXPECT_FALSE(writer.BeginFile("", 0, 0, 0).ok());
    EXPECT_FALSE(writer.BeginFile(std::string(260, 'n'), 0, 0, 0).ok());
    std::string padded;
    EXPECT_FALSE(PadPassword("seventeen chars!!", padded));
    EXPECT_TRUE(PadPassword("", padded));
    EXPECT_TRUE(IsNoPassword(padded));
    EXPECT_TRUE(PadPassword("   ", padded));
    EXPECT_TRUE(IsNoPassword(padded)) << "a password of spaces only is no password";
}

TEST(StreamFormat, AbandonedFileLeavesNoTrace) {
    test::ScratchFolder dir;
    std::string path = dir / "s.cvn";
    std::unique_ptr<File> out;
    ASSERT_TRUE(DefaultFileSystem().OpenWrite(path, out).ok());
    StreamWriter writer(*out);
    ASSERT_TRUE(writer.WriteFolderHeader("\\", std::string(16, ' ')).ok());
    ASSERT_TRUE(writer.BeginFile("gone", 0, 0, 3).ok());
    std::uint8_t chunk[kEncodeCapacity];
    int length = 0;
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    ASSERT_TRUE(EncodeChunk(abc, 3, chunk, length).ok());
    ASSERT_TRUE(writer.WriteChunk(chunk, length).ok());
    ASSERT_TRUE(writer.AbandonFile().ok());
    ASSERT_TRUE(writer.BeginFile("kept", 0, 0, 3).ok());
    ASSERT_TRUE(writer.WriteChunk(chunk, length).ok());
    ASSERT_TRUE(writer.EndFile().ok());
    ASSERT_TRUE(writer.Finish().ok());
    ASSERT_TRUE(out->Close().ok());

    ReadBack back;
    ASSERT_TRUE(test::ReadSampleStream(path, back).ok());
    ASSERT_EQ(back.files.size(), 1u);
    EXPECT_EQ(back.files[0].name, "kept");
    EXPECT_EQ(back.files[0].content, "abc");
}

TEST(StreamNames, FormatAndParseFromTheRight) {
    EXPECT_EQ(MakeStreamName("DATA 0812251430", 12), "DATA 0812251430 12.cvn");
    std::string label = "My Stick";
    EXPECT_EQ(MakeBackupName(&label, "0812251430"), "My Stick 0812251430");
    EXPECT_EQ(MakeBackupName(nullptr, "0812251430"), "unknown 0812251430");
    std::string empty;
    EXPECT_EQ(MakeBackupName(&empty, "0812251430"), " 0812251430");

    struct Case {
        const char* name;
        bool ok;
        const char* label;
        const char* stamp;
        long long sequence;
    } cases[] = {
        {"DATA 0812251430 0.cvn", true, "DATA", "0812251430", 0},
        {"My Stick 0812251430 17.cvn", true, "My Stick", "0812251430", 17},
        {" 0812251430 3.cvn", true, "", "0812251430", 3},
        {"unknown 0812251430 9999.CVN", true, "unknown", "0812251430", 9999},
        {"0812251430 3.cvn", false, "", "", 0},
        {"DATA 0812251430 x.cvn", false, "", "", 0},
        {"DATA 0812251430 1.txt", false, "", "", 0},
        {".cvn", false, "", "", 0},
    };
    for (const auto& c : cases) {
        StreamNameParts parts;
        ASSERT_EQ(ParseStreamName(c.name, parts), c.ok) << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(parts.label, c.label) << c.name;
        EXPECT_EQ(parts.timeStamp, c.stamp) << c.name;
        EXPECT_EQ(parts.sequence, c.sequence) << c.name;
    }
}

TEST(StreamNames, TimeStampIsTenDigitsOfLocalTime) {
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(FormatBackupTimeStamp(1230215400), "0812251430");  // 2008-12-25 14:30 UTC
}

}  // namespace
}  // namespace corvane
