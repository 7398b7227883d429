#include "cli/CommandLine.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "Version.h"
#include "cli/BackupCommand.h"
#include "cli/RestoreCommand.h"
#include "cli/ListCommand.h"
#include "cli/VerifyCommand.h"

namespace corvane {

namespace {

constexpr const char* kUsage =
    "Usage: corvane [COMMAND [OPTIONS]]\n"
    "       corvane FILE...\n"
    "\n"
    "Backs up a USB stick onto recordable discs or ISO image files, and restores from them.\n"
    "\n"
    "Without a command, Corvane opens its window: the restore window when started from a\n"
    "backup disc, the backup window anywhere else. Given FILEs (disc images, stream files or\n"
    "mounted discs, as a file manager passes them), it opens the restore window on them and\n"
    "on the other disc images of the same backup that lie beside them.\n"
    "\n"
    "Commands:\n"
    "  backup    back up a folder or USB stick onto discs or ISO image files\n"
    "  browse    open the restore window on discs, folders or disc images (several at once)\n"
    "  list      print the backups on discs, folders or disc images as a tree\n"
    "  restore   restore whole backups, or a folder or file of one, into a folder\n"
    "  verify    check discs or disc images of backups and tell whether a set is complete\n"
    "  help      show this text\n"
    "  --version print the program's version\n"
    "\n"
    "Run 'corvane COMMAND --help' for the options of a command.\n";

struct Command {
    std::string_view word;
    int (*run)(const std::vector<std::string>& args);
};

constexpr Command kCommands[] = {
    {"backup", RunBackupCommand},
    {"list", RunListCommand},
    {"restore", RunRestoreCommand},
    {"verify", RunVerifyCommand},
};

}  // namespace

bool IsCommandWord(std::string_view word) {
    return word == "browse" || word == "help" ||
           std::any_of(std::begin(kCommands), std::end(kCommands),
                       [&](const Command& command) { return command.word == word; });
}

int RunCommandLine(int argc, char** argv) {
    std::string_view word = argc > 1 ? argv[1] : "";
    const std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
    if (word == "help" || word == "--help" || word == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (word == "--version") {
        std::printf("corvane %s\n", kVersion);
        return 0;
    }
    for (const Command& command : kCommands)
        if (command.word == word) return command.run(args);
    std::fprintf(stderr, "corvane: unknown command '%s'\n\n%s", std::string(word).c_str(), kUsage);
    return 2;
}

}  // namespace corvane
