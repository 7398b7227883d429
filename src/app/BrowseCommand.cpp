#include "app/BrowseCommand.h"

#include <QApplication>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/BackupApp.h"
#include "app/CloseOnSignal.h"
#include "disc/ImageFileName.h"
#include "disc/ImageFileSystem.h"
#include "platform/MountTable.h"
#include "platform/Prompt.h"
#include "restore/CRestore.h"

namespace corvane {

namespace {

const char* const kBrowseUsage =
    "Usage: corvane browse [PLACE...]\n"
    "\n"
    "Opens the restore window on the backup stream files (*.cvn) in each PLACE, all in one\n"
    "tree: folders such as the mounted discs of one backup, the disc image files (.iso)\n"
    "themselves, read without mounting them, or folders holding such images. Without a PLACE\n"
    "it opens the discs that are mounted. What cannot be read, and streams missing from a\n"
    "backup (a disc not given), are named once all is read.\n";

const char* const kNoDisc =
    "No disc is mounted. Insert a backup disc, or open a disc image (.iso) with Corvane.";

// The restore window on the places; only when none can be read is there no window to show
// (the window names the places it cannot read).
int OpenRestoreWindow(int argc, char** argv, const std::vector<std::string>& places) {
    ImageFileSystem files(DefaultFileSystem());
    const bool anyFolder = std::any_of(places.begin(), places.end(), [&](const std::string& place) {
        FileInfo info;
        return files.Stat(place, info).ok() && info.isFolder();
    });
    if (!anyFolder) {
        for (const std::string& place : places)
            std::fprintf(stderr, "corvane browse: %s is neither a folder nor a disc image\n", place.c_str());
        return 2;
    }
    QApplication application(argc, argv);
    CBackupApp app;
    app.LoadFixedImages();
    CRestore window(places, &files);
    window.lastDestination = &app.lastDestination;
    CloseOnSignal closer(window);
    window.exec();
    return 0;
}

bool HasExtension(const std::string& path, std::string_view extension) {
    return path.size() > extension.size() &&
           std::equal(extension.begin(), extension.end(), path.end() - static_cast<std::ptrdiff_t>(extension.size()),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

}  // namespace

int RunBrowseCommand(int argc, char** argv) {
    const std::vector<std::string> folders(argv + 2, argv + argc);
    if (!folders.empty() && (folders[0] == "--help" || folders[0] == "-h")) {
        std::fputs(kBrowseUsage, stdout);
        return 0;
    }
    if (!folders.empty()) return OpenRestoreWindow(argc, argv, folders);
    const std::vector<std::string> discs = MountedDiscs("/");
    if (!discs.empty()) return OpenRestoreWindow(argc, argv, discs);
    std::fprintf(stderr, "corvane browse: %s\n", kNoDisc);
    // Started from the desktop's menu, the user sees no terminal: the window says it.
    if (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY")) {
        QApplication application(argc, argv);
        Ask(nullptr, {kNoDisc, MessageIcon::Information, MessageButtons::Ok});
    }
    return 1;
}

int RunOpenCommand(int argc, char** argv) {
    // A stream file stands for the disc or folder holding it, a disc image for every disc of
    // its backup beside it; each place is read once.
    std::vector<std::string> places;
    const auto add = [&](std::string place) {
        if (std::find(places.begin(), places.end(), place) == places.end()) places.push_back(std::move(place));
    };
    for (int i = 1; i < argc; ++i) {
        const std::string file = argv[i];
        if (HasExtension(file, ".cvn")) {
            const auto slash = file.find_last_of('/');
            add(slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash));
        } else if (HasExtension(file, ".iso")) {
            for (std::string& image : DiscImagesOfItsBackup(file)) add(std::move(image));
        } else {
            add(file);
        }
    }
    return OpenRestoreWindow(argc, argv, places);
}

}  // namespace corvane
