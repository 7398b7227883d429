#pragma once
// "corvane browse FOLDER...": the restore window on folders of backup streams, such as the
// mounted discs of one backup, without the role choice or the single-instance guard.

namespace corvane {

// Creates the application and runs the window; returns the exit status.
int RunBrowseCommand(int argc, char** argv);

}  // namespace corvane
