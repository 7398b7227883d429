#include "extract/NamesGiven.h"

#include <algorithm>

#include "extract/StoredPath.h"
#include "platform/TextCodec.h"

namespace corvane {

bool NamesGiven::IgnoringCase::operator()(const std::string& a, const std::string& b) const {
    return CompareIgnoringCase(a, b) < 0;
}

NamesGiven::Folders::const_iterator NamesGiven::Find(const std::string& folder) const {
    const auto [first, last] = folders_.equal_range(folder);
    const auto found = std::find_if(first, last, [&](const auto& entry) { return entry.first == folder; });
    return found == last ? folders_.end() : found;
}

NamesGiven::Folder& NamesGiven::At(const std::string& folder) {
    if (last_ && folder == lastPath_) return *last_;
    auto found = Find(folder);
    if (found == folders_.end()) found = folders_.emplace(folder, std::make_shared<Folder>());
    lastPath_ = folder;
    last_ = found->second;
    return *last_;
}

void NamesGiven::FolderReached(FileSystem& files, const std::string& folder) {
    if (Find(folder) != folders_.end()) return;
    const auto [first, last] = folders_.equal_range(folder);
    for (auto it = first; it != last; ++it) {
        if (files.SameEntry(folder, it->first)) {
            folders_.emplace(folder, it->second);
            return;
        }
    }
    folders_.emplace(folder, std::make_shared<Folder>());
}

std::string NamesGiven::PlaceFolders(FileSystem& files, const std::string& top, const std::string& relative) {
    std::string place;
    ForEachStep(relative, [&](const std::string& path, const std::string& name) {
        const auto moved = placed_.find(PathUnder(top, path));
        if (moved != placed_.end()) {
            place = moved->second;
            return;
        }
        const std::string parent = PathUnder(top, place);
        std::string step = name;
        // Only looked up: a folder becomes known when it is reached, which finds its other spellings.
        const auto known = Find(parent);
        const bool madeHere = known != folders_.end() && known->second->folders.count(name) != 0;
        FileInfo info;
        if (!madeHere && FindsWritten(files, parent, name) && files.Stat(PathUnder(parent, name), info).ok() &&
            !info.isFolder()) {
            step = GiveUnused(files, parent, name);
            placed_[PathUnder(top, path)] = place.empty() ? step : place + "/" + step;
        }
        place = place.empty() ? step : place + "/" + step;
    });
    return place;
}

void NamesGiven::FolderWritten(const std::string& parent, const std::string& name) {
    Written(parent, name);
    At(parent).folders.insert(name);
}

std::string NamesGiven::Give(const std::string& folder, const std::string& name) {
    std::set<std::string>& given = At(folder).given;
    std::string untaken = UntakenName(name, given);
    given.insert(untaken);
    return untaken;
}

std::string NamesGiven::GiveUnused(FileSystem& files, const std::string& folder, const std::string& name) {
    std::set<std::string>& given = At(folder).given;
    std::set<std::string> taken = given;
    std::string candidate = UntakenName(name, taken);
    FileInfo info;
    while (files.Stat(PathUnder(folder, candidate), info).ok()) {
        taken.insert(candidate);
        candidate = UntakenName(name, taken);
    }
    given.insert(candidate);
    return candidate;
}

void NamesGiven::Written(const std::string& folder, const std::string& name) {
    Folder& entry = At(folder);
    entry.given.insert(name);
    const auto [first, last] = entry.written.equal_range(name);
    if (std::find(first, last, name) == last) entry.written.insert(name);
}

bool NamesGiven::FindsWritten(FileSystem& files, const std::string& folder, const std::string& name) const {
    const auto found = Find(folder);
    if (found == folders_.end()) return false;
    const auto [first, last] = found->second->written.equal_range(name);
    for (auto it = first; it != last; ++it)
        if (*it == name || files.SameEntry(PathUnder(folder, name), PathUnder(folder, *it))) return true;
    return false;
}

}  // namespace corvane
