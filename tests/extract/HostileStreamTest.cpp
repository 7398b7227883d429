// Streams from a damaged or foreign disc must not write anywhere but below the destination.
// The scratch folder plays "/", so that a path that does escape is still found in it.

#include <gtest/gtest.h>

#include "RootedFileSystem.h"
#include "TestExtractHost.h"
#include "TreeListing.h"
#include "extract/FileExtractor.h"
#include "support/ScratchFolder.h"
#include "support/StreamTestUtil.h"

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
    ASSERT_EQ(host.messages.size(), 1u);
    // The folder routine names a refused file with its folder, as the status line would.
    const std::string named = folderRefused ? c.shown : "Docs\\" + c.shown;
    EXPECT_TRUE(host.messages[0].text.ends_with("\n" + named)) << host.messages[0].text;
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
    ASSERT_EQ(single.messages.size(), 1u);
    EXPECT_TRUE(single.messages[0].text.ends_with("\n" + c.shown)) << single.messages[0].text;
    EXPECT_EQ(test::TreeListing(root.path()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileStream,
    ::testing::Values(
        HostileCase{"parent steps in the folder", "\\..\\..\\x", "a.txt", "\\..\\..\\x"},
        HostileCase{"parent steps after a folder", "\\Docs\\..\\..\\..", "a.txt",
                    "\\Docs\\..\\..\\.."},
        HostileCase{"parent steps behind slashes", "\\Docs/../../x", "a.txt", "\\Docs/../../x"},
        HostileCase{"network path", "\\\\server\\share", "a.txt", "\\\\server\\share"},
        HostileCase{"drive designator in the folder", "C:\\Windows", "a.txt", "C:\\Windows"},
        HostileCase{"control character in the folder", "\\Do\ncs", "a.txt", "\\Do?cs"},
        HostileCase{"parent step as name", "\\Docs", "..", ".."},
        HostileCase{"parent steps in the name", "\\Docs", "../../x", "../../x"},
        HostileCase{"backslash in the name", "\\Docs", "a\\b", "a\\b"},
        HostileCase{"absolute name", "\\Docs", "/abs", "/abs"},
        HostileCase{"drive designator in the name", "\\Docs", "C:x", "C:x"},
        HostileCase{"control characters in the name", "\\Docs", "bell\x07\x1b", "bell??"},
        HostileCase{"NUL in the name", "\\Docs", "a\0/../x"s, "a?/../x"}));

}  // namespace
}  // namespace corvane
