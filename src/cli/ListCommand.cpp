#include "cli/ListCommand.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "archive/StreamFormat.h"
#include "cli/Arguments.h"
#include "disc/ImageFileSystem.h"
#include "restore/PlainCatalogTree.h"

namespace corvane {

namespace {

const char* const kListUsage =
    "Usage: corvane list FOLDER... [--password-file FILE]\n"
    "\n"
    "Prints the backups whose stream files (*.cvn) lie in the FOLDERs (folders, or disc\n"
    "image files (.iso) read without mounting them) as a tree, fully\n"
    "expanded: drive label, backup time (yy-mm-dd HH:MM), folders (ROOT is the drive's root\n"
    "folder) and files. Give every disc of a backup at once to see all of it.\n"
    "\n"
    "  --password-file FILE  the backup password, on the first line of FILE; without it\n"
    "                        the folders of a protected backup are shown as <protected>\n"
    "\n"
    "Exit status: 0 when everything was listed; 1 when a FOLDER cannot be read or holds no\n"
    "stream, or a damaged stream was left out; 2 for wrong arguments.\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "corvane list: %s\n\n%s", message.c_str(), kListUsage);
    return 2;
}

// Lists the files of every stream folder that is not locked, as expanding it would.
void OpenEveryFolder(CatalogTree& tree, CatalogItem* parent, FileSystem& files) {
    for (int i = 0; i < tree.ChildCount(parent); ++i) {
        CatalogItem* item = tree.Child(parent, i);
        OpenStreamFolder(tree, item, files);
        OpenEveryFolder(tree, item, files);
    }
}

}  // namespace

int RunListCommand(const std::vector<std::string>& args) {
    Arguments arguments(args, {"help"}, {"password-file"});
    if (arguments.Has("help")) {
        std::fputs(kListUsage, stdout);
        return 0;
    }
    if (!arguments.ok()) return UsageError(arguments.error());
    if (arguments.Operands().empty()) return UsageError("name at least one FOLDER");
    std::optional<QString> password;
    if (auto file = arguments.Value("password-file")) {
        std::string text, why;
        if (!ReadPasswordFile(*file, text, why)) return UsageError(why);
        password = QString::fromStdString(text);
    }

    ImageFileSystem files(DefaultFileSystem());  // disc image files are read like folders
    std::vector<BackupStream> streams;
    for (const std::string& folder : arguments.Operands()) {
        const std::size_t before = streams.size();
        Status s = FindStreams(files, folder, streams);
        if (!s.ok()) {
            std::fprintf(stderr, "corvane list: cannot read %s: %s\n", folder.c_str(),
                         s.message().c_str());
            return 1;
        }
        if (streams.size() == before) {
            std::fprintf(stderr, "corvane list: %s holds no backup streams (*.cvn files)\n",
                         folder.c_str());
            return 1;
        }
    }
    SortStreams(streams);

    PlainCatalogTree tree;
    std::vector<std::string> unlockedPasswords;
    bool leftOut = false, stillLocked = false;
    for (BackupStream& stream : streams) {
        Status s = ReadStreamHeader(files, stream);
        if (!s.ok()) {
            std::fprintf(stderr, "corvane list: left out %s: %s\n", stream.path.c_str(),
                         s.message().c_str());
            leftOut = true;
            continue;
        }
        const bool known = IsNoPassword(stream.password) ||
                           std::find(unlockedPasswords.begin(), unlockedPasswords.end(),
                                     stream.password) != unlockedPasswords.end();
        if (!known && password && PasswordMatches(*password, stream.password))
            unlockedPasswords.push_back(stream.password);
        else if (!known)
            stillLocked = true;
        AddBackupStream(tree, stream, unlockedPasswords);
    }
    OpenEveryFolder(tree, nullptr, files);
    std::fputs(CatalogOutline(tree).c_str(), stdout);
    if (stillLocked && password)
        std::fputs("corvane list: the password does not open the folders shown as <protected>\n",
                   stderr);
    return leftOut ? 1 : 0;
}

}  // namespace corvane
