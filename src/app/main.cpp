// One executable, two front ends: with a command word it runs the command line (no window, no
// display needed); without arguments it opens the window of its role.

#include <QApplication>

#include "app/BackupApp.h"
#include "cli/CommandLine.h"

int main(int argc, char** argv) {
    if (argc > 1) return corvane::RunCommandLine(argc, argv);
    QApplication application(argc, argv);
    corvane::CBackupApp app;
    return app.InitInstance();
}
