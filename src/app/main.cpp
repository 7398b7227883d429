// One executable, two front ends: with a command word it runs the command line (no window, no
// display needed), except "browse", which opens the restore window on the folders it names;
// given paths (as a file manager passes them) it opens the restore window on them; without
// arguments it opens the window of its role.

#include <QApplication>
#include <string_view>
#include <sys/stat.h>

#include "app/BackupApp.h"
#include "app/BrowseCommand.h"
#include "cli/CommandLine.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "browse") return corvane::RunBrowseCommand(argc, argv);
    struct stat info;
    if (argc > 1 && argv[1][0] != '-' && !corvane::IsCommandWord(argv[1]) && stat(argv[1], &info) == 0)
        return corvane::RunOpenCommand(argc, argv);
    if (argc > 1) return corvane::RunCommandLine(argc, argv);
    QApplication application(argc, argv);
    corvane::CBackupApp app;
    return app.InitInstance();
}
