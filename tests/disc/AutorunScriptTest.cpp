// The autorun.sh every disc carries, run by /bin/sh in a sandbox: PATH holds only stub programs
// that write down how they were started, the disc lives under a path with spaces, and each
// case sees exactly the one way of restoring it should take.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "disc/DiscPayload.h"
#include "support/ScratchFolder.h"

namespace corvane {
namespace {

// A stub that logs its name and each argument in brackets, then exits with `status`.
std::string Stub(const std::string& name, int status) {
    return "#!/bin/sh\nprintf '%s' '" + name + "' >>\"$LOG\"\nfor a; do printf ' [%s]' \"$a\" >>\"$LOG\"; done\n"
           "echo >>\"$LOG\"\nexit " + std::to_string(status) + "\n";
}

void WriteExecutable(const test::ScratchFolder& folder, const std::string& relative, const std::string& text) {
    ::chmod(folder.WriteFile(relative, text).c_str(), 0755);
}

struct ScriptRun {
    std::string log;
    std::string output;
};

// Runs the script as `invocation` from `cwd` with PATH set to the sandbox's bin only.
ScriptRun RunScript(const test::ScratchFolder& box, const std::string& cwd, const std::string& invocation) {
    // Double quotes for popen's shell: the paths hold spaces and single quotes.
    const std::string command = "cd \"" + cwd + "\" && /usr/bin/env -i PATH=\"" + (box / "bin") + "\" LOG=\"" +
                                (box / "log") + "\" /bin/sh " + invocation + " 2>&1";
    ScriptRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
    ::pclose(pipe);
    run.log = test::ReadWholeFile(box / "log");
    return run;
}

TEST(AutorunScript, TakesTheFirstWayThatWorksHere) {
    struct Row {
        const char* name;
        int discProgramStatus;  // what the disc's corvane.exe exits with (127: cannot run here)
        std::vector<std::string> programsOnPath;
        std::string expectedLog;  // %D stands for the disc's folder
        const char* printed;      // part of the output, when nothing could be started
    };
    const std::string probe = "corvane.exe [help]\n";
    const Row rows[] = {
        {"the disc's own program runs", 0, {"corvane", "x-terminal-emulator"},
         probe + "corvane.exe [browse] [%D]\n", ""},
        {"installed program", 127, {"corvane", "x-terminal-emulator"}, probe + "corvane [browse] [%D]\n", ""},
        {"terminal emulator", 127, {"x-terminal-emulator", "xterm"},
         probe + "x-terminal-emulator [-e] [%D/corvane-restore]\n", ""},
        {"desktop terminal with its own option", 127, {"gnome-terminal"},
         probe + "gnome-terminal [--] [%D/corvane-restore]\n", ""},
        {"last terminal tried", 127, {"xterm"}, probe + "xterm [-e] [%D/corvane-restore]\n", ""},
        {"nothing to start", 127, {}, probe, "run this in a terminal:\n  \"%D/corvane-restore\"\n"},
    };
    auto withDisc = [](std::string text, const std::string& disc) {
        for (std::size_t at; (at = text.find("%D")) != std::string::npos;) text.replace(at, 2, disc);
        return text;
    };
    // The desktop runs the script by its full path from the disc's root; a user may run it as
    // "sh autorun.sh" or "./autorun.sh" there, or by its path from elsewhere.
    const char* invocations[] = {"FULL", "autorun.sh", "./autorun.sh"};
    for (const Row& row : rows) {
        for (const char* invocation : invocations) {
            SCOPED_TRACE(std::string(row.name) + ", run as " + invocation);
            test::ScratchFolder box;
            const std::string disc = box.MakeFolder("media/user/My Backup 'disc' 1");
            box.WriteFile("media/user/My Backup 'disc' 1/autorun.sh", kAutorunScript);
            WriteExecutable(box, "media/user/My Backup 'disc' 1/corvane.exe",
                            Stub("corvane.exe", row.discProgramStatus));
            box.MakeFolder("bin");
            for (const std::string& program : row.programsOnPath) WriteExecutable(box, "bin/" + program, Stub(program, 0));
            box.WriteFile("log", "");

            const bool full = std::string(invocation) == "FULL";
            const std::string quoted = "\"" + disc + "/autorun.sh\"";
            const ScriptRun run = RunScript(box, full ? box.path() : disc, full ? quoted : invocation);
            EXPECT_EQ(run.log, withDisc(row.expectedLog, disc)) << run.output;
            if (*row.printed) {
                EXPECT_NE(run.output.find(withDisc(row.printed, disc)), std::string::npos) << run.output;
            }
        }
    }
}

}  // namespace
}  // namespace corvane
