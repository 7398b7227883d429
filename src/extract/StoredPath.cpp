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

// The bytes of the UTF-8 character that starts with lead.
std::size_t SequenceLength(char lead) {
    auto byte = static_cast<unsigned char>(lead);
    if (byte < 0xC0) return 1;
    if (byte < 0xE0) return 2;
    if (byte < 0xF0) return 3;
    return 4;
}

// Control characters U+0080..U+009F in UTF-8 text: 0xC2 followed by 0x80..0x9F. They come
// from valid UTF-8 or from the undefined Windows-1252 bytes, and terminals may obey them.
bool IsC1Control(std::string_view character) {
    if (character.size() != 2 || character[0] != '\xC2') return false;
    auto next = static_cast<unsigned char>(character[1]);
    return next >= 0x80 && next <= 0x9F;
}

// Whether text, split at separators, has a "." or ".." step.
bool HasDotStep(std::string_view text) {
    while (true) {
        auto end = std::find_if(text.begin(), text.end(), IsSeparator);
        std::string_view step = text.substr(0, static_cast<std::size_t>(end - text.begin()));
        if (step == "." || step == "..") return true;
        if (end == text.end()) return false;
        text.remove_prefix(step.size() + 1);
    }
}

// Where a name's extension starts: its last '.', unless that is its first byte or the
// extension is too long to be one. name.size() when it has none.
std::size_t ExtensionAt(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || name.size() - dot > 32) return name.size();
    return dot;
}

// text cut to at most bytes, at a character boundary.
std::string_view CutUtf8(std::string_view text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
    return text.substr(0, bytes);
}

// stem + marker + extension within kMaxLocalName bytes, the stem cut as needed.
std::string Fitted(std::string_view name, std::string_view marker) {
    const std::size_t extensionAt = ExtensionAt(name);
    const std::string_view extension = name.substr(extensionAt);
    const std::size_t room = kMaxLocalName - extension.size() - marker.size();
    std::string fitted(CutUtf8(name.substr(0, extensionAt), room));
    fitted += marker;
    fitted += extension;
    return fitted;
}

// The next separator at or after from: a '/', or a '\\' that is not the second byte of a
// double-byte character of the chosen reading.
std::size_t NextSeparator(std::string_view text, std::size_t from) {
    return std::min(FindStoredSeparator(text, from), text.find('/', from));
}

NameUse Use(const std::string& local, std::string_view decoded) {
    return local == decoded ? NameUse::AsStored : NameUse::Substituted;
}

}  // namespace

NameUse StoredFolderToRelative(std::string_view folderPath, std::string& relative) {
    relative.clear();
    std::string_view rest = folderPath;
    if (!rest.empty() && IsSeparator(rest.front())) rest.remove_prefix(1);
    // A second leading separator is a network path; a drive designator an absolute one.
    if ((!rest.empty() && IsSeparator(rest.front())) || StartsWithDriveDesignator(rest) || HasDotStep(rest))
        return NameUse::Refused;
    std::string joined;
    for (std::size_t start = 0; start < rest.size();) {
        const std::size_t end = std::min(NextSeparator(rest, start), rest.size());
        const std::string_view step = rest.substr(start, end - start);
        start = end + 1;
        if (step.empty()) continue;  // doubled or trailing separators collapse
        if (!joined.empty()) joined += '/';
        joined += step;
    }
    const std::string decoded = StoredTextToUtf8(joined);
    if (HasDotStep(decoded)) return NameUse::Refused;
    std::string_view steps = decoded;
    while (!steps.empty()) {
        const std::size_t end = std::min(steps.find('/'), steps.size());
        if (!relative.empty()) relative += '/';
        relative += SubstituteName(steps.substr(0, end));
        steps.remove_prefix(std::min(end + 1, steps.size()));
    }
    return Use(relative, decoded);
}

NameUse StoredFileNameToLocal(std::string_view fileName, std::string& name) {
    name.clear();
    if (fileName.empty() || IsSeparator(fileName.front()) || StartsWithDriveDesignator(fileName) ||
        HasDotStep(fileName))
        return NameUse::Refused;
    const std::string decoded = StoredTextToUtf8(fileName);
    if (IsSeparator(decoded.front()) || HasDotStep(decoded)) return NameUse::Refused;
    name = SubstituteName(decoded);
    return Use(name, decoded);
}

std::string SubstituteName(std::string_view utf8) {
    std::string name;
    for (std::size_t i = 0; i < utf8.size();) {
        const std::string_view character = utf8.substr(i, SequenceLength(utf8[i]));
        const bool cannotStand = IsControl(character[0]) || IsSeparator(character[0]) || IsC1Control(character);
        if (cannotStand)
            name += '_';
        else
            name += character;
        i += character.size();
    }
    if (name.size() <= kMaxLocalName) return name;
    return Fitted(name, "");
}

std::string PortableName(std::string_view name) {
    std::string portable(name);
    for (char& c : portable)
        if (std::string_view("\"*:<>?\\|").find(c) != std::string_view::npos) c = '_';
    for (auto end = portable.rbegin(); end != portable.rend() && (*end == '.' || *end == ' '); ++end) *end = '_';
    return portable;
}

std::string UntakenName(const std::string& name, const std::set<std::string>& taken) {
    std::string untaken = name;
    for (int n = 2; taken.count(untaken) != 0; ++n) untaken = Fitted(name, " (" + std::to_string(n) + ")");
    return untaken;
}

std::string_view FileNameOf(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string PathUnder(std::string_view folder, std::string_view relative) {
    while (!folder.empty() && folder.back() == '/') folder.remove_suffix(1);
    if (relative.empty()) return folder.empty() ? std::string("/") : std::string(folder);
    std::string path(folder);
    path += '/';
    path += relative;
    return path;
}

std::string ShownStoredFolder(std::string_view folderPath) {
    if (folderPath.starts_with('\\')) folderPath.remove_prefix(1);
    return ShownStoredText(folderPath);
}

std::string ShownStoredText(std::string_view stored) {
    std::string text(stored);
    std::replace_if(text.begin(), text.end(), IsControl, '?');
    const std::string decoded = StoredTextToUtf8(text);
    std::string shown;
    for (std::size_t i = 0; i < decoded.size();) {
        const std::string_view character = std::string_view(decoded).substr(i, SequenceLength(decoded[i]));
        if (IsC1Control(character))
            shown += '?';
        else
            shown += character;
        i += character.size();
    }
    return shown;
}

}  // namespace corvane
