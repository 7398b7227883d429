#include "verify/DiscVerifier.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <set>
#include <string_view>

#include "archive/StreamFormat.h"
#include "disc/ImageChecksum.h"
#include "disc/ImageFileName.h"
#include "disc/ImageFileSystem.h"
#include "extract/StoredPath.h"
#include "restore/BackupCatalog.h"

namespace corvane {

namespace {

bool EndsWith(std::string_view name, std::string_view ending) {
    if (name.size() <= ending.size()) return false;
    for (std::size_t i = 0; i < ending.size(); ++i) {
        char c = name[name.size() - ending.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != ending[i]) return false;
    }
    return true;
}

// Whether the disc is an image rather than a folder: an image's session MD5 sum is checked. A
// file or device without an image's name is one when the file layer was told to read it so.
bool IsDiscImage(FileSystem& files, const std::string& root) {
    FileInfo onDisk, read;
    if (!DefaultFileSystem().Stat(root, onDisk).ok() || onDisk.isFolder()) return false;
    if (HasImageName(root) && onDisk.isFile()) return true;
    return files.Stat(root, read).ok() && read.isFolder();
}

// The backup files in a disc's root, by name.
struct DiscContents {
    std::vector<std::string> streams;
    std::vector<std::string> catalogues;
    std::uint64_t streamBytes = 0;
};

Status ListDisc(FileSystem& files, const std::string& root, DiscContents& contents) {
    std::vector<FolderEntry> entries;
    Status s = files.ListFolder(root, entries);
    if (!s.ok()) return s;
    for (const FolderEntry& entry : entries) {
        if (!entry.info.isFile()) continue;
        if (EndsWith(entry.name, ".cvn")) {
            contents.streams.push_back(entry.name);
            contents.streamBytes += entry.info.size;
        } else if (EndsWith(entry.name, ".catalog")) {
            contents.catalogues.push_back(entry.name);
        }
    }
    std::sort(contents.streams.begin(), contents.streams.end());
    std::sort(contents.catalogues.begin(), contents.catalogues.end());
    return Status::Ok();
}

// The disc's own catalogue, when one reads whole; each one that does not is damage.
bool LoadOwnCatalogue(FileSystem& files, const std::string& root, const DiscContents& contents,
                      LoadedCatalogue& catalogue, std::vector<DiscDamage>& damage) {
    for (const std::string& name : contents.catalogues) {
        Status s = LoadCatalogue(files, PathUnder(root, name), catalogue);
        if (s.ok()) return true;
        damage.push_back({"", name, s.message()});
    }
    return false;
}

// Disc images, mounted discs and folders of stream files among the places.
void FindDiscs(FileSystem& files, const std::vector<std::string>& places, std::vector<std::string>& discs,
               std::vector<std::string>& skipped) {
    for (const std::string& place : places) {
        if (HasImageName(place)) {  // an image that cannot be read is a damaged disc, not skipped
            discs.push_back(place);
            continue;
        }
        std::vector<FolderEntry> entries;
        Status s = files.ListFolder(place, entries);
        if (!s.ok()) {
            skipped.push_back(ShownStoredText(place) + " was skipped: " + s.message());
            continue;
        }
        bool holdsBackup = false;
        std::vector<std::string> images;
        for (const FolderEntry& entry : entries) {
            if (HasImageName(entry.name)) images.push_back(PathUnder(place, entry.name));
            holdsBackup = holdsBackup || (entry.info.isFile() && (EndsWith(entry.name, ".cvn") || EndsWith(entry.name, ".catalog")));
        }
        std::sort(images.begin(), images.end());
        if (holdsBackup) discs.push_back(place);
        discs.insert(discs.end(), images.begin(), images.end());
        if (!holdsBackup && images.empty())
            skipped.push_back(ShownStoredText(place) + " was skipped: it holds no backup discs");
    }
}

// The highest stream number a catalogue lists.
std::uint32_t LastSequence(const LoadedCatalogue& catalogue) {
    std::uint32_t last = 0;
    for (const CataloguedStream& entry : catalogue.streams) last = std::max(last, entry.stream.sequence);
    return last;
}

// The lowest stream number among the disc's streams, or -1 when none has a number.
long long FirstSequence(const std::vector<std::string>& streams) {
    long long first = -1;
    for (const std::string& name : streams) {
        StreamNameParts parts;
        if (ParseStreamName(name, parts) && (first < 0 || parts.sequence < first)) first = parts.sequence;
    }
    return first;
}

DiscReport CheckDisc(FileSystem& files, const std::string& root, const DiscContents& contents,
                     const LoadedCatalogue* own, const LoadedCatalogue* reference, KeyRing* keys,
                     const VerifyProgress& progress) {
    DiscReport report;
    report.place = root;
    const LoadedCatalogue* against = own ? own : reference;
    report.backupName = against ? against->backup.name : DiscBackupName(contents.streams);
    if (against) report.backupTime = against->backup.time;
    if (contents.streams.empty() && !against) report.backupName.clear();
    // Streams numbered after the reference's last are on a disc it does not describe: the one
    // after its discs when it says more follow and this disc goes on right after its last stream.
    long long describedUpTo = -1;
    if (own) {
        report.disc = own->backup.discs;
        report.checkedAs = "against its catalogue";
    } else if (against) {
        describedUpTo = LastSequence(*against);
        for (const std::string& name : contents.streams)
            if (const CataloguedStream* entry = against->Find(name)) {
                report.disc = entry->stream.disc;
                break;
            }
        report.checkedAs = "against the catalogue of disc " + std::to_string(against->backup.discs);
        if (!report.disc && against->backup.moreDiscsFollow && FirstSequence(contents.streams) == describedUpTo + 1) {
            report.disc = against->backup.discs + 1;
            report.checkedAs = "as disc " + std::to_string(report.disc) + ", which the catalogue of disc " +
                               std::to_string(against->backup.discs) +
                               " says follows: the layout is whole and every chunk decodes";
        }
    } else {
        report.checkedAs = "without a catalogue: the layout is whole and every chunk decodes";
    }
    if (progress.startDisc) progress.startDisc(root, contents.streamBytes);
    std::set<std::string> present;
    for (const std::string& name : contents.streams) {
        present.insert(name);
        const CataloguedStream* expected = against ? against->Find(name) : nullptr;
        StreamNameParts parts;
        const bool beyondReference = against && !own && report.disc > against->backup.discs &&
                                     ParseStreamName(name, parts) && parts.sequence > describedUpTo;
        if (against && !expected && !beyondReference) report.damage.push_back({name, "", "is not in the catalogue"});
        else if (expected && report.disc && expected->stream.disc != report.disc)
            report.damage.push_back({name, "", "the catalogue places it on disc " + std::to_string(expected->stream.disc)});
        StreamVerdict verdict = CheckStream(files, PathUnder(root, name), expected, keys, progress);
        ++report.streams;
        report.files += verdict.files;
        for (StreamDamage& damage : verdict.damage)
            report.damage.push_back({name, std::move(damage.file), std::move(damage.why)});
        if (verdict.locked) {
            ++report.lockedStreams;
            report.notes.push_back(name + " is encrypted: without its password only " +
                                   (expected ? "its checksum and header were" : "its header was") +
                                   " checked, not its chunks");
        }
        if (progress.Cancelled()) return report;
    }
    if (against && report.disc)
        for (const CataloguedStream& entry : against->streams)
            if (entry.stream.disc == report.disc && !present.count(entry.stream.name))
                report.damage.push_back({entry.stream.name, "", "is in the catalogue but not on the disc"});
    if (contents.streams.empty() && !against)
        report.damage.push_back({"", "", "it holds no backup streams"});
    return report;
}

// A backup: its name, and the time its catalogue records (0 without one).
using SetKey = std::pair<std::string, std::int64_t>;
using Catalogues = std::map<SetKey, LoadedCatalogue>;

// A run of catalogues of the map. (Not std::ranges::subrange: clang 14 cannot use it with this
// standard library, and the fuzzing build uses clang.)
struct CatalogueRun {
    Catalogues::const_iterator first, last;
    Catalogues::const_iterator begin() const { return first; }
    Catalogues::const_iterator end() const { return last; }
    bool empty() const { return first == last; }
};

// The newest catalogues of every backup of that name.
CatalogueRun BackupsNamed(const Catalogues& newest, const std::string& name) {
    return {newest.lower_bound({name, std::numeric_limits<std::int64_t>::min()}),
            newest.upper_bound({name, std::numeric_limits<std::int64_t>::max()})};
}

// The set of one backup: the discs its newest catalogue describes, or without one, the gaps in
// its stream numbers.
SetReport CheckSet(const SetKey& key, const LoadedCatalogue* newest, const std::vector<DiscReport>& discs,
                   const std::vector<BackupStream>& streams) {
    SetReport set;
    set.backupName = key.first;
    set.backupTime = key.second;
    if (!newest) {
        set.problems = MissingStreamMessages(streams);
        return set;
    }
    // The reader bounds the count by the catalogue's streams, so listing the discs stays small.
    set.continues = newest->backup.moreDiscsFollow;
    set.discs = newest->backup.discs + (set.continues ? 1 : 0);
    std::set<std::uint32_t> present;
    for (const DiscReport& disc : discs)
        if (disc.backupName == key.first && disc.backupTime == key.second) present.insert(disc.disc);
    for (std::uint32_t number = 1; number <= set.discs; ++number)
        if (!present.count(number)) set.missing.push_back(number);
    return set;
}

// The catalogue a disc without a whole one of its own is checked against: of the backups of
// its name, the one whose catalogue lists its first stream at the size it has, else the one
// described furthest.
const LoadedCatalogue* ReferenceFor(FileSystem& files, const std::string& root, const DiscContents& contents,
                                    const Catalogues& newest) {
    const std::string name = DiscBackupName(contents.streams);
    FileInfo first;
    const bool sized = !contents.streams.empty() && files.Stat(PathUnder(root, contents.streams[0]), first).ok();
    const LoadedCatalogue* chosen = nullptr;
    for (const auto& [key, catalogue] : BackupsNamed(newest, name)) {
        const CataloguedStream* entry = sized ? catalogue.Find(contents.streams[0]) : nullptr;
        if (entry && entry->stream.size == first.size) return &catalogue;
        if (!chosen || catalogue.backup.discs > chosen->backup.discs) chosen = &catalogue;
    }
    return chosen;
}

}  // namespace

bool VerifyReport::good() const {
    return skipped.empty() && !discs.empty() &&
           std::all_of(discs.begin(), discs.end(), [](const DiscReport& d) { return d.good(); }) &&
           std::all_of(sets.begin(), sets.end(), [](const SetReport& s) { return s.complete(); });
}

DiscReport VerifyDisc(FileSystem& files, const std::string& discRoot, const LoadedCatalogue* reference,
                      KeyRing* keys, const VerifyProgress& progress) {
    std::vector<DiscDamage> damage;
    std::string imageChecksum;
    if (IsDiscImage(files, discRoot)) {
        if (progress.startDisc) progress.startDisc(discRoot, 0);  // the MD5 check reads the whole image
        bool recorded = false;
        Status s = CheckImageChecksum(discRoot, recorded, progress.cancel);
        if (!s.ok()) damage.push_back({"", "", "the image's MD5 check fails: " + s.message()});
        else imageChecksum = recorded ? "matches" : "none recorded";
    }
    DiscContents contents;
    Status s = ListDisc(files, discRoot, contents);
    if (!s.ok()) {
        DiscReport report;
        report.place = discRoot;
        report.damage = std::move(damage);
        report.damage.push_back({"", "", "it cannot be read: " + s.message()});
        return report;
    }
    // Every disc this program writes records its session's MD5 sum, and carries a catalogue:
    // on such a disc a sum that is not there was lost. Streams alone may come from elsewhere.
    if (imageChecksum == "none recorded" && !contents.catalogues.empty()) {
        imageChecksum.clear();
        damage.push_back(
            {"", "", "no MD5 sum is recorded for its session, though every disc the program writes has one"});
    }
    LoadedCatalogue own;
    const bool ownRead = LoadOwnCatalogue(files, discRoot, contents, own, damage);
    DiscReport report = CheckDisc(files, discRoot, contents, ownRead ? &own : nullptr, reference, keys, progress);
    report.damage.insert(report.damage.begin(), damage.begin(), damage.end());
    report.imageChecksum = imageChecksum;
    return report;
}

VerifyReport VerifyPlaces(FileSystem& files, const std::vector<std::string>& places, KeyRing* keys,
                          const VerifyProgress& progress) {
    VerifyReport report;
    std::vector<std::string> roots;
    FindDiscs(files, places, roots, report.skipped);

    // The newest catalogue of each backup stands in for a disc's own when that one is damaged,
    // and tells which discs the set has.
    Catalogues newest;
    std::vector<BackupStream> streams;  // for sets without a catalogue
    std::set<std::string> names;
    for (const std::string& root : roots) {
        if (progress.Cancelled()) return report;
        DiscContents contents;
        if (!ListDisc(files, root, contents).ok()) continue;
        LoadedCatalogue catalogue;
        std::vector<DiscDamage> ignored;
        if (LoadOwnCatalogue(files, root, contents, catalogue, ignored)) {
            names.insert(catalogue.backup.name);
            LoadedCatalogue& kept = newest[{catalogue.backup.name, catalogue.backup.time}];
            if (catalogue.backup.discs > kept.backup.discs) kept = std::move(catalogue);
        }
        for (const std::string& name : contents.streams) {
            BackupStream stream;
            StreamNameParts parts;
            if (!ParseStreamName(name, parts)) continue;
            stream.path = PathUnder(root, name);
            stream.label = parts.label;
            stream.timeStamp = parts.timeStamp;
            stream.sequence = parts.sequence;
            names.insert(parts.label + " " + parts.timeStamp);
            streams.push_back(std::move(stream));
        }
    }
    for (const std::string& root : roots) {
        DiscContents contents;
        const LoadedCatalogue* reference = nullptr;
        if (ListDisc(files, root, contents).ok()) reference = ReferenceFor(files, root, contents, newest);
        report.discs.push_back(VerifyDisc(files, root, reference, keys, progress));
        if (progress.Cancelled()) return report;
    }
    for (const std::string& name : names) {
        std::vector<BackupStream> own;
        for (const BackupStream& stream : streams)
            if (stream.label + " " + stream.timeStamp == name) own.push_back(stream);
        const auto catalogued = BackupsNamed(newest, name);
        for (const auto& [key, catalogue] : catalogued) report.sets.push_back(CheckSet(key, &catalogue, report.discs, own));
        if (catalogued.empty()) report.sets.push_back(CheckSet({name, 0}, nullptr, report.discs, own));
    }
    return report;
}

}  // namespace corvane
