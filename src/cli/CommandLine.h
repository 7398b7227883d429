#pragma once
// The command-line front end: "corvane COMMAND [options]". It uses the core only and never
// opens a window.

namespace corvane {

// Runs the command named by argv[1]; returns the exit status.
int RunCommandLine(int argc, char** argv);

}  // namespace corvane
