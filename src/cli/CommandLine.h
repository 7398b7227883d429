#pragma once
// The command-line front end: "corvane COMMAND [options]". It uses the core only and never
// opens a window.

#include <string_view>

namespace corvane {

// Whether the word names a command, the window's "browse" included.
bool IsCommandWord(std::string_view word);

// Runs the command named by argv[1]; returns the exit status.
int RunCommandLine(int argc, char** argv);

}  // namespace corvane
