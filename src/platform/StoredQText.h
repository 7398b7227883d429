#pragma once
// Stored text at the windows' edge: the core works in UTF-8, the widgets in QString.

#include <QString>
#include <string_view>

namespace corvane {

// Stored bytes for display (read as StoredTextToUtf8 reads them).
QString StoredTextToQString(std::string_view bytes);

}  // namespace corvane
