#include "cli/RestoreCommand.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

#include "archive/StreamFormat.h"
#include "cli/Arguments.h"
#include "cli/Terminal.h"
#include "cli/TerminalExtractHost.h"
#include "disc/ImageFileSystem.h"
#include "extract/FileExtractor.h"
#include "extract/StoredPath.h"
#include "platform/TextCodec.h"
#include "restore/BackupCatalog.h"
#include "restore/KnownSet.h"

namespace corvane {

namespace {

const std::string kRestoreUsage = std::string(
    "Usage: corvane restore PLACE... --to DEST [--only PATH] [--password-file FILE]\n"
    "                       [--overwrite yes|no|ask] [--names CODEPAGE]\n"
    "\n"
    "Restores the backups whose stream files (*.cvn) lie in the PLACEs (folders such as the\n"
    "mounted discs, the disc image files (.iso) themselves, or folders holding such images;\n"
    "give every disc of a backup at once) into the folder DEST, which is created when it does\n"
    "not exist: the drive's root folder goes straight into DEST.\n"
    "\n"
    "  --only PATH           restore only this folder (with everything below it) or file,\n"
    "                        named from the drive's root, e.g. Docs/2008 or Docs/notes.txt;\n"
    "                        ROOT is the drive's root folder's own files, as list shows it;\n"
    "                        it keeps its path under DEST (DEST/Docs/notes.txt)\n"
    "  --password-file FILE  the backup password, on the first line of FILE; protected\n"
    "                        folders are left out (and named) without it\n"
    "  --overwrite ANSWER    yes: replace existing files; no: keep them; ask (the default):\n"
    "                        ask on the terminal, and stop when there is none to ask\n"
    ) + kNamesOptionHelp +
    "\n"
    "A PLACE that cannot be read or holds no stream is named and skipped, and streams missing\n"
    "from a backup (a disc not given) are named; the rest is restored. With the backup's\n"
    "catalogue (on every disc), each file on a disc not given is named, and every restored file\n"
    "is checked against the checksum of its content: one that does not match is not kept, and\n"
    "is named. Exit status: 0 when\n"
    "everything chosen was restored; 1 when something was skipped, missing, left out, failed\n"
    "or was cancelled; 2 for wrong arguments.\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "corvane restore: %s\n\n%s", message.c_str(), kRestoreUsage.c_str());
    return 2;
}

void Problem(const std::string& line, int& problems) {
    std::fprintf(stderr, "corvane restore: %s\n", line.c_str());
    ++problems;
}

// Both UTF-8 paths from the drive's root, '\'-separated.
bool IsAtOrBelow(const std::string& folder, const std::string& top) {
    if (top == "\\") return true;
    return folder == top || (folder.size() > top.size() && folder.compare(0, top.size(), top) == 0 &&
                             folder[top.size()] == '\\');
}

// The record of a file named name in a stream, or 0 when there is none.
std::uint64_t FindRecord(FileSystem& files, KeyRing& keys, const std::string& streamPath, const std::string& name) {
    std::unique_ptr<File> in;
    if (!files.OpenRead(streamPath, in).ok()) return 0;
    StreamReader reader(*in, 1 << 16, &keys);
    FolderHeader header;
    if (!reader.ReadFolderHeader(header).ok()) return 0;
    for (;;) {
        FileRecord record;
        bool found = false;
        if (!reader.NextRecord(record, found).ok() || !found) return 0;
        if (StoredTextToUtf8(record.fileName) == name) return record.recordOffset;
    }
}

// A folder path as the tree shows it: "Docs/<protected>", each protected folder on the way
// hidden as "<protected>"; the drive's root folder is "ROOT" there.
std::string ShownFolderPath(const std::string& folderPath, const std::set<std::string>& protectedFolders) {
    if (folderPath == "\\") return protectedFolders.count(folderPath) ? "<protected>" : "ROOT";
    std::string shown, stored;
    for (std::size_t start = 1; start <= folderPath.size();) {
        std::size_t end = FindStoredSeparator(folderPath, start);
        if (end == std::string::npos) end = folderPath.size();
        stored = folderPath.substr(0, end);
        const std::string step = protectedFolders.count(stored) ? "<protected>"
                                                                : ShownStoredText(folderPath.substr(start, end - start));
        shown += (shown.empty() ? "" : "/") + step;
        start = end + 1;
    }
    return shown;
}

// The destination exactly as given: a trailing '/' keeps white space at its end from being
// trimmed as typed text would be ("dir " is a folder of its own).
std::string ExactFolder(const std::string& path) {
    return !path.empty() && std::isspace(static_cast<unsigned char>(path.back())) ? path + "/" : path;
}

// What a restore takes from the streams: whole streams, or the one file only names, and the
// protected folders it leaves out.
struct Selection {
    std::vector<std::pair<std::string, std::uint64_t>> entries;  // stream, record (0: all)
    std::string onlyFolderPath;  // the stored folder of the one file
    std::string onlyFile;
    std::vector<std::string> leftOutProtected;  // as the tree shows them
    std::vector<std::string> onAbsentDiscs;     // "Docs\r.txt is on disc 2 of ..."
    std::vector<std::string> onFollowingDiscs;  // "disc 3 of ... is not among the places given: ..."
};

// What the places hold: the readable streams, one of each, in order, and the backups as their
// newest catalogues know them, with the streams on discs not given.
struct PlacesContent {
    std::vector<BackupStream> streams;
    std::vector<KnownSet> sets;
    std::vector<const KnownStream*> absent;  // into sets
    std::vector<std::string> notes;          // damage read around, which costs no file
    std::vector<std::string> presentPaths;   // every stream found, read or not
    GivenDiscs givenDiscs;                   // the discs they lie on
};

// Reads the places; what could not be read is added to problems, and so are the discs and
// streams missing when the whole backup is wanted. A part names what it misses itself, so
// for a part only the streams no catalogue accounts for are added: what they hold is unknown.
void ReadPlaces(FileSystem& files, KeyRing& keys, const std::vector<std::string>& places, bool wholeBackup,
                PlacesContent& content, std::vector<std::string>& problems) {
    std::vector<BackupStream> found;
    std::vector<std::string> cataloguePaths;
    for (const std::string& line : FindStreamsInPlaces(files, places, found, &cataloguePaths)) problems.push_back(line);
    SortStreams(found);
    content.sets = ReadNewestCatalogues(files, cataloguePaths, problems);
    StreamHeaderReader reader(files, &keys, &content.sets);
    for (BackupStream& stream : found) {
        content.presentPaths.push_back(stream.path);
        if (reader.Read(stream)) content.streams.push_back(stream);
    }
    content.absent = AbsentStreams(content.sets, content.presentPaths);
    content.givenDiscs = DiscsGiven(content.sets, content.presentPaths);
    for (const std::string& line : reader.Unreadable()) problems.push_back(line);
    content.notes = reader.Notes();
    if (wholeBackup) {
        for (const std::string& line : AbsentDiscMessages(content.absent, content.givenDiscs)) problems.push_back(line);
    } else {
        // The streams the catalogue accounts for leave no gap in the numbers.
        for (const KnownStream* known : content.absent) {
            StreamNameParts parts;
            if (!ParseStreamName(known->stream.name, parts)) continue;
            BackupStream accounted;
            accounted.label = parts.label;
            accounted.timeStamp = parts.timeStamp;
            accounted.sequence = parts.sequence;
            found.push_back(std::move(accounted));
        }
    }
    for (const std::string& line : MissingStreamMessages(found)) problems.push_back(line);
}

// Names what the selection takes from a stream on a disc that was not given: each file, or
// the folder when it is protected (its files are then not shown). The disc is named besides.
void NameAbsent(const KnownStream& known, bool onGivenDisc, bool wholeFolder, const std::string& onlyFile,
                Selection& selection) {
    const auto chosen = [&](const CatalogueFile& file) { return wholeFolder || StoredTextToUtf8(file.name) == onlyFile; };
    for (std::string& line : NotGivenLines(known, chosen, onGivenDisc)) selection.onAbsentDiscs.push_back(std::move(line));
}

Selection Select(FileSystem& files, KeyRing& keys, const PlacesContent& content, const std::string& onlyAsGiven,
                 const std::optional<std::string>& password) {
    const std::vector<BackupStream>& streams = content.streams;
    Selection selection;
    std::string only = StoredTextToUtf8(StoredFolderPathOf(onlyAsGiven));
    // "ROOT", as the tree shows the drive's root folder, names that folder alone (not what lies
    // below it), unless the drive has a folder of that name.
    const auto folderOf = [](const std::string& stored) { return StoredTextToUtf8(stored); };
    const bool hasRootFolder =
        std::any_of(streams.begin(), streams.end(),
                    [&](const BackupStream& stream) { return IsAtOrBelow(folderOf(stream.folderPath), "\\ROOT"); }) ||
        std::any_of(content.absent.begin(), content.absent.end(),
                    [&](const KnownStream* known) { return IsAtOrBelow(folderOf(known->stream.folderPath), "\\ROOT"); });
    bool rootFolderOnly = false;
    if (!hasRootFolder && only == "\\ROOT") {
        rootFolderOnly = true;
        only = "\\";
    } else if (!hasRootFolder && only.starts_with("\\ROOT\\")) {
        only.erase(0, 5);
    }
    const auto atOrBelowOnly = [&](const std::string& folder) {
        return rootFolderOnly ? folder == "\\" : IsAtOrBelow(folder, only);
    };
    const std::size_t lastSeparator = only.rfind('\\');
    const std::string onlyParent = lastSeparator == 0 ? "\\" : only.substr(0, lastSeparator);
    selection.onlyFile = only.substr(lastSeparator + 1);
    std::set<std::string> protectedFolders;
    bool onlyIsFolder = false;
    for (const BackupStream& stream : streams) {
        const bool locked = stream.sealed ? !stream.key  // the rules the tree uses
                                          : !IsNoPassword(stream.password) &&
                                                !(password && PasswordMatches(*password, stream.password));
        if (locked) protectedFolders.insert(stream.folderPath);
        onlyIsFolder = onlyIsFolder || atOrBelowOnly(StoredTextToUtf8(stream.folderPath));
    }
    for (const KnownStream* known : content.absent)
        onlyIsFolder = onlyIsFolder || atOrBelowOnly(StoredTextToUtf8(known->stream.folderPath));
    for (const KnownStream* known : content.absent) {
        const std::string folder = StoredTextToUtf8(known->stream.folderPath);
        const bool wholeFolder = atOrBelowOnly(folder);
        if (wholeFolder || (!onlyIsFolder && folder == onlyParent))
            NameAbsent(*known, OnGivenDisc(*known, content.givenDiscs), wholeFolder,
                       selection.onlyFile, selection);
    }
    // Streams are numbered in the order of the folders, so a part that the last stream a
    // catalogue knows is not of ends before it. Only one that it is of may go on onto the disc
    // after (an encrypted stream's folder cannot be told), and one found nowhere may lie there.
    const auto ofThePart = [&](const std::string& folder) {
        return atOrBelowOnly(folder) || (!onlyIsFolder && folder == onlyParent);
    };
    const bool found =
        std::any_of(streams.begin(), streams.end(),
                    [&](const BackupStream& stream) { return ofThePart(StoredTextToUtf8(stream.folderPath)); }) ||
        std::any_of(content.absent.begin(), content.absent.end(),
                    [&](const KnownStream* known) { return ofThePart(StoredTextToUtf8(known->stream.folderPath)); });
    for (const KnownSet& set : content.sets) {
        const KnownStream* last = LastStream(set);
        if (found && last && !IsSealedStream(last->stream) && !ofThePart(StoredTextToUtf8(last->stream.folderPath)))
            continue;
        if (std::string line = FollowingDiscMessage(set, content.presentPaths); !line.empty())
            selection.onFollowingDiscs.push_back(line);
    }
    for (const BackupStream& stream : streams) {
        const std::string folder = StoredTextToUtf8(stream.folderPath);
        const bool wholeFolder = atOrBelowOnly(folder);
        const bool fileOfIt = !onlyIsFolder && folder == onlyParent;
        if (!wholeFolder && !fileOfIt) continue;
        if (protectedFolders.count(stream.folderPath)) {
            selection.leftOutProtected.push_back(ShownFolderPath(stream.folderPath, protectedFolders));
        } else if (wholeFolder) {
            selection.entries.emplace_back(stream.path, 0);
        } else if (std::uint64_t record = FindRecord(files, keys, stream.path, selection.onlyFile)) {
            selection.entries.emplace_back(stream.path, record);
            selection.onlyFolderPath = stream.folderPath;
        }
    }
    return selection;
}

}  // namespace

int RunRestoreCommand(const std::vector<std::string>& args) {
    Arguments arguments(args, {"help"}, {"to", "only", "password-file", "overwrite", "names"});
    if (arguments.Has("help")) {
        std::fputs(kRestoreUsage.c_str(), stdout);
        return 0;
    }
    if (!arguments.ok()) return UsageError(arguments.error());
    if (arguments.Operands().empty()) return UsageError("name at least one PLACE holding backup streams");
    const auto destination = arguments.Value("to");
    if (!destination || destination->empty()) return UsageError("give the destination folder with --to");
    RestoreRequest request{arguments.Operands(), *destination, arguments.Value("only").value_or(""), std::nullopt,
                           arguments.Value("overwrite").value_or("ask")};
    if (request.overwrite != "yes" && request.overwrite != "no" && request.overwrite != "ask")
        return UsageError("--overwrite takes yes, no or ask");
    std::string why;
    if (!SelectNamesOption(arguments, why)) return UsageError(why);
    if (auto file = arguments.Value("password-file")) {
        std::string text;
        if (!ReadPasswordFile(*file, text, why)) return UsageError(why);
        request.password = text;
    }
    return RestoreFromPlaces(request);
}

BackupContent LookAtBackup(const std::vector<std::string>& places, const std::string& only,
                           const std::optional<std::string>& password, KeyRing* given) {
    ImageFileSystem files(DefaultFileSystem());
    KeyRing own;
    KeyRing& keys = given ? *given : own;
    if (password) keys.AddPassword(*password);
    std::vector<std::string> problems;
    PlacesContent found;
    ReadPlaces(files, keys, places, only.empty(), found, problems);
    BackupContent content;
    content.isProtected = std::any_of(found.streams.begin(), found.streams.end(),
                                      [](const BackupStream& stream) { return !IsNoPassword(stream.password); });
    const Selection selection = Select(files, keys, found, only, password);
    content.holdsOnly =
        !selection.entries.empty() || !selection.leftOutProtected.empty() || !selection.onAbsentDiscs.empty();
    content.opensEveryFolder = selection.leftOutProtected.empty();
    return content;
}

int RestoreFromPlaces(const RestoreRequest& request) {
    const std::string& destination = request.destination;
    ImageFileSystem files(DefaultFileSystem());
    FileInfo info;
    if (files.Stat(destination, info).ok() && !info.isFolder()) {
        std::fprintf(stderr, "corvane restore: the destination %s is not a folder\n", destination.c_str());
        return 1;
    }
    int problems = 0;
    std::vector<std::string> unreadable;
    KeyRing own;
    KeyRing& keys = request.keys ? *request.keys : own;
    if (request.password) keys.AddPassword(*request.password);
    PlacesContent found;
    ReadPlaces(files, keys, request.places, request.only.empty(), found, unreadable);
    // Damage that reading works around costs no file: it is told, and is no failure.
    for (const std::string& note : files.DamageNotes())
        std::fprintf(stderr, "corvane restore: %s\n", note.c_str());
    for (const std::string& note : found.notes) std::fprintf(stderr, "corvane restore: %s\n", note.c_str());
    const std::vector<BackupStream>& streams = found.streams;
    for (const std::string& line : unreadable) Problem(line, problems);
    if (request.password && std::any_of(streams.begin(), streams.end(), [&](const BackupStream& stream) {
            return stream.sealed && keys.Refused(stream.parameters);
        }))
        Problem("Invalid Password: it does not open the encrypted folders", problems);
    Selection selection = Select(files, keys, found, request.only, request.password);
    for (const std::string& line : selection.onAbsentDiscs) Problem(line + ": it was not restored", problems);
    for (const std::string& line : selection.onFollowingDiscs) Problem(line, problems);
    for (const std::string& folder : selection.leftOutProtected)
        Problem(folder + " is protected and was left out" +
                    (request.password ? " (wrong password)" : " (no --password-file)"),
                problems);
    auto& entries = selection.entries;
    if (entries.empty() && problems == 0) {
        // An encrypted folder hides its path: what was asked for may lie in one.
        const auto shut = std::count_if(streams.begin(), streams.end(),
                                        [](const BackupStream& stream) { return stream.sealed && !stream.key; });
        if (shut > 0)
            std::fprintf(stderr,
                         "corvane restore: %s was not found in the folders that could be opened; %ld protected "
                         "folders were left out (%s)\n",
                         request.only.c_str(), static_cast<long>(shut),
                         request.password ? "wrong password" : "no --password-file");
        else
            std::fprintf(stderr, "corvane restore: nothing in the backup matches %s\n", request.only.c_str());
        return 1;
    }

    // The one file goes below its stored folder path, as a whole folder would; a path that
    // would lead outside the destination is refused as it would be there.
    std::string hostDestination = destination;
    std::string relative;
    if (!selection.onlyFolderPath.empty()) {
        if (StoredFolderToRelative(selection.onlyFolderPath, relative) != NameUse::Refused) {
            hostDestination = PathUnder(destination, relative);
        } else {
            Problem(ShownStoredText(selection.onlyFolderPath) + " names a place outside the destination folder; " +
                        request.only + " was not restored",
                    problems);
            entries.clear();
        }
    }
    if (!entries.empty()) {
        // The folders below the destination are made without following links, as the
        // extractor makes a stream's folders.
        Status made = CreateDirectoryPath(files, destination);
        if (made.ok() && !relative.empty()) made = files.CreateFoldersBelow(destination, relative);
        if (!made.ok()) {
            std::fprintf(stderr, "corvane restore: cannot create the destination %s: %s\n", hostDestination.c_str(),
                         made.message().c_str());
            return 1;
        }
    }

    Terminal terminal(request.overwrite == "yes");
    TerminalExtractHost host(terminal, ExactFolder(hostDestination), request.overwrite);
    host.files = &files;
    host.keys = &keys;
    const ListedStreams catalogue = ListedStreamsOf(found.sets);
    host.catalogue = &catalogue;
    {
        InterruptGuard guard(&host.cancelRequested);
        ExtractionRun run(host);
        for (const auto& [streamPath, record] : entries) {
            if (host.cancelRequested) break;
            if (record == 0) {
                run.FolderStream(streamPath);
            } else {
                run.SingleFile(streamPath, record, selection.onlyFile);
            }
        }
    }
    terminal.Progress("", true);
    if (host.cancelRequested) {
        std::fprintf(stderr, "corvane restore: cancelled; files finished before stay, the one in progress was removed\n");
        return 1;
    }
    const auto countOf = [](int n) { return std::to_string(n) + (n == 1 ? " file" : " files"); };
    if (host.problems() + problems > 0) {
        std::fprintf(stderr, "corvane restore: not everything was restored (%d %s); %s restored\n",
                     host.problems() + problems, host.problems() + problems == 1 ? "problem" : "problems",
                     countOf(host.restoredFiles).c_str());
        return 1;
    }
    terminal.Say(host.restoredFiles == 0 ? "No file was written into " + destination
                                         : "Restored " + countOf(host.restoredFiles) + " into " + destination);
    return 0;
}

}  // namespace corvane
