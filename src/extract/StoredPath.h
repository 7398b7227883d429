#pragma once
// Folder paths and file names as a stream stores them ("\Docs\2008", "\" for the root, 8-bit
// text) become local paths under a destination folder. Names from a damaged or foreign disc
// that would lead outside the destination are refused.

#include <string>
#include <string_view>

namespace corvane {

// The folder path relative to the destination, '/'-separated UTF-8: "Docs/2008", "" for the
// root. False for ".." or "." steps, absolute or network forms ("\\server"), a drive
// designator ("C:") at the start and control characters (C0, DEL and C1, also once decoded).
bool StoredFolderToRelative(std::string_view folderPath, std::string& relative);

// The file name as UTF-8. False unless it is one plain name: no separator ('/' or '\'), not
// "." or "..", no drive designator at the start, no control characters (C0, DEL and C1, also
// once decoded).
bool StoredFileNameToLocal(std::string_view fileName, std::string& name);

// relative inside folder. A trailing '/' of folder is ignored, and "/" stays the root:
// PathUnder("/", "Docs") is "/Docs". An empty relative gives the folder itself.
std::string PathUnder(std::string_view folder, std::string_view relative);

// Stored text for a message: UTF-8, control characters shown as '?'.
std::string ShownStoredText(std::string_view stored);

}  // namespace corvane
