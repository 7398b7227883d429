#include "restore/BackupCatalog.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <map>
#include <set>
#include <string_view>
#include <tuple>

#include "archive/StreamFormat.h"
#include "extract/StoredPath.h"
#include "platform/TextCodec.h"

namespace corvane {

namespace {

constexpr std::string_view kStreamExtension = ".cvn";
constexpr std::string_view kImageExtension = ".iso";
constexpr std::string_view kCatalogueExtension = ".catalog";

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Whether name ends in extension (lower case), in any case.
bool HasExtension(std::string_view name, std::string_view extension) {
    if (name.size() < extension.size()) return false;
    std::string_view tail = name.substr(name.size() - extension.size());
    return std::equal(tail.begin(), tail.end(), extension.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

void AddStreamsOf(const std::string& folder, const std::vector<FolderEntry>& entries,
                  std::vector<BackupStream>& streams, std::vector<std::string>* catalogues) {
    for (const FolderEntry& entry : entries) {
        if (!entry.info.isFile()) continue;
        if (catalogues && HasExtension(entry.name, kCatalogueExtension))
            catalogues->push_back(PathUnder(folder, entry.name));
        if (!HasExtension(entry.name, kStreamExtension)) continue;
        BackupStream stream;
        stream.path = PathUnder(folder, entry.name);
        StreamNameParts parts;
        if (ParseStreamName(entry.name, parts)) {
            stream.label = parts.label;
            stream.timeStamp = parts.timeStamp;
            stream.sequence = parts.sequence;
        } else {
            stream.label = entry.name.substr(0, entry.name.size() - kStreamExtension.size());
        }
        streams.push_back(std::move(stream));
    }
}

// "3", or "3–4" with an en dash.
std::string NumberRange(long long first, long long last) {
    return first == last ? std::to_string(first)
                         : std::to_string(first) + "\xE2\x80\x93" + std::to_string(last);
}

bool SameText(std::string_view a, std::string_view b) { return CompareIgnoringCase(a, b) == 0; }

// "yy-mm-dd HH:MM" from "yymmddHHMM"; pieces past the end of a shorter stamp are empty.
std::string BackupTimeText(const std::string& stamp) {
    auto piece = [&](std::size_t at) { return at < stamp.size() ? stamp.substr(at, 2) : ""; };
    return StoredTextToUtf8(piece(0) + "-" + piece(2) + "-" + piece(4) + " " + piece(6) + ":" +
                               piece(8));
}

// The drive item of a label; drives stay in the order they came, so they are searched in turn.
CatalogItem* FindDrive(const CatalogTree& tree, const std::string& label) {
    for (int i = 0; i < tree.ChildCount(nullptr); ++i) {
        CatalogItem* child = tree.Child(nullptr, i);
        if (SameText(tree.Text(child), label)) return child;
    }
    return nullptr;
}

bool IsFolder(const CatalogItem* item) {
    if (item->look == ItemLook::Placeholder) return false;
    return !item->record || item->record->kind == kFolderItem;
}

// The name an item is matched and sorted by: its record's name when it has one (a locked
// folder shows "<protected>" but keeps its place among its siblings), else its text.
std::string NameOf(const CatalogTree& tree, const CatalogItem* item) {
    return item->record ? StoredTextToUtf8(item->record->name) : tree.Text(item);
}

// Siblings below the top level are kept sorted by name, ignoring case (InsertSorted puts them
// there), so a binary search finds a name among them. The index of the first child whose name
// sorts after name, or past names equal to it too.
int Bound(const CatalogTree& tree, const CatalogItem* parent, const std::string& name,
          bool pastEqual) {
    int low = 0, high = tree.ChildCount(parent);
    while (low < high) {
        const int middle = (low + high) / 2;
        const int order = CompareIgnoringCase(NameOf(tree, tree.Child(parent, middle)), name);
        if (order < 0 || (pastEqual && order == 0))
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

// Calls visit with each child below the top level named name, in order, until it returns true;
// returns that child, or null.
template <typename Visit>
CatalogItem* FindNamed(const CatalogTree& tree, CatalogItem* parent, const std::string& name,
                       Visit visit) {
    const int count = tree.ChildCount(parent);
    for (int i = Bound(tree, parent, name, false); i < count; ++i) {
        CatalogItem* child = tree.Child(parent, i);
        if (!SameText(NameOf(tree, child), name)) break;
        if (visit(child)) return child;
    }
    return nullptr;
}

// Sorted insertion among siblings by name, ignoring case; equal names go after the ones
// already there.
CatalogItem* InsertSorted(CatalogTree& tree, CatalogItem* parent, const std::string& name,
                          const std::string& text, ItemLook look) {
    return tree.Insert(parent, Bound(tree, parent, name, true), text, look);
}

CatalogItem* InsertSorted(CatalogTree& tree, CatalogItem* parent, const std::string& text,
                          ItemLook look) {
    return InsertSorted(tree, parent, text, text, look);
}

// Placeholders and files never match a folder: a real folder named "dummy", or a sub-folder
// named like a file beside it, gets an item of its own.
CatalogItem* FindFolder(const CatalogTree& tree, CatalogItem* parent, const std::string& name) {
    return FindNamed(tree, parent, name, IsFolder);
}

// Where a stream folder goes below parent. Null with duplicate set when the same stream is
// shown already (a disc given twice). A path folder made for a sub-folder whose stream came
// first is taken over, so the folder's own files are not lost. Anything else with that name
// is a different folder (the drive's root beside a folder named "root") and gets its own item.
CatalogItem* StreamFolderSlot(const CatalogTree& tree, CatalogItem* parent, const std::string& name,
                              std::string_view streamPath, bool& duplicate) {
    CatalogItem* pathFolder = nullptr;
    duplicate = FindNamed(tree, parent, name, [&](CatalogItem* child) {
        if (!IsFolder(child)) return false;
        if (!child->record) {
            if (!pathFolder) pathFolder = child;
            return false;
        }
        return FileNameOf(child->record->streamPath) == FileNameOf(streamPath);
    }) != nullptr;
    return duplicate ? nullptr : pathFolder;
}

void RemoveStream(RestoreEntries& entries, const std::string& streamPath) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries.streamPaths[i] == streamPath) continue;
        if (kept != i) {
            entries.streamPaths[kept] = std::move(entries.streamPaths[i]);
            entries.recordOffsets[kept] = entries.recordOffsets[i];
            entries.itemNames[kept] = std::move(entries.itemNames[i]);
            entries.lockedPasswords[kept] = std::move(entries.lockedPasswords[i]);
            entries.shownPaths[kept] = std::move(entries.shownPaths[i]);
        }
        ++kept;
    }
    entries.streamPaths.resize(kept);
    entries.recordOffsets.resize(kept);
    entries.itemNames.resize(kept);
    entries.lockedPasswords.resize(kept);
    entries.shownPaths.resize(kept);
}

void UnlockBelow(CatalogTree& tree, CatalogItem* parent, const std::string& password) {
    for (int i = 0; i < tree.ChildCount(parent); ++i) {
        CatalogItem* item = tree.Child(parent, i);
        CItemData* record = item->record.get();
        if (record && record->locked && !record->absentDisc && record->password == password) {
            record->locked = 0;
            tree.SetLook(item, StoredTextToUtf8(record->name), ItemLook::Folder);
        }
        UnlockBelow(tree, item, password);
    }
}

// Calls visit with the record of item and of each item below it that lies on a disc that is not
// present, a folder before its files; streams named in passOver are left out.
template <typename Visit>
void ForEachAbsentRecord(const CatalogTree& tree, const CatalogItem* item, const std::set<std::string>& passOver,
                         Visit visit) {
    const CItemData* record = item->record.get();
    if (record && record->absentDisc && !passOver.count(record->streamPath)) visit(*record);
    for (int i = 0; i < tree.ChildCount(item); ++i) ForEachAbsentRecord(tree, tree.Child(item, i), passOver, visit);
}

void OutlineBelow(const CatalogTree& tree, const CatalogItem* parent, int depth, std::string& out) {
    for (int i = 0; i < tree.ChildCount(parent); ++i) {
        const CatalogItem* item = tree.Child(parent, i);
        if (item->look == ItemLook::Placeholder) continue;
        out.append(static_cast<std::size_t>(2 * depth), ' ');
        out += ShownStoredText(tree.Text(item));  // no control character reaches a terminal
        out += '\n';
        OutlineBelow(tree, item, depth + 1, out);
    }
}

// Trailing white space in the C library's sense: space, tab, line ends, form feed.
std::string TrimmedRight(std::string text) {
    while (!text.empty() && IsBlank(text.back())) text.pop_back();
    return text;
}

}  // namespace

Status FindStreams(FileSystem& files, const std::string& folder,
                   std::vector<BackupStream>& streams) {
    std::vector<FolderEntry> entries;
    Status s = files.ListFolder(folder, entries);
    if (s.ok()) AddStreamsOf(folder, entries, streams, nullptr);
    return s;
}

std::vector<std::string> FindStreamsInPlaces(FileSystem& files,
                                             const std::vector<std::string>& places,
                                             std::vector<BackupStream>& streams,
                                             std::vector<std::string>* catalogues) {
    std::vector<std::string> skipped;
    for (const std::string& place : places) {
        std::vector<FolderEntry> entries;
        Status s = files.ListFolder(place, entries);
        if (!s.ok()) {
            skipped.push_back(ShownStoredText(place) + " was skipped: " + s.message());
            continue;
        }
        const std::size_t before = streams.size();
        AddStreamsOf(place, entries, streams, catalogues);
        std::vector<const FolderEntry*> images;
        for (const FolderEntry& entry : entries)
            if (HasExtension(entry.name, kImageExtension)) images.push_back(&entry);
        std::sort(images.begin(), images.end(),
                  [](const FolderEntry* a, const FolderEntry* b) { return a->name < b->name; });
        for (const FolderEntry* entry : images) {
            const std::string image = PathUnder(place, entry->name);
            if (!entry->info.isFolder()) {
                skipped.push_back(ShownStoredText(image) + " was skipped: it is not a disc image");
                continue;
            }
            for (std::string& line : FindStreamsInPlaces(files, {image}, streams, catalogues))
                skipped.push_back(std::move(line));
        }
        if (streams.size() == before && images.empty())
            skipped.push_back(ShownStoredText(place) +
                              " was skipped: it holds no backup streams (*.cvn files)");
    }
    return skipped;
}

std::vector<std::string> MissingStreamMessages(const std::vector<BackupStream>& streams) {
    std::map<std::pair<std::string, std::string>, std::set<long long>> numbers;
    for (const BackupStream& stream : streams)
        if (!stream.timeStamp.empty())
            numbers[{stream.label, stream.timeStamp}].insert(stream.sequence);
    std::vector<std::string> messages;
    for (const auto& [backup, found] : numbers) {
        const std::string name = ShownStoredText(backup.first + " " + backup.second);
        long long expected = 0;  // a backup's numbers start at 0 and run on without gaps
        for (long long number : found) {
            if (number > expected) {
                const bool one = number - 1 == expected;
                messages.push_back((one ? "stream " : "streams ") + NumberRange(expected, number - 1) +
                                   " of " + name + (one ? " was" : " were") +
                                   " not found: is a disc missing?");
            }
            expected = number + 1;
        }
    }
    return messages;
}

bool StreamHeaderReader::Read(BackupStream& stream) {
    const std::string name(FileNameOf(stream.path));
    if (read_.count(name)) return false;
    Status s = ReadStreamHeader(files_, stream, keys_);
    const KnownStream* known = nullptr;
    for (std::size_t set = 0; catalogued_ && set < catalogued_->size() && !known; ++set)
        for (const KnownStream& candidate : (*catalogued_)[set].streams)
            if (candidate.stream.name == name) known = &candidate;
    const bool plain = known && !IsSealedStream(known->stream) && !stream.sealed;
    if (plain && !TakeCatalogued(known->stream, stream, s) && s.ok())
        s = Status(Status::Code::Corrupt, "its folder header holds no password, but its catalogue says it is protected");
    if (!s.ok()) {
        // What the catalogue knows of it tells the user what is lost.
        std::string what = ShownStoredText(stream.path);
        if (known)
            what += " (the folder " +
                    (plain && !known->stream.isProtected ? ShownStoredText(known->stream.folderPath) : "<protected>") +
                    " with " + std::to_string(known->files.size()) + (known->files.size() == 1 ? " file)" : " files)");
        unreadable_.emplace(name, what + " was left out: " + s.message());
        return false;
    }
    read_.insert(name);
    unreadable_.erase(name);
    return true;
}

bool StreamHeaderReader::TakeCatalogued(const CatalogueStream& listed, BackupStream& stream, Status& status) {
    const std::string name(FileNameOf(stream.path));
    const std::string catalogues = " (the catalogue gives " + ShownStoredText(listed.folderPath) +
                                   (listed.isProtected ? ", protected)" : ")");
    std::string noPassword;
    PadPassword("", noPassword);
    if (!status.ok()) {
        // The password of a protected folder is only in its header: without it the folder stays shut.
        if (listed.isProtected) return false;
        notes_[name] = ShownStoredText(stream.path) + ": its folder header could not be read (" + status.message() +
                       "); it is read as its catalogue describes it" + catalogues;
        stream.folderPath = listed.folderPath;
        stream.password = noPassword;
        status = Status::Ok();
        return true;
    }
    const bool headerProtected = !IsNoPassword(stream.password);
    if (stream.folderPath == listed.folderPath && headerProtected == listed.isProtected) return true;
    if (listed.isProtected && !headerProtected) return false;
    notes_[name] = ShownStoredText(stream.path) + ": its folder header says " + ShownStoredText(stream.folderPath) +
                   (headerProtected ? ", protected" : "") + "; it is read as its catalogue describes it" + catalogues;
    stream.folderPath = listed.folderPath;
    if (!listed.isProtected) stream.password = noPassword;
    return true;
}

std::vector<std::string> StreamHeaderReader::Unreadable() const {
    std::vector<std::string> lines;
    for (const auto& [name, line] : unreadable_) lines.push_back(line);
    return lines;
}

std::vector<std::string> StreamHeaderReader::Notes() const {
    std::vector<std::string> lines;
    for (const auto& [name, line] : notes_)
        if (read_.count(name)) lines.push_back(line);
    return lines;
}

void SortStreams(std::vector<BackupStream>& streams) {
    std::stable_sort(streams.begin(), streams.end(),
                     [](const BackupStream& a, const BackupStream& b) {
                         return std::tie(a.label, a.timeStamp, a.sequence, a.path) <
                                std::tie(b.label, b.timeStamp, b.sequence, b.path);
                     });
}

Status ReadStreamHeader(FileSystem& files, BackupStream& stream, KeyRing* keys) {
    std::unique_ptr<File> in;
    Status s = files.OpenRead(stream.path, in);
    if (!s.ok()) return s;
    FolderHeader header;
    // The header is all that is read: a larger read would fetch file data for nothing.
    s = StreamReader(*in, kLargestFolderHeader, keys).ReadFolderHeader(header);
    in->Close();
    if (!s.ok()) return s;
    // An encrypted stream names the backup and the number it was written as.
    if (header.key && (header.backupName != stream.label + " " + stream.timeStamp || header.sequence != stream.sequence))
        return Status(Status::Code::Corrupt, "Damaged stream: it was written as another stream or for another backup");
    stream.folderPath = std::move(header.folderPath);
    stream.password = header.password.substr(0, header.password.find('\0'));
    stream.sealed = header.sealed;
    stream.parameters = header.parameters;
    stream.key = std::move(header.key);
    return Status::Ok();
}

BackupStream AbsentBackupStream(const CatalogueStream& known, const std::vector<CatalogueFile>& files) {
    BackupStream stream;
    stream.path = known.name;
    StreamNameParts parts;
    if (ParseStreamName(known.name, parts)) {
        stream.label = parts.label;
        stream.timeStamp = parts.timeStamp;
        stream.sequence = parts.sequence;
    }
    stream.sealed = ParseKeyParameters(known.folderPath, stream.parameters).ok();
    stream.folderPath = known.folderPath;  // an encrypted one's is its key's parameters
    stream.absentDisc = known.disc;
    stream.absentFiles = &files;
    // The catalogue holds no password, so a protected folder cannot be opened from it.
    stream.password = known.isProtected && !stream.sealed ? std::string("<protected>") : std::string(kPasswordLength, ' ');
    return stream;
}

bool StreamLocked(const BackupStream& stream, const std::vector<std::string>& unlockedPasswords) {
    if (stream.absentDisc) return stream.sealed || !IsNoPassword(stream.password);  // no password to open it
    if (stream.sealed) return !stream.key;
    return !IsNoPassword(stream.password) &&
           std::find(unlockedPasswords.begin(), unlockedPasswords.end(), stream.password) == unlockedPasswords.end();
}

CatalogItem* AddBackupStream(CatalogTree& tree, const BackupStream& stream,
                             const std::vector<std::string>& unlockedPasswords) {
    const std::string label = StoredTextToUtf8(stream.label);
    CatalogItem* drive = FindDrive(tree, label);
    if (!drive) drive = tree.Insert(nullptr, tree.ChildCount(nullptr), label, ItemLook::Drive);

    const std::string when = BackupTimeText(stream.timeStamp);
    CatalogItem* current = FindNamed(tree, drive, when, [](CatalogItem*) { return true; });
    if (!current) current = InsertSorted(tree, drive, when, ItemLook::Backup);

    std::string_view rest = stream.folderPath;
    for (auto slash = FindStoredSeparator(rest); slash != std::string_view::npos;
         slash = FindStoredSeparator(rest)) {
        std::string component(rest.substr(0, slash));
        rest.remove_prefix(slash + 1);
        while (!component.empty() && IsBlank(component.back())) component.pop_back();
        if (component.empty()) continue;
        const std::string shown = StoredTextToUtf8(component);
        CatalogItem* next = FindFolder(tree, current, shown);
        current = next ? next : InsertSorted(tree, current, shown, ItemLook::Folder);
    }

    auto record = std::make_unique<CItemData>();
    record->name = rest.empty() ? std::string("ROOT") : std::string(rest);
    record->streamPath = stream.path;
    record->password = stream.sealed ? StoredKeyParameters(stream.parameters) : stream.password;
    record->locked = StreamLocked(stream, unlockedPasswords) ? 1 : 0;
    record->absentDisc = stream.absentDisc;

    const std::string name = StoredTextToUtf8(record->name);
    bool duplicate = false;
    CatalogItem* folder = StreamFolderSlot(tree, current, name, stream.path, duplicate);
    if (duplicate) return drive;
    std::string text = record->locked ? std::string("<protected>") : name;
    if (stream.absentDisc) text += " (on disc " + std::to_string(stream.absentDisc) + ")";
    const ItemLook look = record->locked ? ItemLook::LockedFolder : ItemLook::Folder;
    if (folder)
        tree.SetLook(folder, text, look);
    else
        folder = InsertSorted(tree, current, name, text, look);
    folder->record = std::move(record);
    if (!stream.absentDisc) {
        InsertSorted(tree, folder, "dummy", ItemLook::Placeholder);
    } else if (!folder->record->locked && stream.absentFiles) {
        for (const CatalogueFile& file : *stream.absentFiles) {
            auto fileRecord = std::make_unique<CItemData>();
            fileRecord->kind = kFileItem;
            fileRecord->name = file.name;
            fileRecord->streamPath = stream.path;
            fileRecord->recordOffset = file.recordOffset;
            fileRecord->created = file.created;
            fileRecord->modified = file.modified;
            fileRecord->absentDisc = stream.absentDisc;
            CatalogItem* item = InsertSorted(tree, folder, StoredTextToUtf8(file.name), ItemLook::File);
            item->record = std::move(fileRecord);
        }
    }
    return drive;
}

std::vector<std::string> AbsentDiscsBelow(const CatalogTree& tree, const CatalogItem* item,
                                          const std::set<std::string>& passOver) {
    std::map<std::uint32_t, std::string> streamOfDisc;  // a stream file name of each disc
    ForEachAbsentRecord(tree, item, passOver,
                        [&](const CItemData& record) { streamOfDisc.emplace(record.absentDisc, record.streamPath); });
    std::vector<std::string> discs;
    for (const auto& [disc, streamName] : streamOfDisc) {
        StreamNameParts parts;
        const std::string backup =
            ParseStreamName(streamName, parts) ? parts.label + " " + parts.timeStamp : streamName;
        discs.push_back("disc " + std::to_string(disc) + " of " + ShownStoredText(backup));
    }
    return discs;
}

std::map<std::string, std::set<std::uint64_t>> AbsentFilesBelow(const CatalogTree& tree, const CatalogItem* item,
                                                                 const std::set<std::string>& passOver) {
    std::map<std::string, std::set<std::uint64_t>> absent;
    std::set<std::string> wholeStreams;
    ForEachAbsentRecord(tree, item, passOver, [&](const CItemData& record) {
        if (record.recordOffset == 0) {
            wholeStreams.insert(record.streamPath);
            absent[record.streamPath].clear();
        } else if (!wholeStreams.count(record.streamPath)) {
            absent[record.streamPath].insert(record.recordOffset);
        }
    });
    return absent;
}

bool HoldsStream(const CatalogTree& tree, const CatalogItem* item, std::string_view streamName) {
    if (item->record && FileNameOf(item->record->streamPath) == streamName) return true;
    for (int i = 0; i < tree.ChildCount(item); ++i)
        if (HoldsStream(tree, tree.Child(item, i), streamName)) return true;
    return false;
}

CatalogItem* FindPlaceholder(const CatalogTree& tree, const CatalogItem* folder) {
    for (int i = 0; i < tree.ChildCount(folder); ++i) {
        CatalogItem* child = tree.Child(folder, i);
        if (child->look == ItemLook::Placeholder) return child;
    }
    return nullptr;
}

Status ListStreamFiles(CatalogTree& tree, CatalogItem* folder, FileSystem& files, KeyRing* keys) {
    const std::string& streamPath = folder->record->streamPath;
    std::unique_ptr<File> in;
    Status s = files.OpenRead(streamPath, in);
    if (!s.ok()) return s;
    StreamReader reader(*in, 1 << 16, keys);
    FolderHeader header;
    s = reader.ReadFolderHeader(header);
    if (s.ok()) {
        FileRecord fileRecord;
        bool found = false;
        while ((s = reader.NextRecord(fileRecord, found)).ok() && found) {
            auto record = std::make_unique<CItemData>();
            record->kind = kFileItem;
            record->name = fileRecord.fileName;
            record->streamPath = streamPath;
            record->recordOffset = fileRecord.recordOffset;
            record->created = fileRecord.created;
            record->modified = fileRecord.modified;
            CatalogItem* item =
                InsertSorted(tree, folder, StoredTextToUtf8(record->name), ItemLook::File);
            item->record = std::move(record);
        }
        // Streams end right after their last record: anything else is damage.
        if (s.ok() && reader.endedEarly())
            s = Status(Status::Code::Corrupt, "the rest of the backup stream is damaged");
    }
    in->Close();
    return s;
}

bool OpenStreamFolder(CatalogTree& tree, CatalogItem* folder, FileSystem& files, Status* damage, KeyRing* keys) {
    CatalogItem* placeholder = FindPlaceholder(tree, folder);
    if (!placeholder || !folder->record || folder->record->locked) return false;
    tree.DeleteSubtree(placeholder);
    Status s = ListStreamFiles(tree, folder, files, keys);
    if (damage) *damage = s;
    return true;
}

void UnlockPassword(CatalogTree& tree, const std::string& password) {
    UnlockBelow(tree, nullptr, password);
}

void UnlockSealed(CatalogTree& tree, FileSystem& files, KeyRing& keys) {
    std::vector<CatalogItem*> sealed;
    std::vector<CatalogItem*> pending = {nullptr};
    while (!pending.empty()) {
        CatalogItem* parent = pending.back();
        pending.pop_back();
        for (int i = 0; i < tree.ChildCount(parent); ++i) {
            CatalogItem* item = tree.Child(parent, i);
            const CItemData* record = item->record.get();
            KeyParameters parameters;
            if (record && record->locked && !record->absentDisc && ParseKeyParameters(record->password, parameters).ok() &&
                keys.KeyFor(parameters))
                sealed.push_back(item);
            else
                pending.push_back(item);
        }
    }
    std::vector<BackupStream> opened;
    for (CatalogItem* item : sealed) {
        BackupStream stream;
        stream.path = item->record->streamPath;
        StreamNameParts parts;
        if (ParseStreamName(FileNameOf(stream.path), parts)) {
            stream.label = parts.label;
            stream.timeStamp = parts.timeStamp;
            stream.sequence = parts.sequence;
        }
        if (!ReadStreamHeader(files, stream, &keys).ok() || !stream.key) continue;
        tree.DeleteSubtree(item);
        opened.push_back(std::move(stream));
    }
    // A folder before its sub-folders, as the scan places them.
    SortStreams(opened);
    for (const BackupStream& stream : opened) AddBackupStream(tree, stream, {});
}

bool PasswordMatches(const std::string& typed, const std::string& stored) {
    return TrimmedRight(typed) == TrimmedRight(StoredTextToUtf8(stored));
}

std::string ShownItemPath(const CatalogTree& tree, const CatalogItem* item, const std::string& shownAbove) {
    if (item->look == ItemLook::Drive || item->look == ItemLook::Backup) return shownAbove;
    return (shownAbove.empty() ? "" : shownAbove + "/") + tree.Text(item);
}

void CollectForRestore(const CatalogTree& tree, const CatalogItem* item, RestoreEntries& entries,
                       const std::string& shownPath, const std::set<std::string>& passOver) {
    for (int i = 0; i < tree.ChildCount(item); ++i) {
        const CatalogItem* child = tree.Child(item, i);
        CollectForRestore(tree, child, entries, ShownItemPath(tree, child, shownPath), passOver);
    }
    const CItemData* record = item ? item->record.get() : nullptr;
    if (!record || record->streamPath.empty() || record->absentDisc ||
        passOver.count(std::string(FileNameOf(record->streamPath))))
        return;
    if (record->recordOffset == 0) RemoveStream(entries, record->streamPath);
    entries.streamPaths.push_back(record->streamPath);
    entries.recordOffsets.push_back(record->recordOffset);
    entries.itemNames.push_back(record->name);
    entries.lockedPasswords.push_back(record->locked ? record->password : std::string());
    entries.shownPaths.push_back(shownPath);
}

std::string FormatTime(std::int64_t time, const char* pattern) {
    auto t = static_cast<std::time_t>(time);
    std::tm local{};
    if (!::localtime_r(&t, &local)) return {};
    char text[128];
    std::size_t length = std::strftime(text, sizeof text, pattern, &local);
    return std::string(text, length);
}

std::string CatalogOutline(const CatalogTree& tree) {
    std::string out;
    OutlineBelow(tree, nullptr, 0, out);
    return out;
}

}  // namespace corvane
