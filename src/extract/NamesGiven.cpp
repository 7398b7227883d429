#include "extract/NamesGiven.h"

#include <algorithm>

#include "extract/StoredPath.h"
#include "platform/TextCodec.h"

namespace corvane {

namespace {

// Two looks at one entry: the same kind, size and times, to the nanosecond of its last
// change where the file system keeps that. Inode numbers are no help: a FUSE file system may
// answer a new one for every spelling of a name.
bool SameEntry(const FileInfo& a, const FileInfo& b) {
    return a.kind == b.kind && a.size == b.size && a.modified == b.modified && a.changed == b.changed &&
           a.created == b.created;
}

}  // namespace

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
    FileInfo atName;
    if (first == last || !files.Stat(PathUnder(folder, name), atName).ok()) return false;
    for (auto it = first; it != last; ++it) {
        const std::string& written = *it;
        if (written == name) return true;
        FileInfo atWritten;
        if (files.Stat(PathUnder(folder, written), atWritten).ok() && SameEntry(atName, atWritten)) return true;
    }
    return false;
}

}  // namespace corvane
