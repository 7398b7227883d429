#include <gtest/gtest.h>

#include "extract/StoredPath.h"

namespace corvane {
namespace {

using namespace std::string_literals;

TEST(StoredPath, FolderPathsBecomeRelativePathsOrAreRefused) {
    const struct {
        std::string stored;
        bool accepted;
        std::string relative;
    } cases[] = {
        {"\\", true, ""},
        {"\\Docs\\2008", true, "Docs/2008"},
        {"\\Docs\\\\2008\\", true, "Docs/2008"},  // doubled and trailing separators collapse
        {"\\ab:c\\12:30", true, "ab:c/12:30"},    // colons that are no drive designator
        {"\\...\\.hidden", true, ".../.hidden"},
        {"\\Re\xE7us", true, "Reçus"},
        {"\\..", false, ""},
        {"\\Docs\\..\\..\\x", false, ""},
        {"\\Docs/../x", false, ""},
        {"/..//x", false, ""},
        {"\\.\\x", false, ""},
        {"\\\\server\\share", false, ""},
        {"//server/share", false, ""},
        {"C:\\Docs", false, ""},
        {"\\c:", false, ""},
        {"\\a\x01z", false, ""},
        {"\\a\x7F", false, ""},
        {"\\a\0b"s, false, ""},
        {"\\..\xC0\xAF..\xC0\xAFx", true, "..À¯..À¯x"},  // an overlong '/' is no separator
        {"\\a\xC2\x9D", false, ""},                      // C1 control in UTF-8
        {"\\a\x8F", false, ""},                          // C1 control once decoded
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ShownStoredText(c.stored));
        std::string relative = "unchanged";
        EXPECT_EQ(StoredFolderToRelative(c.stored, relative), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(relative, c.relative);
        }
    }
}

TEST(StoredPath, FileNamesMustBePlainNames) {
    const struct {
        std::string stored;
        bool accepted;
        std::string name;
    } cases[] = {
        {"a.txt", true, "a.txt"}, {"caf\xE9", true, "café"},
        {"...", true, "..."},     {".hidden", true, ".hidden"},
        {"C", true, "C"},         {"ab:c", true, "ab:c"},
        {"..", false, ""},        {".", false, ""},
        {"../x", false, ""},      {"a\\b", false, ""},
        {"a/b", false, ""},       {"/abs", false, ""},
        {"\\x", false, ""},       {"C:x", false, ""},
        {"c:", false, ""},        {"line\nbreak", false, ""},
        {"nul\0x"s, false, ""},   {"del\x7F", false, ""},
        {"..\xC0\xAF..", true, "..À¯.."},  // an overlong '/' is no separator
        {"a\x9B", true, "a›"},            // a defined Windows-1252 byte
        {"osc\xC2\x9D", false, ""},      // C1 controls, in UTF-8 and once decoded
        {"osc\x9D", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ShownStoredText(c.stored));
        std::string name;
        EXPECT_EQ(StoredFileNameToLocal(c.stored, name), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(name, c.name);
        }
    }
}

TEST(StoredPath, ShownTextMarksEveryControlCharacter) {
    EXPECT_EQ(ShownStoredText("a\nb\x7F"), "a?b?");
    EXPECT_EQ(ShownStoredText("osc\xC2\x9D\xC2\x9C" "end"), "osc??end");
    EXPECT_EQ(ShownStoredText("caf\xE9\x9D"), "café?");
    EXPECT_EQ(ShownStoredText("\xC2\xA0\xC3\xA9"), "\xC2\xA0é") << "printable characters stay";
}

TEST(StoredPath, PathUnderKeepsOneSeparatorAndTheRoot) {
    EXPECT_EQ(PathUnder("/out", "Docs/a"), "/out/Docs/a");
    EXPECT_EQ(PathUnder("/out//", "a"), "/out/a");
    EXPECT_EQ(PathUnder("/out/", ""), "/out");
    EXPECT_EQ(PathUnder("/", "a"), "/a");
    EXPECT_EQ(PathUnder("/", ""), "/");
    EXPECT_EQ(PathUnder("out", "a"), "out/a");
}

}  // namespace
}  // namespace corvane
