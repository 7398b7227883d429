#include "cli/CommandLine.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/BackupCommand.h"
#include "cli/ListCommand.h"

namespace corvane {

namespace {

constexpr const char* kUsage =
    "Usage: corvane [COMMAND [OPTIONS]]\n"
    "\n"
    "Without a command, Corvane opens its window: the restore window when started from a\n"
    "backup disc, the backup window anywhere else.\n"
    "\n"
    "Commands:\n"
    "  backup    back up a folder or USB stick onto discs or ISO image files\n"
    "  browse    open the restore window on folders of backup streams (several discs at once)\n"
    "  list      print the backups in folders of backup streams as a tree\n"
    "  help      show this text\n"
    "\n"
    "Run 'corvane COMMAND --help' for the options of a command.\n";

}  // namespace

int RunCommandLine(int argc, char** argv) {
    std::string_view command = argc > 1 ? argv[1] : "";
    const std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
    if (command == "help" || command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "backup") return RunBackupCommand(args);
    if (command == "list") return RunListCommand(args);
    std::fprintf(stderr, "corvane: unknown command '%s'\n\n%s", std::string(command).c_str(), kUsage);
    return 2;
}

}  // namespace corvane
