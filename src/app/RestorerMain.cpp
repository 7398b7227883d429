// The portable restorer: a fully static executable carried on every disc, so that a disc
// restores itself on a Linux PC where nothing is installed. It runs the command line's list
// and restore commands from the same core code as the program.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "Version.h"
#include "cli/GuidedRestore.h"
#include "cli/ListCommand.h"
#include "cli/RestoreCommand.h"

namespace {

constexpr const char* kUsage =
    "Usage: corvane-restore COMMAND [OPTIONS]\n"
    "\n"
    "Restores backups made by Corvane, with nothing installed.\n"
    "\n"
    "Commands:\n"
    "  list      print the backups on discs, folders or disc images as a tree\n"
    "  restore   restore whole backups, or a folder or file of one, into a folder\n"
    "  help      show this text\n"
    "  --version print the program's version\n"
    "\n"
    "Run 'corvane-restore COMMAND --help' for the options of a command.\n"
    "Started without a command in a terminal, it guides through restoring the backup on the\n"
    "disc it lives on.\n";

}  // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    const std::vector<std::string> args(argv + (argc > 1 ? 2 : argc), argv + argc);
    if (argc == 1 && ::isatty(0))
        return corvane::RunGuidedRestore(std::filesystem::read_symlink("/proc/self/exe").parent_path().string());
    if (command == "list") return corvane::RunListCommand(args);
    if (command == "restore") return corvane::RunRestoreCommand(args);
    if (command == "--version") {
        std::printf("corvane-restore %s\n", corvane::kVersion);
        return 0;
    }
    if (command == "help" || command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!command.empty())
        std::fprintf(stderr, "corvane-restore: unknown command '%s'\n\n", std::string(command).c_str());
    std::fputs(kUsage, command.empty() ? stdout : stderr);
    return command.empty() ? 0 : 2;
}
