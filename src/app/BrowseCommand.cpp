#include "app/BrowseCommand.h"

#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "app/BackupApp.h"
#include "restore/CRestore.h"

namespace corvane {

namespace {

const char* const kBrowseUsage =
    "Usage: corvane browse FOLDER...\n"
    "\n"
    "Opens the restore window on the backup stream files (*.cvn) in the FOLDERs, such as the\n"
    "mounted discs of one backup, all in one tree.\n";

}  // namespace

int RunBrowseCommand(int argc, char** argv) {
    const std::vector<std::string> folders(argv + 2, argv + argc);
    if (!folders.empty() && (folders[0] == "--help" || folders[0] == "-h")) {
        std::fputs(kBrowseUsage, stdout);
        return 0;
    }
    if (folders.empty()) {
        std::fprintf(stderr, "corvane browse: name at least one FOLDER\n\n%s", kBrowseUsage);
        return 2;
    }
    for (const std::string& folder : folders) {
        FileInfo info;
        if (!DefaultFileSystem().Stat(folder, info).ok() || !info.isFolder()) {
            std::fprintf(stderr, "corvane browse: %s is not a folder\n", folder.c_str());
            return 2;
        }
    }
    QApplication application(argc, argv);
    CBackupApp app;
    app.LoadFixedImages();
    CRestore window(folders, &DefaultFileSystem());
    window.exec();
    return 0;
}

}  // namespace corvane
