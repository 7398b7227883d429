// Restoring a backup that spans three image discs when not every disc is given: what is
// present comes back, every file on a disc not given is named, and a restored file whose
// content does not match the catalogue's checksum is named and not kept.

#include <gtest/gtest.h>

#include <QProcess>
#include <filesystem>

#include "support/ScratchFolder.h"
#include "support/SpannedBackup.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

struct RestoreRun {
    int exitCode = -1;
    std::string err;
};

RestoreRun Restore(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(CORVANE_BINARY_PATH), QStringList{"restore"} + args);
    process.closeWriteChannel();
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardError().toStdString()};
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), folder).string());
    std::sort(files.begin(), files.end());
    return files;
}

// What a restore of only (everything for "") from some discs brings back, and which files it
// names as being on discs not given.
TEST(RestoreAcrossTheSet, WhatIsPresentComesBackAndEveryFileOnAnAbsentDiscIsNamed) {
    const test::SpannedBackup backup;
    const std::string imageName = fs::path(backup.images[0]).filename().string();
    const std::string backupName = imageName.substr(0, imageName.find(" disc "));
    struct Case {
        std::vector<int> discs;
        std::string only;
        std::vector<std::string> restored;
        std::vector<std::string> named;  // "... is on disc N"
        int following = 0;  // a disc after the newest catalogue given, named as not given
    };
    const std::vector<Case> cases = {
        {{3}, "", {"Video/v.bin"}, {"\\readme.txt is on disc 1", "Docs\\r.txt is on disc 1",
                                    "Docs\\2008\\a.bin is on disc 1", "Music\\m.bin is on disc 2"}},
        {{2, 3}, "Docs", {}, {"Docs\\r.txt is on disc 1", "Docs\\2008\\a.bin is on disc 1"}},
        {{3}, "Music/m.bin", {}, {"Music\\m.bin is on disc 2"}},
        {{1, 3}, "Docs", {"Docs/2008/a.bin", "Docs/r.txt"}, {}},
        {{1, 2, 3}, "", {"Docs/2008/a.bin", "Docs/r.txt", "Music/m.bin", "Video/v.bin", "readme.txt"}, {}},
        // The drive's root folder, as list shows it: its own files, not the folders below it.
        {{1, 2, 3}, "ROOT", {"readme.txt"}, {}},
        {{1, 2, 3}, "ROOT/readme.txt", {"readme.txt"}, {}},
        {{1, 2}, "", {"Docs/2008/a.bin", "Docs/r.txt", "Music/m.bin", "readme.txt"}, {}, 3},
        // A part may go on onto the disc after the newest catalogue's when that catalogue ends
        // in it, or lie there when it is found nowhere; not when a later folder follows it.
        {{1}, "Docs", {"Docs/2008/a.bin", "Docs/r.txt"}, {}, 2},
        {{1, 2}, "Docs", {"Docs/2008/a.bin", "Docs/r.txt"}, {}},
        {{1, 2}, "Video/v.bin", {}, {}, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.discs) + " " + c.only);
        test::ScratchFolder place, out;
        QStringList args = {Q(backup.PlaceWith(place, c.discs)), "--to", Q(out.path())};
        if (!c.only.empty()) args << "--only" << Q(c.only);
        const RestoreRun run = Restore(args);
        EXPECT_EQ(FilesBelow(out.path()), c.restored) << run.err;
        for (const std::string& file : c.restored)
            EXPECT_EQ(test::ReadWholeFile(out / file), backup.files.at(file)) << file;
        std::size_t namedLines = 0;
        for (std::size_t at = 0; (at = run.err.find(", which was not given", at)) != std::string::npos; ++at)
            ++namedLines;
        EXPECT_EQ(namedLines, c.named.size()) << run.err;
        for (const std::string& line : c.named)
            EXPECT_NE(run.err.find(line + ", which was not given"), std::string::npos) << line << "\n" << run.err;
        const std::string following =
            c.following ? "disc " + std::to_string(c.following) + " of " + backupName +
                              " is not among the places given: the backup goes on after disc " +
                              std::to_string(c.following - 1)
                        : "the backup goes on";
        EXPECT_EQ(run.err.find(following) != std::string::npos, c.following != 0) << run.err;
        // Success only when everything chosen came back: a part wholly present needs no other disc.
        EXPECT_EQ(run.exitCode, c.named.empty() && !c.following ? 0 : 1) << run.err;
    }
}

TEST(RestoreAcrossTheSet, AFileWhoseContentDoesNotMatchTheCatalogueIsNamedAndNotKept) {
    const test::SpannedBackup backup;
    test::ScratchFolder place, out;
    backup.PlaceWith(place, {1, 2, 3});
    backup.SwapFirstChunksOfVideo(place);
    const RestoreRun run = Restore({Q(place.path()), "--to", Q(out.path())});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Video\\v.bin: its content does not match the checksum the backup recorded for it"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(out / "Video/v.bin"));
    EXPECT_EQ(test::ReadWholeFile(out / "Music/m.bin"), backup.files.at("Music/m.bin"));
    EXPECT_NE(run.err.find("4 files restored"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace corvane
