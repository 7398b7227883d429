#include "extract/NamesGiven.h"

#include <algorithm>

#include "extract/StoredPath.h"
#include "platform/TextCodec.h"

namespace corvane {

bool NamesGiven::IgnoringCase::operator()(const std::string& a, const std::string& b) const {
    return CompareIgnoringCase(a, b) < 0;
}

std::string NamesGiven::Give(const std::string& folder, const std::string& name) {
    std::set<std::string>& given = folders_[folder].given;
    std::string untaken = UntakenName(name, given);
    given.insert(untaken);
    return untaken;
}

std::string NamesGiven::GiveUnused(FileSystem& files, const std::string& folder, const std::string& name) {
    std::set<std::string> taken = folders_[folder].given;
    std::string candidate = UntakenName(name, taken);
    FileInfo info;
    while (files.Stat(PathUnder(folder, candidate), info).ok()) {
        taken.insert(candidate);
        candidate = UntakenName(name, taken);
    }
    folders_[folder].given.insert(candidate);
    return candidate;
}

void NamesGiven::Written(const std::string& folder, const std::string& name) {
    Folder& entry = folders_[folder];
    entry.given.insert(name);
    const auto [first, last] = entry.written.equal_range(name);
    if (std::find(first, last, name) == last) entry.written.insert(name);
}

bool NamesGiven::FindsWritten(FileSystem& files, const std::string& folder, const std::string& name) const {
    const auto found = folders_.find(folder);
    if (found == folders_.end()) return false;
    const auto [first, last] = found->second.written.equal_range(name);
    for (auto it = first; it != last; ++it)
        if (*it == name || files.SameEntry(PathUnder(folder, name), PathUnder(folder, *it))) return true;
    return false;
}

}  // namespace corvane
