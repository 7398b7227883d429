// One executable, two front ends: with a command word it runs the command line (no window, no
// display needed), except "browse", which opens the restore window on the folders it names;
// without arguments it opens the window of its role.

#include <QApplication>
#include <string_view>

#include "app/BackupApp.h"
#include "app/BrowseCommand.h"
#include "cli/CommandLine.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "browse") return corvane::RunBrowseCommand(argc, argv);
    if (argc > 1) return corvane::RunCommandLine(argc, argv);
    QApplication application(argc, argv);
    corvane::CBackupApp app;
    return app.InitInstance();
}
