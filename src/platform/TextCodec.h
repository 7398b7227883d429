#pragma once
// Names and paths in streams are 8-bit text. Those written here are UTF-8; those that are not
// valid UTF-8 came from a system with a single-byte code page (or Shift-JIS) and are read in
// the code page chosen for the whole process: Windows-1252 unless a command chose another.

#include <string>
#include <string_view>

namespace corvane {

bool IsValidUtf8(std::string_view bytes);

// Chooses how every reader of stored text reads bytes that are not valid UTF-8, from here on:
// "windows-1250", "windows-1251", "windows-1252" (also "cp1250"...), "cp932" (Shift-JIS as
// Windows writes it, where the C library can convert it) or "utf-8" (never reinterpreted: each
// byte that is not UTF-8 becomes U+FFFD), in any case. A command chooses once, before it reads
// a stream. False, with the choice unchanged, for a code page not supported here.
bool SelectStoredTextReading(std::string_view codePage);

// The code pages SelectStoredTextReading takes, for messages: "windows-1250, ..., utf-8".
std::string SupportedStoredTextReadings();

// Stored bytes as UTF-8: unchanged when valid UTF-8, else decoded in the chosen code page. A
// byte the code page leaves undefined becomes the C1 control of the same number (single-byte
// pages) or U+FFFD (Shift-JIS).
std::string StoredTextToUtf8(std::string_view bytes);

// The position of the first '\' that separates stored path components, at or after from (the
// start of a character), or npos. Under the cp932 reading, text that is not valid UTF-8 is
// read by characters, so the second byte of a double-byte character (0x5C in many) is none.
std::size_t FindStoredSeparator(std::string_view text, std::size_t from = 0);

// Orders two UTF-8 texts ignoring case, as names are sorted and matched in the restore tree:
// negative, zero or positive. Letters of the supported code pages (Latin-1, Latin Extended-A,
// Greek, Cyrillic) fold to lower case; every other character compares as it is.
int CompareIgnoringCase(std::string_view a, std::string_view b);

}  // namespace corvane
