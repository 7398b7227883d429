#pragma once
// "corvane browse FOLDER...": the restore window on folders of backup streams, such as the
// mounted discs of one backup, without the role choice or the single-instance guard.

namespace corvane {

// Creates the application and runs the window; returns the exit status.
int RunBrowseCommand(int argc, char** argv);

// "corvane FILE...", as a file manager opens files with the program: the restore window on
// disc images (with the other discs of their backup beside them), stream files (the folder
// holding them) and folders.
int RunOpenCommand(int argc, char** argv);

}  // namespace corvane
