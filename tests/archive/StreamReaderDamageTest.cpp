// A damaged stream must read as an error or a shortened listing, never as a crash or a read
// past the end. Run under the sanitizers in CI.

#include <gtest/gtest.h>

#include <cstring>

#include "support/ScratchFolder.h"
#include "support/StreamTestUtil.h"

namespace corvane {
namespace {

std::string MakeGoodStream(const test::ScratchFolder& dir) {
    std::string path = dir / "good.cvn";
    EXPECT_TRUE(test::WriteSampleStream(path, "\\Docs", "pw",
                                        {{"a.txt", test::SampleBytes(5000, 1)}, {"empty", ""}, {"b", "bb"}})
                    .ok());
    return test::ReadWholeFile(path);
}

void Put32(std::string& bytes, std::size_t at, std::int32_t value) {
    std::memcpy(bytes.data() + at, &value, 4);
}

TEST(StreamReaderDamage, EveryTruncationReadsSafely) {
    test::ScratchFolder dir;
    const std::string good = MakeGoodStream(dir);
    test::ReadBack full;
    ASSERT_TRUE(test::ReadSampleStream(dir / "good.cvn", full).ok());
    ASSERT_EQ(full.files.size(), 3u);

    std::string path = dir / "cut.cvn";
    for (std::size_t size = 0; size < good.size(); ++size) {
        dir.WriteFile("cut.cvn", std::string_view(good).substr(0, size));
        test::ReadBack back;
        Status s = test::ReadSampleStream(path, back);
        // Whatever came back intact is a prefix of the real content.
        ASSERT_LE(back.files.size(), full.files.size());
        for (std::size_t i = 0; i < back.files.size(); ++i) EXPECT_EQ(back.files[i].name, full.files[i].name);
        if (size < 4 + 5 + 16) {
            EXPECT_EQ(s.code(), Status::Code::Corrupt) << "size " << size;
        }
        if (s.ok() && back.files.size() == full.files.size()) {
            EXPECT_EQ(back.files.back().content, full.files.back().content);
        }
    }
}

TEST(StreamReaderDamage, LyingLengthsAreRefused) {
    test::ScratchFolder dir;
    const std::string good = MakeGoodStream(dir);
    const std::size_t nameLengthAt = 4 + 5 + 16;
    const std::size_t dataSizeAt = nameLengthAt + 4 + 5;
    const std::size_t chunkLengthAt = dataSizeAt + 4 + 16;

    struct Case {
        const char* what;
        std::size_t at;
        std::int32_t value;
        bool headerFails;  // otherwise: the listing ends early or a chunk is refused
    } cases[] = {
        {"PathLength negative", 0, -1, true},
        {"PathLength 260", 0, 260, true},
        {"PathLength past the end", 0, 0x7FFFFFF0, true},
        {"NameLength negative", nameLengthAt, -7, false},
        {"NameLength huge", nameLengthAt, 0x7FFFFFFF, false},
        {"NameLength zero", nameLengthAt, 0, false},
        {"DataSize huge", dataSizeAt, -1, false},
        {"ChunkLength zero", chunkLengthAt, 0, false},
        {"ChunkLength negative", chunkLengthAt, -100, false},
        {"ChunkLength past the buffer", chunkLengthAt, 8193, false},
        {"ChunkLength past the record", chunkLengthAt, 8000, false},
    };
    for (const auto& c : cases) {
        std::string bad = good;
        Put32(bad, c.at, c.value);
        dir.WriteFile("bad.cvn", bad);
        test::ReadBack back;
        Status s = test::ReadSampleStream(dir / "bad.cvn", back);
        if (c.headerFails) {
            EXPECT_EQ(s.code(), Status::Code::Corrupt) << c.what;
            continue;
        }
        // The first file can never come back whole from a damaged head.
        bool firstIntact = !back.files.empty() && back.files[0].content.size() == 5000;
        EXPECT_TRUE(!s.ok() || !firstIntact) << c.what;
    }
}

TEST(StreamReaderDamage, DataSizePastTheEndEndsTheListingAsDamage) {
    test::ScratchFolder dir;
    std::string bytes = MakeGoodStream(dir);
    const std::uint64_t lastRecord = test::OffsetOf(dir / "good.cvn", "b");
    Put32(bytes, lastRecord, 1000);
    dir.WriteFile("bad.cvn", bytes);

    std::unique_ptr<File> in;
    ASSERT_TRUE(DefaultFileSystem().OpenRead(dir / "bad.cvn", in).ok());
    StreamReader reader(*in);
    FolderHeader header;
    ASSERT_TRUE(reader.ReadFolderHeader(header).ok());
    std::vector<std::string> names;
    FileRecord record;
    for (bool found = true; reader.NextRecord(record, found).ok() && found;) names.push_back(record.fileName);
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "empty", "b"}));
    EXPECT_TRUE(reader.endedEarly());
}

TEST(StreamReaderDamage, SeekToRecordOutsideTheStreamFails) {
    test::ScratchFolder dir;
    const std::string good = MakeGoodStream(dir);
    std::unique_ptr<File> in;
    ASSERT_TRUE(DefaultFileSystem().OpenRead(dir / "good.cvn", in).ok());
    StreamReader reader(*in);
    FileRecord record;
    EXPECT_EQ(reader.SeekToRecord(good.size(), record).code(), Status::Code::Corrupt);
    EXPECT_EQ(reader.SeekToRecord(good.size() - 3, record).code(), Status::Code::Corrupt);
    EXPECT_EQ(reader.SeekToRecord(0xFFFFFFFFu, record).code(), Status::Code::Corrupt);
}

}  // namespace
}  // namespace corvane
