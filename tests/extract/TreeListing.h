#pragma once
// Everything a test left in a folder, to compare with what it expected.

#include <filesystem>
#include <set>
#include <string>

namespace corvane::test {

// Paths of all files, folders and links below root, relative to it, except those below skip.
// Empty when root does not exist.
inline std::set<std::string> TreeListing(const std::string& root, const std::string& skip = "") {
    std::set<std::string> entries;
    if (!std::filesystem::exists(root)) return entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        // Lexically: a link is listed as itself, not as where it leads.
        std::string relative = entry.path().lexically_relative(root).string();
        if (!skip.empty() && (relative == skip || relative.starts_with(skip + "/"))) continue;
        entries.insert(relative);
    }
    return entries;
}

}  // namespace corvane::test
