#include "cli/ListCommand.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "archive/StreamFormat.h"
#include "cli/Arguments.h"
#include "disc/ImageFileSystem.h"
#include "extract/StoredPath.h"
#include "restore/KnownSet.h"
#include "restore/PlainCatalogTree.h"

namespace corvane {

namespace {

const std::string kListUsage = std::string(
    "Usage: corvane list PLACE... [--password-file FILE] [--names CODEPAGE]\n"
    "\n"
    "Prints the backups whose stream files (*.cvn) lie in the PLACEs (folders, disc image\n"
    "files (.iso) read without mounting them, or folders holding such images) as a tree, fully\n"
    "expanded: drive label, backup time (yy-mm-dd HH:MM), folders (ROOT is the drive's root\n"
    "folder) and files. Give every disc of a backup at once to see all of it; the backup's\n"
    "catalogue on the newest disc given names the folders of the discs not given, marked\n"
    "\"(on disc N)\".\n"
    "\n"
    "  --password-file FILE  the backup password, on the first line of FILE; without it\n"
    "                        the folders of a protected backup are shown as <protected>\n"
    ) + kNamesOptionHelp +
    "\n"
    "A PLACE that cannot be read or holds no stream is named and skipped. Exit status: 0 when\n"
    "everything was listed; 1 when a PLACE was skipped, a damaged stream or catalogue was left\n"
    "out or streams of a backup are missing (a disc not given); 2 for wrong arguments.\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "corvane list: %s\n\n%s", message.c_str(), kListUsage.c_str());
    return 2;
}

// Lists the files of every stream folder that is not locked, as expanding it would; a listing
// cut short by damage is named in problems.
void OpenEveryFolder(CatalogTree& tree, CatalogItem* parent, FileSystem& files, KeyRing& keys,
                     std::vector<std::string>& problems) {
    for (int i = 0; i < tree.ChildCount(parent); ++i) {
        CatalogItem* item = tree.Child(parent, i);
        Status damage;
        if (OpenStreamFolder(tree, item, files, &damage, &keys) && !damage.ok())
            problems.push_back(ShownStoredText(item->record->streamPath) +
                               ": the files after those listed could not be read: " + damage.message());
        OpenEveryFolder(tree, item, files, keys, problems);
    }
}

}  // namespace

int RunListCommand(const std::vector<std::string>& args) {
    Arguments arguments(args, {"help"}, {"password-file", "names"});
    if (arguments.Has("help")) {
        std::fputs(kListUsage.c_str(), stdout);
        return 0;
    }
    if (!arguments.ok()) return UsageError(arguments.error());
    if (arguments.Operands().empty()) return UsageError("name at least one PLACE");
    std::string why;
    if (!SelectNamesOption(arguments, why)) return UsageError(why);
    std::optional<std::string> password;
    if (auto file = arguments.Value("password-file")) {
        std::string text;
        if (!ReadPasswordFile(*file, text, why)) return UsageError(why);
        password = std::move(text);
    }
    return ListPlaces(arguments.Operands(), password);
}

int ListPlaces(const std::vector<std::string>& places, const std::optional<std::string>& password, KeyRing* given) {
    ImageFileSystem files(DefaultFileSystem());  // disc image files are read like folders
    std::vector<BackupStream> streams;
    std::vector<std::string> cataloguePaths;
    std::vector<std::string> problems = FindStreamsInPlaces(files, places, streams, &cataloguePaths);
    SortStreams(streams);
    const std::vector<KnownSet> sets = ReadNewestCatalogues(files, cataloguePaths, problems);

    PlainCatalogTree tree;
    std::vector<std::string> unlockedPasswords;
    bool stillLocked = false;
    KeyRing own;
    KeyRing& keys = given ? *given : own;
    if (password) keys.AddPassword(*password);
    StreamHeaderReader reader(files, &keys, &sets);
    std::vector<BackupStream> shown;
    for (BackupStream& stream : streams) {
        if (!reader.Read(stream)) continue;
        if (StreamLocked(stream, unlockedPasswords) && !stream.sealed && password &&
            PasswordMatches(*password, stream.password))
            unlockedPasswords.push_back(stream.password);
        stillLocked = stillLocked || StreamLocked(stream, unlockedPasswords);
        shown.push_back(stream);
    }
    std::vector<std::string> presentPaths;
    for (const BackupStream& stream : streams) presentPaths.push_back(stream.path);
    const std::vector<const KnownStream*> absent = AbsentStreams(sets, presentPaths);
    for (const KnownStream* known : absent) shown.push_back(AbsentBackupStream(known->stream, known->files));
    // A folder before its sub-folders, wherever their discs are.
    SortStreams(shown);
    for (const BackupStream& stream : shown) AddBackupStream(tree, stream, unlockedPasswords);
    for (std::string& line : reader.Unreadable()) problems.push_back(std::move(line));
    for (std::string& line : MissingStreamMessages(streams)) problems.push_back(std::move(line));
    for (std::string& line : AbsentDiscMessages(absent, DiscsGiven(sets, presentPaths))) problems.push_back(std::move(line));
    for (const KnownSet& set : sets)
        if (std::string line = FollowingDiscMessage(set, presentPaths); !line.empty()) problems.push_back(line);
    OpenEveryFolder(tree, nullptr, files, keys, problems);
    std::fputs(CatalogOutline(tree).c_str(), stdout);
    if (stillLocked && password)
        std::fputs("corvane list: Invalid Password: it does not open the folders shown as <protected>\n",
                   stderr);
    for (const std::string& line : problems) std::fprintf(stderr, "corvane list: %s\n", line.c_str());
    // Damage that reading works around is told, and is no failure.
    for (const std::string& note : files.DamageNotes())
        std::fprintf(stderr, "corvane list: %s\n", note.c_str());
    for (const std::string& note : reader.Notes()) std::fprintf(stderr, "corvane list: %s\n", note.c_str());
    return problems.empty() ? 0 : 1;
}

}  // namespace corvane
