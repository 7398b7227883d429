#pragma once
// Folder paths and file names as a stream stores them ("\Docs\2008", "\" for the root, 8-bit
// text) become local paths under a destination folder. Names from a damaged or foreign disc
// that would lead outside the destination are refused; names this file system cannot hold as
// they are get a substitute.

#include <algorithm>
#include <set>
#include <string>
#include <string_view>

namespace corvane {

// How a stored folder path or file name is restored.
enum class NameUse {
    AsStored,     // under its stored reading
    Substituted,  // under a substitute: see SubstituteName
    Refused,      // not at all: it names a place outside the destination
};

// The longest name, in bytes of UTF-8, that the file systems in use take.
constexpr std::size_t kMaxLocalName = 255;

// The folder path relative to the destination, '/'-separated UTF-8: "Docs/2008", "" for the
// root. Refused for ".." or "." steps, absolute or network forms ("\\server") and a drive
// designator ("C:") at the start; a step that cannot stand as it is gets a substitute.
NameUse StoredFolderToRelative(std::string_view folderPath, std::string& relative);

// The file name as UTF-8. Refused for "." and "..", a leading separator, a "." or ".." step
// between separators and a drive designator at the start; a separator elsewhere or anything
// else that cannot stand as it is gets a substitute.
NameUse StoredFileNameToLocal(std::string_view fileName, std::string& name);

// A name that can stand on the file system for a decoded (UTF-8) one: control characters (C0,
// DEL and C1) and separators become '_', and a name longer than kMaxLocalName bytes is cut
// short before its extension, never inside a character.
std::string SubstituteName(std::string_view utf8);

// A name for a destination that refuses name, as FAT and exFAT do: the characters they do not
// take ("*:<>?\| and the quote) become '_', and so do dots and spaces at its end.
std::string PortableName(std::string_view name);

// name, or when taken holds it already, "stem (2).ext", "stem (3).ext"... kept within
// kMaxLocalName bytes.
std::string UntakenName(const std::string& name, const std::set<std::string>& taken);

// relative inside folder. A trailing '/' of folder is ignored, and "/" stays the root:
// PathUnder("/", "Docs") is "/Docs". An empty relative gives the folder itself.
std::string PathUnder(std::string_view folder, std::string_view relative);

// Calls step(path, name) for each step of a '/'-separated relative path, with the path to it:
// "Docs/2008" gives ("Docs", "Docs") and ("Docs/2008", "2008").
template <typename Step>
void ForEachStep(const std::string& relative, Step step) {
    for (std::size_t start = 0; start < relative.size();) {
        const std::size_t end = std::min(relative.find('/', start), relative.size());
        step(relative.substr(0, end), relative.substr(start, end - start));
        start = end + 1;
    }
}

// The last component of a path: "/media/d/DATA 0812251430 0.cvn" gives "DATA 0812251430 0.cvn".
std::string_view FileNameOf(std::string_view path);

// Stored text for a message: UTF-8, control characters shown as '?'.
std::string ShownStoredText(std::string_view stored);
// A stored folder path as messages show it, without its leading backslash: "Docs\2008", and ""
// for the root, so that its files show as "Docs\2008\a.txt" and "\readme.txt".
std::string ShownStoredFolder(std::string_view folderPath);

}  // namespace corvane
