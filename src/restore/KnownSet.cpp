#include "restore/KnownSet.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "archive/BackupKey.h"
#include "archive/SetCatalogueReader.h"
#include "archive/StreamFormat.h"
#include "extract/StoredPath.h"

namespace corvane {

namespace {

// Keeps every record; the set is trusted only once the reader says the catalogue is whole.
class SetCollector final : public CatalogueVisitor {
  public:
    void OnBackup(const CatalogueBackup& backup) override { set.backup = backup; }
    void OnStream(const CatalogueStream& stream) override { set.streams.push_back({stream, {}}); }
    void OnFile(const CatalogueFile& file) override { set.streams.back().files.push_back(file); }

    KnownSet set;
};

Status ReadCatalogue(FileSystem& files, const std::string& path, KnownSet& set) {
    std::unique_ptr<File> in;
    Status s = files.OpenRead(path, in);
    if (!s.ok()) return s;
    SetCollector collector;
    s = ReadSetCatalogue(*in, collector);
    in->Close();
    if (!s.ok()) return s;
    const CatalogueBackup& backup = collector.set.backup;
    if (CatalogueFileName(backup.name) != FileNameOf(path))
        return Status(Status::Code::Corrupt,
                      "it is the catalogue of another backup (" + ShownStoredText(backup.name) + ")");
    // Whole but written wrong, or made up: every stream must be one of this backup's, on a
    // disc the catalogue describes.
    for (const KnownStream& known : collector.set.streams) {
        StreamNameParts parts;
        if (!ParseStreamName(known.stream.name, parts) || parts.label + " " + parts.timeStamp != backup.name ||
            parts.sequence != known.stream.sequence)
            return Status(Status::Code::Corrupt, "it names a stream that is not of its backup (" +
                                                     ShownStoredText(known.stream.name) + ")");
        if (known.stream.disc == 0 || known.stream.disc > backup.discs)
            return Status(Status::Code::Corrupt, "it places " + ShownStoredText(known.stream.name) +
                                                     " on a disc it does not describe");
    }
    set = std::move(collector.set);
    return Status::Ok();
}

}  // namespace

std::vector<KnownSet> ReadNewestCatalogues(FileSystem& files, const std::vector<std::string>& cataloguePaths,
                                           std::vector<std::string>& problems) {
    // A later disc's catalogue holds every record of an earlier one's and more, so it is the
    // larger file: each backup's catalogues are read largest first, and a smaller one only
    // when no larger one is whole (one of the same size too: the same disc given twice).
    std::map<std::string, std::vector<std::pair<std::uint64_t, std::string>>> byName;
    for (const std::string& path : cataloguePaths) {
        FileInfo info;
        files.Stat(path, info);
        byName[std::string(FileNameOf(path))].emplace_back(info.size, path);
    }
    std::vector<KnownSet> sets;
    for (auto& [name, candidates] : byName) {
        std::stable_sort(candidates.begin(), candidates.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        std::optional<KnownSet> kept;
        std::uint64_t keptSize = 0;
        for (const auto& [size, path] : candidates) {
            if (kept && size < keptSize) break;
            KnownSet set;
            Status s = ReadCatalogue(files, path, set);
            if (!s.ok()) {
                problems.push_back(ShownStoredText(path) + " was not used: " + s.message() +
                                   "; the streams are read without it");
                continue;
            }
            if (!kept || set.backup.discs > kept->backup.discs) {
                keptSize = size;
                kept = std::move(set);
            }
        }
        if (kept) sets.push_back(std::move(*kept));
    }
    return sets;
}

void KeepNewest(std::vector<KnownSet>& known, std::vector<KnownSet> found) {
    for (KnownSet& set : found) {
        auto same = std::find_if(known.begin(), known.end(),
                                 [&](const KnownSet& old) { return old.backup.name == set.backup.name; });
        if (same == known.end())
            known.push_back(std::move(set));
        else if (set.backup.discs >= same->backup.discs)
            *same = std::move(set);
    }
}

bool IsSealedStream(const CatalogueStream& stream) {
    KeyParameters parameters;
    return ParseKeyParameters(stream.folderPath, parameters).ok();
}

std::vector<const KnownStream*> AbsentStreams(const std::vector<KnownSet>& sets,
                                              const std::vector<std::string>& presentStreamPaths) {
    std::set<std::string> present;
    for (const std::string& path : presentStreamPaths) present.insert(std::string(FileNameOf(path)));
    std::vector<const KnownStream*> absent;
    for (const KnownSet& set : sets)
        for (const KnownStream& known : set.streams)
            if (!present.count(known.stream.name)) absent.push_back(&known);
    return absent;
}

GivenDiscs DiscsGiven(const std::vector<KnownSet>& sets, const std::vector<std::string>& presentStreamPaths) {
    std::set<std::string_view> present;
    for (const std::string& path : presentStreamPaths) present.insert(FileNameOf(path));
    GivenDiscs given;
    for (const KnownSet& set : sets)
        for (const KnownStream& known : set.streams)
            if (present.count(known.stream.name)) given.emplace(set.backup.name, known.stream.disc);
    return given;
}

bool OnGivenDisc(const KnownStream& known, const GivenDiscs& given) {
    // A catalogue is read only when each of its streams is named after its backup.
    StreamNameParts parts;
    return ParseStreamName(known.stream.name, parts) &&
           given.count({parts.label + " " + parts.timeStamp, known.stream.disc}) > 0;
}

std::vector<std::string> AbsentDiscMessages(const std::vector<const KnownStream*>& absent, const GivenDiscs& given) {
    std::set<std::pair<std::string, std::uint32_t>> discs;  // backup name, disc
    std::vector<std::string> messages;
    for (const KnownStream* known : absent) {
        if (OnGivenDisc(*known, given)) {
            messages.push_back(ShownStoredText(known->stream.name) + " is missing from disc " +
                               std::to_string(known->stream.disc) + ", which was given");
            continue;
        }
        StreamNameParts parts;
        const std::string backup = ParseStreamName(known->stream.name, parts)
                                       ? parts.label + " " + parts.timeStamp
                                       : known->stream.name;
        discs.emplace(backup, known->stream.disc);
    }
    for (const auto& [backup, disc] : discs)
        messages.push_back("disc " + std::to_string(disc) + " of " + ShownStoredText(backup) +
                           " is not among the places given");
    return messages;
}

const KnownStream* LastStream(const KnownSet& set) {
    const KnownStream* last = nullptr;
    for (const KnownStream& known : set.streams)
        if (!last || known.stream.sequence > last->stream.sequence) last = &known;
    return last;
}

std::string FollowingDiscMessage(const KnownSet& set, const std::vector<std::string>& presentStreamPaths) {
    if (!set.backup.moreDiscsFollow) return {};
    const KnownStream* lastKnown = LastStream(set);
    const std::uint32_t last = lastKnown ? lastKnown->stream.sequence : 0;
    const bool laterPresent =
        std::any_of(presentStreamPaths.begin(), presentStreamPaths.end(), [&](const std::string& path) {
            StreamNameParts parts;
            return ParseStreamName(FileNameOf(path), parts) &&
                   parts.label + " " + parts.timeStamp == set.backup.name && parts.sequence > last;
        });
    if (laterPresent) return {};
    return "disc " + std::to_string(set.backup.discs + 1) + " of " + ShownStoredText(set.backup.name) +
           " is not among the places given: the backup goes on after disc " + std::to_string(set.backup.discs);
}

ListedStreams ListedStreamsOf(const std::vector<KnownSet>& sets) {
    ListedStreams catalogue;
    for (const KnownSet& set : sets)
        for (const KnownStream& known : set.streams) {
            ListedStream& listed = catalogue[known.stream.name];
            listed.folderPath = known.stream.folderPath;
            listed.isProtected = known.stream.isProtected;
            listed.sealed = IsSealedStream(known.stream);
            std::uint32_t index = 0;
            for (const CatalogueFile& file : known.files)
                listed.files[file.recordOffset] = ListedFile{file.name, ++index, !listed.sealed, file.checksum};
        }
    return catalogue;
}

std::vector<std::string> NotGivenLines(const KnownStream& known, const std::function<bool(const CatalogueFile&)>& keep,
                                       bool onGivenDisc) {
    const std::string where = onGivenDisc ? " is in " + ShownStoredText(known.stream.name) + ", which is missing from disc " +
                                                std::to_string(known.stream.disc)
                                          : " is on disc " + std::to_string(known.stream.disc) + ", which was not given";
    if (known.stream.isProtected || IsSealedStream(known.stream)) return {"<protected>" + where};
    const std::string folder = ShownStoredFolder(known.stream.folderPath);
    std::vector<std::string> lines;
    for (const CatalogueFile& file : known.files)
        if (keep(file)) lines.push_back(folder + "\\" + ShownStoredText(file.name) + where);
    return lines;
}

std::vector<std::string> NotGivenLines(const std::vector<KnownSet>& sets,
                                       const std::map<std::string, std::set<std::uint64_t>>& chosen) {
    std::vector<std::string> lines;
    for (const KnownSet& set : sets) {
        for (const KnownStream& known : set.streams) {
            const auto records = chosen.find(known.stream.name);
            if (records == chosen.end()) continue;
            const auto keep = [&](const CatalogueFile& file) {
                return records->second.empty() || records->second.count(file.recordOffset) > 0;
            };
            for (std::string& line : NotGivenLines(known, keep)) lines.push_back(std::move(line));
        }
    }
    return lines;
}

}  // namespace corvane
