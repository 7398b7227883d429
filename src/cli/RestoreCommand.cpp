#include "cli/RestoreCommand.h"

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

namespace corvane {

const char* const kRestoreUsage =
    "Usage: corvane restore PLACE... --to DEST [--only PATH] [--password-file FILE]\n"
    "                       [--overwrite yes|no|ask]\n"
    "\n"
    "Restores the backups whose stream files (*.cvn) lie in the PLACEs (folders such as the\n"
    "mounted discs, or the disc image files (.iso) themselves; give every disc of a backup at\n"
    "once) into the folder DEST: the drive's root folder goes straight into DEST.\n"
    "\n"
    "  --only PATH           restore only this folder (with everything below it) or file,\n"
    "                        named from the drive's root, e.g. Docs/2008 or Docs/notes.txt\n"
    "  --password-file FILE  the backup password, on the first line of FILE; protected\n"
    "                        folders are left out (and named) without it\n"
    "  --overwrite ANSWER    yes: replace existing files; no: keep them; ask (the default):\n"
    "                        ask on the terminal, and stop when there is none to ask\n"
    "\n"
    "Names that are not valid UTF-8 come from a single-byte system and are restored under\n"
    "their Windows-1252 reading. Exit status: 0 when everything chosen was restored; 1 when\n"
    "something was left out, failed or was cancelled; 2 for wrong arguments.\n";

namespace {

int UsageError(const std::string& message) {
    std::fprintf(stderr, "corvane restore: %s\n\n%s", message.c_str(), kRestoreUsage);
    return 2;
}

bool IsAtOrBelow(const std::string& folder, const std::string& top) {
    if (top == "\\") return true;
    return folder == top || (folder.size() > top.size() && folder.compare(0, top.size(), top) == 0 &&
                             folder[top.size()] == '\\');
}

// The record of a file named name in a stream, or 0 when there is none.
std::uint64_t FindRecord(FileSystem& files, const std::string& streamPath, const std::string& name) {
    std::unique_ptr<File> in;
    if (!files.OpenRead(streamPath, in).ok()) return 0;
    StreamReader reader(*in);
    FolderHeader header;
    if (!reader.ReadFolderHeader(header).ok()) return 0;
    for (;;) {
        FileRecord record;
        bool found = false;
        if (!reader.NextRecord(record, found).ok() || !found) return 0;
        if (StoredTextToUtf8(record.fileName) == name) return record.recordOffset;
    }
}

}  // namespace

int RunRestoreCommand(const std::vector<std::string>& args) {
    Arguments arguments(args, {"help"}, {"to", "only", "password-file", "overwrite"});
    if (arguments.Has("help")) {
        std::fputs(kRestoreUsage, stdout);
        return 0;
    }
    if (!arguments.ok()) return UsageError(arguments.error());
    if (arguments.Operands().empty()) return UsageError("name at least one PLACE holding backup streams");
    const auto destination = arguments.Value("to");
    if (!destination || destination->empty()) return UsageError("give the destination folder with --to");
    const std::string overwrite = arguments.Value("overwrite").value_or("ask");
    if (overwrite != "yes" && overwrite != "no" && overwrite != "ask")
        return UsageError("--overwrite takes yes, no or ask");
    std::optional<std::string> password;
    if (auto file = arguments.Value("password-file")) {
        std::string text, why;
        if (!ReadPasswordFile(*file, text, why)) return UsageError(why);
        password = text;
    }

    ImageFileSystem files(DefaultFileSystem());
    FileInfo info;
    if (!files.Stat(*destination, info).ok() || !info.isFolder()) {
        std::fprintf(stderr, "corvane restore: the destination %s is not a folder\n", destination->c_str());
        return 1;
    }
    std::vector<BackupStream> streams;
    int problems = 0;
    for (const std::string& place : arguments.Operands()) {
        const std::size_t before = streams.size();
        Status s = FindStreams(files, place, streams);
        if (!s.ok() || streams.size() == before) {
            std::fprintf(stderr, "corvane restore: %s holds no backup streams%s%s\n", place.c_str(),
                         s.ok() ? "" : ": ", s.message().c_str());
            return 1;
        }
    }
    SortStreams(streams);

    // What to restore: whole streams, or the one file --only names.
    const std::string only = StoredFolderPathOf(arguments.Value("only").value_or(""));
    const std::size_t lastSeparator = only.rfind('\\');
    const std::string onlyParent = lastSeparator == 0 ? "\\" : only.substr(0, lastSeparator);
    const std::string onlyFile = StoredTextToUtf8(only.substr(lastSeparator + 1));
    std::vector<std::pair<std::string, std::uint64_t>> entries;  // stream, record (0: all)
    for (auto& stream : streams) {
        if (!ReadStreamHeader(files, stream).ok()) {
            std::fprintf(stderr, "corvane restore: %s is damaged and was left out\n", stream.path.c_str());
            ++problems;
            continue;
        }
        const bool protectedFolder = !IsNoPassword(stream.password);  // the rule the tree uses
        if (protectedFolder && !(password && PasswordMatches(QString::fromStdString(*password), stream.password))) {
            if (IsAtOrBelow(stream.folderPath, only)) {
                std::fprintf(stderr, "corvane restore: %s is protected and was left out%s\n",
                             ShownStoredText(stream.folderPath).c_str(),
                             password ? " (wrong password)" : " (no --password-file)");
                ++problems;
            }
            continue;
        }
        if (IsAtOrBelow(stream.folderPath, only)) {
            entries.emplace_back(stream.path, 0);
        } else if (only != "\\" && stream.folderPath == onlyParent) {
            if (std::uint64_t record = FindRecord(files, stream.path, onlyFile)) entries.emplace_back(stream.path, record);
        }
    }
    if (entries.empty() && problems == 0) {
        std::fprintf(stderr, "corvane restore: nothing in the backup matches %s\n", arguments.Value("only").value_or("").c_str());
        return 1;
    }

    Terminal terminal(overwrite == "yes");
    TerminalExtractHost host(terminal, *destination, overwrite);
    host.files = &files;
    {
        InterruptGuard guard(&host.cancelRequested);
        ExtractionRun run(host);
        for (const auto& [streamPath, record] : entries) {
            if (host.cancelRequested) break;
            if (record == 0) {
                run.FolderStream(streamPath);
            } else {
                run.SingleFile(streamPath, record, onlyFile);
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
    terminal.Say(host.restoredFiles == 0 ? "No file was written into " + *destination
                                         : "Restored " + countOf(host.restoredFiles) + " into " + *destination);
    return 0;
}

}  // namespace corvane
