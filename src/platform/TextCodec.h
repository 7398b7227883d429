#pragma once
// Names and paths in streams are 8-bit text. Those written here are UTF-8; those that are not
// valid UTF-8 came from a system with a single-byte code page and are read as Windows-1252.

#include <QString>
#include <string>
#include <string_view>

namespace corvane {

bool IsValidUtf8(std::string_view bytes);

// Stored bytes as UTF-8: unchanged when valid UTF-8, else decoded as Windows-1252.
std::string StoredTextToUtf8(std::string_view bytes);

// Stored bytes for display.
QString StoredTextToQString(std::string_view bytes);

}  // namespace corvane
