#pragma once

#include <string>

namespace corvane {

// The portable restorer started without arguments on a terminal: shows the backup on the
// disc in discFolder (and on any other mounted disc of the same backup), asks what to restore
// and where, and restores it with the restore command, which shows the progress and names
// what was not restored. End of input at a question ends it without writing anything.
int RunGuidedRestore(const std::string& discFolder);

}  // namespace corvane
