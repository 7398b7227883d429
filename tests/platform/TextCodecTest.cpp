#include <gtest/gtest.h>

#include <thread>

#include "platform/StoredQText.h"
#include "platform/TextCodec.h"

namespace corvane {
namespace {

TEST(TextCodec, Utf8StaysAndSingleByteTextIsReadAsWindows1252) {
    struct Case {
        std::string stored;
        std::string utf8;
    } cases[] = {
        {"plain.txt", "plain.txt"},
        {"\xC3\x9C" "ber.txt", "\xC3\x9C" "ber.txt"},                  // valid UTF-8: Über
        {"\xDC" "ber.txt", "\xC3\x9C" "ber.txt"},                      // 1252: Über
        {"\x80 \x9F", "\xE2\x82\xAC \xC5\xB8"},                        // euro sign, Y with diaeresis
        {"\xE9t\xE9", "\xC3\xA9t\xC3\xA9"},                            // été
        {"\xC0\x80", "\xC3\x80\xE2\x82\xAC"},                          // overlong NUL is not UTF-8
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},              // a surrogate is not UTF-8
    };
    for (const auto& c : cases) EXPECT_EQ(StoredTextToUtf8(c.stored), c.utf8) << c.stored;
    EXPECT_EQ(StoredTextToQString("\xDC" "ber"), QString::fromUtf8("\xC3\x9C" "ber"));
}

// Each test leaves the process-wide reading as it found it.
class StoredTextReading : public ::testing::Test {
  protected:
    void TearDown() override { ASSERT_TRUE(SelectStoredTextReading("windows-1252")); }
};

TEST_F(StoredTextReading, AChosenCodePageReadsWhatIsNotUtf8) {
    struct Case {
        const char* codePage;
        std::string stored;
        std::string utf8;
    } cases[] = {
        {"windows-1250", "\x9D" "ab\xEC.txt", "\xC5\xA5" "ab\xC4\x9B.txt"},  // ťabě.txt
        {"CP1250", "\x8A\x8C\xA3", "\xC5\xA0\xC5\x9A\xC5\x81"},              // ŠŚŁ
        {"windows-1250", "\x81", "\xC2\x81"},                                // undefined: C1 control
        {"windows-1251", "\x8F\xE8\xEB", "\xD0\x8F\xD0\xB8\xD0\xBB"},        // Џил
        {"Windows-1251", "\x80\xA8", "\xD0\x82\xD0\x81"},                    // ЂЁ
        {"cp1252", "\xDC" "ber", "\xC3\x9C" "ber"},                          // Über
        {"cp932", "\x93\xFA\x8B\x4C.txt", "\xE6\x97\xA5\xE8\xA8\x98.txt"},   // 日記.txt
        {"CP932", "\x83\x65\xB1", "\xE3\x83\x86\xEF\xBD\xB1"},               // テ, half-width ア
        {"cp932", "a\x80z", "a\xEF\xBF\xBDz"},                               // no such character
        {"utf-8", "\xC3\x9C" "ber\xFF", "\xC3\x9C" "ber\xEF\xBF\xBD"},       // never reinterpreted
        {"UTF8", "\xE9t\xE9", "\xEF\xBF\xBDt\xEF\xBF\xBD"},
        // Valid UTF-8 stays as it is, whatever the reading.
        {"windows-1251", "\xC3\x9C" "ber", "\xC3\x9C" "ber"},
        {"cp932", "\xE6\x97\xA5", "\xE6\x97\xA5"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(SelectStoredTextReading(c.codePage)) << c.codePage;
        EXPECT_EQ(StoredTextToUtf8(c.stored), c.utf8) << c.codePage << ": " << c.stored;
    }
}

TEST_F(StoredTextReading, AnUnknownCodePageChangesNothing) {
    ASSERT_TRUE(SelectStoredTextReading("windows-1251"));
    for (const char* unknown : {"", "windows-1253", "latin-2", "cp125", "utf-16"})
        EXPECT_FALSE(SelectStoredTextReading(unknown)) << unknown;
    EXPECT_EQ(StoredTextToUtf8("\xC0"), "\xD0\x90");  // still Cyrillic А
    EXPECT_EQ(SupportedStoredTextReadings(), "windows-1250, windows-1251, windows-1252, cp932, utf-8");
}

TEST_F(StoredTextReading, ShiftJisCharactersEndingIn5CSeparateNoPath) {
    const std::string soft = "\\\x83\x5C\x83t\x83g\\a";  // \ソフト\a as cp932
    const std::string utf8 = "\\\xE3\x81\x81\\a";     // \ぁ\a: its last byte is a cp932 lead byte
    EXPECT_EQ(FindStoredSeparator(soft, 1), 2u) << "the default reading has no double-byte characters";
    ASSERT_TRUE(SelectStoredTextReading("cp932"));
    EXPECT_EQ(FindStoredSeparator(soft), 0u);
    EXPECT_EQ(FindStoredSeparator(soft, 1), 7u);
    EXPECT_EQ(FindStoredSeparator(soft, 8), std::string::npos);
    EXPECT_EQ(FindStoredSeparator(utf8, 1), 4u) << "UTF-8 is read as UTF-8";
}

TEST_F(StoredTextReading, EveryThreadReadsTheChosenCodePage) {
    ASSERT_TRUE(SelectStoredTextReading("cp932"));
    std::string fromThread;
    std::thread([&] { fromThread = StoredTextToUtf8("\x93\xFA"); }).join();
    EXPECT_EQ(fromThread, "\xE6\x97\xA5");
}

}  // namespace
}  // namespace corvane
