// Streams from a damaged or foreign disc must not write anywhere but below the destination.
// The scratch folder plays "/", so that a path that does escape is still found in it.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "RootedFileSystem.h"
#include "TestExtractHost.h"
#include "TreeListing.h"
#include "extract/FileExtractor.h"
#include "support/ScratchFolder.h"
#include "support/StreamTestUtil.h"
#include "support/TestNames.h"

namespace corvane {
namespace {

using namespace std::string_literals;

struct HostileCase {
    const char* what;
    std::string folderPath;
    std::string fileName;
    std::string shown;  // how the message names the folder or file name it refused
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.what; }

class HostileStream : public ::testing::TestWithParam<HostileCase> {};

const std::string kRefused = "it names a place outside the destination folder";

TEST_P(HostileStream, WritesNothingOutsideTheDestination) {
    const auto& c = GetParam();
    test::ScratchFolder root;
    const std::string stream = root.MakeFolder("disc") + "/s 0.cvn";
    ASSERT_TRUE(test::WriteSampleStream(stream, c.folderPath, "",
                                        {{c.fileName, "evil"}, {"good.txt", "fine"}})
                    .ok());
    test::RootedFileSystem files(root.path());
    const bool folderRefused = c.folderPath != "\\Docs";

    test::TestExtractHost host("/d1/d2/out");
    host.files = &files;
    ExtractFolderStream(host, "/disc/s 0.cvn");
    EXPECT_TRUE(host.messages.empty());
    // The folder routine names a refused file with its folder, as the status line would.
    const std::string named = folderRefused ? c.shown : "Docs\\" + c.shown;
    EXPECT_EQ(host.notRestored, (std::vector<std::pair<std::string, std::string>>{{named, kRefused}}));
    EXPECT_EQ(host.status(), "Error");
    std::set<std::string> expected = {"disc", "disc/s 0.cvn"};
    if (!folderRefused)
        expected.insert({"d1", "d1/d2", "d1/d2/out", "d1/d2/out/Docs", "d1/d2/out/Docs/good.txt"});
    EXPECT_EQ(test::TreeListing(root.path()), expected);

    if (folderRefused) return;
    test::TestExtractHost single("/d1/d2/out");
    single.files = &files;
    test::ReadBack back;
    ASSERT_TRUE(test::ReadSampleStream(stream, back).ok());
    EXPECT_EQ(ExtractFileRecord(single, "/disc/s 0.cvn", back.records[0].recordOffset, c.fileName),
              1);
    EXPECT_TRUE(single.messages.empty());
    EXPECT_EQ(single.notRestored, (std::vector<std::pair<std::string, std::string>>{{c.shown, kRefused}}));
    EXPECT_EQ(test::TreeListing(root.path()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileStream,
    ::testing::Values(
        HostileCase{"parent steps in the folder", "\\..\\..\\x", "a.txt", "\\..\\..\\x"},
        HostileCase{"parent steps after a folder", "\\Docs\\..\\..\\..", "a.txt",
                    "\\Docs\\..\\..\\.."},
        HostileCase{"parent steps behind slashes", "\\Docs/../../x", "a.txt", "\\Docs/../../x"},
        HostileCase{"parent step behind a control character", "\\Do\ncs\\..\\..", "a.txt", "\\Do?cs\\..\\.."},
        HostileCase{"network path", "\\\\server\\share", "a.txt", "\\\\server\\share"},
        HostileCase{"drive designator in the folder", "C:\\Windows", "a.txt", "C:\\Windows"},
        HostileCase{"parent step as name", "\\Docs", "..", ".."},
        HostileCase{"parent steps in the name", "\\Docs", "../../x", "../../x"},
        HostileCase{"parent step behind a backslash in the name", "\\Docs", "a\\..", "a\\.."},
        HostileCase{"absolute name", "\\Docs", "/abs", "/abs"},
        HostileCase{"drive designator in the name", "\\Docs", "C:x", "C:x"},
        HostileCase{"NUL in the name", "\\Docs", "a\0/../x"s, "a?/../x"},
        HostileCase{"lower-case drive designator in the folder", "\\c:\\x", "a.txt", "\\c:\\x"}),
    [](const ::testing::TestParamInfo<HostileCase>& row) { return test::TestNameOf(row.param.what); });

struct OddCase {
    const char* what;
    std::string folderPath;
    std::string fileName;
    std::string restoredAs;  // below the destination
    std::string renamed;     // the folder or file said to have another name, as shown; empty: none
};

void PrintTo(const OddCase& c, std::ostream* os) { *os << c.what; }

class OddButHarmlessName : public ::testing::TestWithParam<OddCase> {};

// Names that are not valid UTF-8 are read as Windows-1252; none of their bytes becomes a
// separator or a parent step on the way. What cannot stand in a name gets a substitute, and
// the user is told.
TEST_P(OddButHarmlessName, IsRestoredInsideTheDestination) {
    const auto& c = GetParam();
    test::ScratchFolder root;
    const std::string stream = root.MakeFolder("disc") + "/s 0.cvn";
    ASSERT_TRUE(test::WriteSampleStream(stream, c.folderPath, "", {{c.fileName, "odd"}}).ok());
    test::RootedFileSystem files(root.path());
    test::TestExtractHost host("/out");
    host.files = &files;
    ExtractFolderStream(host, "/disc/s 0.cvn");
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.notRestored.empty());
    EXPECT_EQ(host.status(), "Extracted");
    std::vector<std::pair<std::string, std::string>> renamed;
    if (!c.renamed.empty()) {
        const bool folder = c.renamed.find('\\') == std::string::npos;
        renamed.emplace_back(c.renamed, "/out/" + (folder ? c.restoredAs.substr(0, c.restoredAs.rfind('/')) : c.restoredAs));
    }
    EXPECT_EQ(host.renamed, renamed);
    std::set<std::string> expected = {"disc", "disc/s 0.cvn", "out"};
    for (std::size_t at = 0; (at = c.restoredAs.find('/', at + 1)) != std::string::npos;)
        expected.insert("out/" + c.restoredAs.substr(0, at));
    expected.insert("out/" + c.restoredAs);
    EXPECT_EQ(test::TreeListing(root.path()), expected);
    EXPECT_EQ(test::ReadWholeFile(root.path() + "/out/" + c.restoredAs), "odd");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OddButHarmlessName,
    ::testing::Values(OddCase{"single-byte name", "\\Docs", "caf\xE9", "Docs/café", ""},
                      OddCase{"overlong slashes in the name", "\\Docs", "..\xC0\xAF..\xC0\xAFx", "Docs/..À¯..À¯x", ""},
                      OddCase{"overlong backslash in the folder", "\\..\xC1\x9C..", "a", "..Á\xC5\x93../a", ""},
                      OddCase{"drive-like folder below the first", "\\Docs\\C:", "x", "Docs/C:/x", ""},
                      OddCase{"control character in the folder", "\\Do\ncs", "a.txt", "Do_cs/a.txt", "Do?cs"},
                      OddCase{"C1 control in the folder", "\\Do\xC2\x85" "cs", "a.txt", "Do_cs/a.txt", "Do?cs"},
                      OddCase{"backslash in the name", "\\Docs", "a\\b", "Docs/a_b", "Docs\\a\\b"},
                      OddCase{"slash in the name", "\\Docs", "1/2.txt", "Docs/1_2.txt", "Docs\\1/2.txt"},
                      OddCase{"control characters in the name", "\\Docs", "bell\x07\x1b", "Docs/bell__", "Docs\\bell??"},
                      OddCase{"C1 control in the name", "\\Docs", "osc\xC2\x9D]0;t\xC2\x9C", "Docs/osc_]0;t_",
                              "Docs\\osc?]0;t?"},
                      OddCase{"C1 control once decoded", "\\Docs", "not UTF-8 \x9D", "Docs/not UTF-8 _",
                              "Docs\\not UTF-8 ?"}),
    [](const ::testing::TestParamInfo<OddCase>& row) { return test::TestNameOf(row.param.what); });


// A stream "\Docs" holding a.txt (two chunks) and b, with one length field rewritten.
constexpr std::size_t kNameLengthAt = 4 + 5 + 16;
constexpr std::size_t kDataSizeAt = kNameLengthAt + 4 + 5;
constexpr std::size_t kChunkLengthAt = kDataSizeAt + 4 + 16;

struct LyingCase {
    const char* what;
    std::size_t at;
    // The new value, from the true one.
    std::function<std::uint32_t(std::uint32_t)> lie;
    // "shown: reason" of each entry named, in order; "Docs\\*" stands for any file name in Docs.
    std::vector<std::string> notRestored;
    std::set<std::string> kept;            // below the destination
};

void PrintTo(const LyingCase& c, std::ostream* os) { *os << c.what; }

class LyingLength : public ::testing::TestWithParam<LyingCase> {};

// A lying length fails the file it belongs to; where no next record can be found after it,
// the rest of the stream is named as damaged.
TEST_P(LyingLength, IsReportedAndLeavesNoPartialFile) {
    const auto& c = GetParam();
    test::ScratchFolder root;
    const std::string stream = root.MakeFolder("disc") + "/s 0.cvn";
    ASSERT_TRUE(test::WriteSampleStream(stream, "\\Docs", "", {{"a.txt", test::SampleBytes(6000, 1)}, {"b", "bb"}}).ok());
    std::string bytes = test::ReadWholeFile(stream);
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + c.at, 4);
    value = c.lie(value);
    std::memcpy(bytes.data() + c.at, &value, 4);
    root.WriteFile("disc/s 0.cvn", bytes);

    test::RootedFileSystem files(root.path());
    test::TestExtractHost host("/d1/out");
    host.files = &files;
    ExtractFolderStream(host, "/disc/s 0.cvn");
    EXPECT_TRUE(host.messages.empty());
    std::vector<std::string> named;
    for (const auto& [shown, reason] : host.notRestored) {
        const bool anyName = c.notRestored.size() > named.size() && c.notRestored[named.size()].starts_with("Docs\\*");
        named.push_back((anyName ? "Docs\\*" : shown) + ": " + reason);
    }
    EXPECT_EQ(named, c.notRestored);
    EXPECT_EQ(host.status(), "Error");
    std::set<std::string> expected = {"disc", "disc/s 0.cvn", "d1", "d1/out", "d1/out/Docs"};
    for (const auto& path : c.kept) expected.insert("d1/out/" + path);
    EXPECT_EQ(test::TreeListing(root.path()), expected);
}

const std::string kBroken = "There was an error extracting the file!";
const std::string kRestDamaged = "Docs: the rest of the stream is damaged";

INSTANTIATE_TEST_SUITE_P(
    Cases, LyingLength,
    ::testing::Values(
        LyingCase{"NameLength too large", kNameLengthAt, [](std::uint32_t) { return 0x7FFFFFFFu; }, {kRestDamaged}, {}},
        LyingCase{"NameLength too small", kNameLengthAt, [](std::uint32_t v) { return v - 1; },
                  {"Docs\\a.tx: " + kBroken, kRestDamaged}, {}},
        LyingCase{"DataSize too large", kDataSizeAt, [](std::uint32_t) { return 0xFFFFFFFFu; },
                  {"Docs\\a.txt: " + kBroken, kRestDamaged}, {}},
        LyingCase{"DataSize past the end", kDataSizeAt, [](std::uint32_t v) { return v + 100; },
                  {"Docs\\a.txt: " + kBroken, kRestDamaged}, {}},
        LyingCase{"DataSize too small", kDataSizeAt, [](std::uint32_t v) { return v - 1; },
                  {"Docs\\a.txt: " + kBroken, kRestDamaged}, {}},
        // An empty record cannot be told from a lying one; what follows reads as a record named
        // with chunk bytes, which fails, then as damage.
        LyingCase{"DataSize zero", kDataSizeAt, [](std::uint32_t) { return 0u; }, {"Docs\\*: " + kBroken, kRestDamaged},
                  {"Docs/a.txt"}},
        // A chunk that lies fails its file alone: DataSize still leads to the next record.
        LyingCase{"ChunkLength too large", kChunkLengthAt, [](std::uint32_t) { return 8193u; },
                  {"Docs\\a.txt: " + kBroken}, {"Docs/b"}},
        LyingCase{"ChunkLength one too large", kChunkLengthAt, [](std::uint32_t v) { return v + 1; },
                  {"Docs\\a.txt: " + kBroken}, {"Docs/b"}},
        LyingCase{"ChunkLength too small", kChunkLengthAt, [](std::uint32_t v) { return v - 1; },
                  {"Docs\\a.txt: " + kBroken}, {"Docs/b"}},
        LyingCase{"ChunkLength zero", kChunkLengthAt, [](std::uint32_t) { return 0u; },
                  {"Docs\\a.txt: " + kBroken}, {"Docs/b"}}),
    [](const ::testing::TestParamInfo<LyingCase>& row) { return test::TestNameOf(row.param.what); });

}  // namespace
}  // namespace corvane
