// scan-timer PLACE...: opens the restore window offscreen on the places (folders or disc image
// files), waits until its scan has ended with every stream in the tree, and prints how long
// that took on its last line.

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/BackupApp.h"
#include "disc/ImageFileSystem.h"
#include "restore/CRestore.h"

namespace {

using namespace corvane;

// The stream folders in the tree: the items that stand for a whole stream.
int CountStreams(QTreeWidgetItem* parent) {
    int count = 0;
    for (int i = 0; i < parent->childCount(); ++i) {
        QTreeWidgetItem* child = parent->child(i);
        const CTreeItem* item = CMyTree::ItemOf(child);
        if (item && item->record && item->record->kind == kFolderItem) ++count;
        count += CountStreams(child);
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::string(argv[1]) == "--help") {
        std::fputs("Usage: scan-timer PLACE...\n"
                   "Times the restore window's scan of the backup streams in the PLACEs\n"
                   "(folders or disc image files), on the offscreen platform.\n",
                   argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::vector<std::string> places(argv + 1, argv + argc);

    // The streams there, counted before the clock starts to check the tree against, through a
    // file system of their own so that the window's starts with no image read.
    std::vector<BackupStream> streams;
    ImageFileSystem counting(DefaultFileSystem());
    for (const std::string& place : places) {
        Status s = FindStreams(counting, place, streams);
        if (!s.ok()) {
            std::fprintf(stderr, "scan-timer: cannot read %s: %s\n", place.c_str(),
                         s.message().c_str());
            return 1;
        }
    }

    QApplication application(argc, argv);
    CBackupApp app;
    app.LoadFixedImages();

    ImageFileSystem files(DefaultFileSystem());
    QElapsedTimer clock;
    clock.start();
    CRestore window(places, &files);
    QObject::connect(&window, &CRestore::scanEnded, &application, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    window.show();
    if (!window.scanFinished) application.exec();
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;

    const int shown = CountStreams(window.tree->invisibleRootItem());
    if (shown != static_cast<int>(streams.size()))
        std::fprintf(stderr, "scan-timer: %zu streams found, %d in the tree (damaged ones are "
                     "left out)\n", streams.size(), shown);
    std::printf("scan %.3f s, %d streams\n", seconds, shown);
    std::fflush(stdout);
    return shown == static_cast<int>(streams.size()) ? 0 : 1;
}
