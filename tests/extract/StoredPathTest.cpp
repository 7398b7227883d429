#include <gtest/gtest.h>

#include "extract/StoredPath.h"
#include "platform/TextCodec.h"

namespace corvane {
namespace {

using namespace std::string_literals;

constexpr NameUse kAsStored = NameUse::AsStored;
constexpr NameUse kSubstituted = NameUse::Substituted;
constexpr NameUse kRefused = NameUse::Refused;

std::string Repeat(std::string_view text, int times) {
    std::string repeated;
    for (int i = 0; i < times; ++i) repeated += text;
    return repeated;
}

const std::string k140Latin1(140, '\xE9');  // 280 bytes of UTF-8
const std::string k140LatinTxt = std::string(136, 'a') + "\xE9.txt";  // 141 bytes, 142 once decoded
const std::string kLongUtf8 = std::string(250, 'b') + "\xC3\xA9\xC3\xA9\xC3\xA9.dat";  // 260 bytes

TEST(StoredPath, FolderPathsBecomeRelativePathsSubstitutesOrAreRefused) {
    const struct {
        std::string stored;
        NameUse use;
        std::string relative;
    } cases[] = {
        {"\\", kAsStored, ""},
        {"\\Docs\\2008", kAsStored, "Docs/2008"},
        {"\\Docs\\\\2008\\", kAsStored, "Docs/2008"},  // doubled and trailing separators collapse
        {"\\ab:c\\12:30", kAsStored, "ab:c/12:30"},    // colons that are no drive designator
        {"\\...\\.hidden", kAsStored, ".../.hidden"},
        {"\\Re\xE7us", kAsStored, "Reçus"},
        {"\\..\xC0\xAF..\xC0\xAFx", kAsStored, "..À¯..À¯x"},  // an overlong '/' is no separator
        // Steps that cannot stand as they are get a substitute; the others stay.
        {"\\a\x01z\\b", kSubstituted, "a_z/b"},
        {"\\a\x7F", kSubstituted, "a_"},
        {"\\a\0b"s, kSubstituted, "a_b"},
        {"\\a\xC2\x9D\\x", kSubstituted, "a_/x"},  // C1 control in UTF-8
        {"\\\x8Fr\x9D", kSubstituted, "_r_"},      // C1 controls once decoded
        // 140 bytes of Latin-1 are 280 of UTF-8: cut to 127 whole characters.
        {"\\Docs\\" + k140Latin1, kSubstituted, "Docs/" + Repeat("é", 127)},
        // Traversal is refused as a whole.
        {"\\..", kRefused, ""},
        {"\\Docs\\..\\..\\x", kRefused, ""},
        {"\\Docs/../x", kRefused, ""},
        {"/..//x", kRefused, ""},
        {"\\.\\x", kRefused, ""},
        {"\\\\server\\share", kRefused, ""},
        {"//server/share", kRefused, ""},
        {"C:\\Docs", kRefused, ""},
        {"\\c:", kRefused, ""},
        {"\\a\x01\\..", kRefused, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ShownStoredText(c.stored));
        std::string relative = "unchanged";
        EXPECT_EQ(StoredFolderToRelative(c.stored, relative), c.use);
        if (c.use != kRefused) {
            EXPECT_EQ(relative, c.relative);
        }
    }
}

TEST(StoredPath, FileNamesArePlainNamesSubstitutesOrRefused) {
    const struct {
        std::string stored;
        NameUse use;
        std::string name;
    } cases[] = {
        {"a.txt", kAsStored, "a.txt"},
        {"caf\xE9", kAsStored, "café"},
        {"...", kAsStored, "..."},
        {".hidden", kAsStored, ".hidden"},
        {"C", kAsStored, "C"},
        {"ab:c", kAsStored, "ab:c"},
        {"..\xC0\xAF..", kAsStored, "..À¯.."},  // an overlong '/' is no separator
        {"a\x9B", kAsStored, "a›"},            // a defined Windows-1252 byte
        {k140LatinTxt, kAsStored, std::string(136, 'a') + "é.txt"},
        // What cannot stand becomes '_'.
        {"a\\b", kSubstituted, "a_b"},
        {"a/b.txt", kSubstituted, "a_b.txt"},
        {"line\nbreak", kSubstituted, "line_break"},
        {"nul\0x"s, kSubstituted, "nul_x"},
        {"del\x7F", kSubstituted, "del_"},
        {"osc\xC2\x9D", kSubstituted, "osc_"},  // C1 controls, in UTF-8 and once decoded
        {"osc\x9D", kSubstituted, "osc_"},
        {"\x81\x8D\x8F\x90\x9D.doc", kSubstituted, "_____.doc"},
        {"\x9D" "ap\x9Dka.txt", kSubstituted, "_ap_ka.txt"},  // "ťapťka" from a Central European system
        // Too long: cut before the extension, at a character boundary.
        {kLongUtf8, kSubstituted, std::string(250, 'b') + ".dat"},
        // Traversal is refused.
        {"..", kRefused, ""},
        {".", kRefused, ""},
        {"../x", kRefused, ""},
        {"a/../b", kRefused, ""},
        {"x\\..", kRefused, ""},
        {"/abs", kRefused, ""},
        {"\\x", kRefused, ""},
        {"C:x", kRefused, ""},
        {"c:", kRefused, ""},
        {"a\0/../x"s, kRefused, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ShownStoredText(c.stored));
        std::string name = "unchanged";
        EXPECT_EQ(StoredFileNameToLocal(c.stored, name), c.use);
        if (c.use != kRefused) {
            EXPECT_EQ(name, c.name);
        }
    }
}

TEST(StoredPath, SubstitutesFitInBytesKeepTheirExtensionAndStayValidUtf8) {
    // 140 bytes of Latin-1 become 280 of UTF-8, over the 255 a name may have.
    const std::string latin = std::string(135, '\xE9') + ".jpeg";
    std::string name;
    ASSERT_EQ(StoredFileNameToLocal(latin, name), kSubstituted);
    EXPECT_EQ(name, Repeat("é", 125) + ".jpeg");  // 250 bytes: a 251st would cut a character
    EXPECT_LE(name.size(), kMaxLocalName);
    EXPECT_TRUE(IsValidUtf8(name));
    // A long last "extension" is no extension: the name is simply cut.
    const std::string noExtension = std::string(300, 'x') + "." + std::string(40, 'y');
    EXPECT_EQ(SubstituteName(noExtension), std::string(255, 'x'));
}

TEST(StoredPath, UntakenNamesCountUpWithinTheLimit) {
    EXPECT_EQ(UntakenName("a_b.txt", {}), "a_b.txt");
    EXPECT_EQ(UntakenName("a_b.txt", {"a_b.txt"}), "a_b (2).txt");
    EXPECT_EQ(UntakenName("a_b.txt", {"a_b.txt", "a_b (2).txt"}), "a_b (3).txt");
    EXPECT_EQ(UntakenName("_", {"_"}), "_ (2)");
    const std::string longest = std::string(251, 'z') + ".txt";
    const std::string second = UntakenName(longest, {longest});
    EXPECT_EQ(second, std::string(247, 'z') + " (2).txt");
    EXPECT_EQ(second.size(), kMaxLocalName);
}

TEST(StoredPath, PortableNamesHoldNothingFatOrExfatRefuses) {
    EXPECT_EQ(PortableName("why?.txt"), "why_.txt");
    EXPECT_EQ(PortableName("a\"*:<>?\\|b"), "a________b");
    EXPECT_EQ(PortableName("dots... "), "dots____") << "dots and spaces at the end";
    EXPECT_EQ(PortableName(".hidden name.txt"), ".hidden name.txt") << "a leading dot and inner spaces stay";
    EXPECT_EQ(PortableName("café.txt"), "café.txt");
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
