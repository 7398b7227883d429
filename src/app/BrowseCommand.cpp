#include "app/BrowseCommand.h"

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/BackupApp.h"
#include "app/CloseOnSignal.h"
#include "disc/ImageFileSystem.h"
#include "restore/CRestore.h"

namespace corvane {

namespace {

const char* const kBrowseUsage =
    "Usage: corvane browse PLACE...\n"
    "\n"
    "Opens the restore window on the backup stream files (*.cvn) in each PLACE, all in one\n"
    "tree: folders such as the mounted discs of one backup, the disc image files (.iso)\n"
    "themselves, read without mounting them, or folders holding such images. What cannot be\n"
    "read, and streams missing from a backup (a disc not given), are named once all is read.\n";

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
    // The window names the places it cannot read; only when none can be read is there no
    // window to show.
    ImageFileSystem files(DefaultFileSystem());
    const bool anyFolder = std::any_of(folders.begin(), folders.end(), [&](const std::string& folder) {
        FileInfo info;
        return files.Stat(folder, info).ok() && info.isFolder();
    });
    if (!anyFolder) {
        for (const std::string& folder : folders)
            std::fprintf(stderr, "corvane browse: %s is neither a folder nor a disc image\n", folder.c_str());
        return 2;
    }
    QApplication application(argc, argv);
    CBackupApp app;
    app.LoadFixedImages();
    CRestore window(folders, &files);
    window.lastDestination = &app.lastDestination;
    CloseOnSignal closer(window);
    window.exec();
    return 0;
}

}  // namespace corvane
