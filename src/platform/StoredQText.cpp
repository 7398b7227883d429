#include "platform/StoredQText.h"

#include <string>

#include "platform/TextCodec.h"

namespace corvane {

QString StoredTextToQString(std::string_view bytes) {
    const std::string utf8 = StoredTextToUtf8(bytes);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace corvane
