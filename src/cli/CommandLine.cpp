#include "cli/CommandLine.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace corvane {

namespace {

constexpr const char* kUsage =
    "Usage: corvane [COMMAND [OPTIONS]]\n"
    "\n"
    "Without a command, Corvane opens its window: the restore window when started from a\n"
    "backup disc, the backup window anywhere else.\n"
    "\n"
    "Commands:\n"
    "  help      show this text\n"
    "\n"
    "Run 'corvane COMMAND --help' for the options of a command.\n";

}  // namespace

int RunCommandLine(int argc, char** argv) {
    std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "help" || command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::fprintf(stderr, "corvane: unknown command '%s'\n\n%s", std::string(command).c_str(), kUsage);
    return 2;
}

}  // namespace corvane
