#include "extract/StoredPath.h"

#include <algorithm>

#include "platform/TextCodec.h"

namespace corvane {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsControl(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

bool StartsWithDriveDesignator(std::string_view text) {
    if (text.size() < 2 || text[1] != ':') return false;
    char c = text[0];
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Control characters U+0080..U+009F in UTF-8 text: 0xC2 followed by 0x80..0x9F. They come
// from valid UTF-8 or from the undefined Windows-1252 bytes, and terminals may obey them.
bool HasC1Control(std::string_view utf8) {
    for (std::size_t i = 0; i + 1 < utf8.size(); ++i) {
        auto next = static_cast<unsigned char>(utf8[i + 1]);
        if (utf8[i] == '\xC2' && next >= 0x80 && next <= 0x9F) return true;
    }
    return false;
}

// One step of a path: a name that stays where it is put.
bool IsPlainStep(std::string_view step) {
    return !step.empty() && step != "." && step != ".." &&
           std::none_of(step.begin(), step.end(), IsControl);
}

}  // namespace

bool StoredFolderToRelative(std::string_view folderPath, std::string& relative) {
    relative.clear();
    std::string_view rest = folderPath;
    if (!rest.empty() && IsSeparator(rest.front())) rest.remove_prefix(1);
    // A second leading separator is a network path; a drive designator an absolute one.
    if ((!rest.empty() && IsSeparator(rest.front())) || StartsWithDriveDesignator(rest))
        return false;
    std::string joined;
    while (!rest.empty()) {
        auto end = std::find_if(rest.begin(), rest.end(), IsSeparator);
        std::string_view step = rest.substr(0, static_cast<std::size_t>(end - rest.begin()));
        rest.remove_prefix(step.size() + (end != rest.end() ? 1 : 0));
        if (step.empty()) continue;  // doubled or trailing separators collapse
        if (!IsPlainStep(step)) return false;
        if (!joined.empty()) joined += '/';
        joined += step;
    }
    relative = StoredTextToUtf8(joined);
    if (!HasC1Control(relative)) return true;
    relative.clear();
    return false;
}

bool StoredFileNameToLocal(std::string_view fileName, std::string& name) {
    name.clear();
    if (!IsPlainStep(fileName) || StartsWithDriveDesignator(fileName) ||
        std::any_of(fileName.begin(), fileName.end(), IsSeparator))
        return false;
    name = StoredTextToUtf8(fileName);
    if (!HasC1Control(name)) return true;
    name.clear();
    return false;
}

std::string PathUnder(std::string_view folder, std::string_view relative) {
    while (!folder.empty() && folder.back() == '/') folder.remove_suffix(1);
    if (relative.empty()) return folder.empty() ? std::string("/") : std::string(folder);
    std::string path(folder);
    path += '/';
    path += relative;
    return path;
}

std::string ShownStoredText(std::string_view stored) {
    std::string text(stored);
    std::replace_if(text.begin(), text.end(), IsControl, '?');
    const std::string decoded = StoredTextToUtf8(text);
    std::string shown;
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        if (HasC1Control(std::string_view(decoded).substr(i, 2))) {
            shown += '?';
            ++i;
        } else {
            shown += decoded[i];
        }
    }
    return shown;
}

}  // namespace corvane
