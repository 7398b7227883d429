#include <gtest/gtest.h>

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

}  // namespace
}  // namespace corvane
