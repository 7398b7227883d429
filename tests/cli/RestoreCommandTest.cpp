// Back up with the real program onto image discs, then restore from the images with it:
// whole backups, one folder, one file, protected folders, existing files.

#include <gtest/gtest.h>

#include <QProcess>
#include <chrono>
#include <filesystem>
#include <set>

#include "extract/TreeListing.h"
#include "support/PeerTools.h"
#include "support/ScratchFolder.h"
#include "support/StreamTestUtil.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

int Corvane(const QStringList& args, std::string* err = nullptr, std::string* out = nullptr) {
    QProcess process;
    process.start(QStringLiteral(CORVANE_BINARY_PATH), args);
    process.closeWriteChannel();
    process.waitForFinished(120000);
    if (err) *err = process.readAllStandardError().toStdString();
    if (out) *out = process.readAllStandardOutput().toStdString();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Runs a command and returns the output of `diff -r a b` (empty when the trees match).
std::string Diff(const std::string& a, const std::string& b) {
    QProcess diff;
    diff.start("diff", {"-r", QString::fromStdString(a), QString::fromStdString(b)});
    diff.waitForFinished(60000);
    return diff.readAllStandardOutput().toStdString() + (diff.exitCode() == 0 ? "" : "(differs)");
}

struct Backup {
    test::ScratchFolder source, discs, scratch;
    QStringList images;

    explicit Backup(const std::string& password = "") {
        for (auto [path, size] : std::initializer_list<std::pair<const char*, std::size_t>>{
                 {"empty.txt", 0}, {"a-4095", 4095}, {"Docs/b-4096", 4096}, {"Docs/c-4097", 4097},
                 {"Docs/Été 2008/rapport.txt", 1000000}, {"Music/Übung.ogg", 1000001}, {"Deep/a/b/c/d/e.txt", 10},
                 {"Video/clip.mp4", 1000002}})
            source.WriteFile(path, test::SampleBytes(size, static_cast<std::uint32_t>(size)));
        source.MakeFolder("Empty Folder");
        QStringList args = {"backup", QString::fromStdString(source.path()), "--images",
                            QString::fromStdString(discs.path()), "--capacity",
                            QString::number(fs::file_size(CORVANE_BINARY_PATH) + 650000), "--yes"};
        if (!password.empty()) args << "--password-file" << QString::fromStdString(scratch.WriteFile("pw", password + "\n"));
        EXPECT_EQ(Corvane(args), 0);
        for (const auto& entry : fs::directory_iterator(discs.path())) images << QString::fromStdString(entry.path().string());
    }

    int Restore(const std::string& to, QStringList extra = {}, std::string* err = nullptr) const {
        return Corvane(QStringList{"restore"} + images + QStringList{"--to", QString::fromStdString(to)} + extra, err);
    }
};

TEST(RestoreCommand, WholeBackupFromSeveralImagesComesBackIdentical) {
    Backup backup;
    ASSERT_GE(backup.images.size(), 3);
    test::ScratchFolder out;
    ASSERT_EQ(backup.Restore(out.path() + "/"), 0) << "a trailing slash changes nothing";
    EXPECT_EQ(Diff(backup.source.path(), out.path()), "");
    // Times are stored in whole seconds.
    auto seconds = [](const fs::path& p) {
        return std::chrono::floor<std::chrono::seconds>(fs::last_write_time(p).time_since_epoch()).count();
    };
    EXPECT_EQ(seconds(out / "Docs/c-4097"), seconds(backup.source / "Docs/c-4097"));
}

TEST(RestoreCommand, ImagesListLikeTheFilesAPeerTakesOutOfThem) {
    Backup backup;
    test::ScratchFolder copied;
    QStringList folders;
    for (const QString& image : backup.images) {
        const std::string into = copied.MakeFolder(fs::path(image.toStdString()).stem().string());
        test::ExtractWithXorriso(image.toStdString(), into);
        folders << QString::fromStdString(into);
    }
    std::string fromImages, fromFolders;
    ASSERT_EQ(Corvane(QStringList{"list"} + backup.images, nullptr, &fromImages), 0);
    ASSERT_EQ(Corvane(QStringList{"list"} + folders, nullptr, &fromFolders), 0);
    EXPECT_EQ(fromImages, fromFolders);
    EXPECT_NE(fromImages.find("e.txt"), std::string::npos) << fromImages;
}

TEST(RestoreCommand, OnlyAFolderOrAFile) {
    Backup backup;
    test::ScratchFolder folder, file;
    ASSERT_EQ(backup.Restore(folder.path(), {"--only", "Docs"}), 0);
    EXPECT_EQ(Diff(backup.source / "Docs", folder / "Docs"), "");
    EXPECT_FALSE(fs::exists(folder / "Music"));
    ASSERT_EQ(backup.Restore(file.path(), {"--only", "Docs/Été 2008/rapport.txt"}), 0);
    EXPECT_EQ(test::ReadWholeFile(file / "Docs/Été 2008/rapport.txt"),
              test::ReadWholeFile(backup.source / "Docs/Été 2008/rapport.txt"))
        << "the file keeps its path under the destination, as a folder does";
    EXPECT_FALSE(fs::exists(file / "rapport.txt"));
    std::string err;
    EXPECT_EQ(backup.Restore(file.path(), {"--only", "Nowhere"}, &err), 1);
    EXPECT_NE(err.find("nothing in the backup matches"), std::string::npos);
}

TEST(RestoreCommand, ProtectedFoldersNeedThePassword) {
    Backup backup("s3cret");
    test::ScratchFolder without, wrong, right;
    std::string err;
    EXPECT_EQ(backup.Restore(without.path(), {}, &err), 1);
    EXPECT_NE(err.find("protected"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(without.path()));
    EXPECT_EQ(backup.Restore(wrong.path(), {"--password-file", QString::fromStdString(backup.scratch.WriteFile("bad", "S3CRET"))}), 1);
    EXPECT_TRUE(fs::is_empty(wrong.path()));
    ASSERT_EQ(backup.Restore(right.path(), {"--password-file", QString::fromStdString(backup.scratch / "pw")}), 0);
    EXPECT_EQ(Diff(backup.source.path(), right.path()), "");
}

TEST(RestoreCommand, ExistingFilesAreKeptReplacedOrAskedAbout) {
    Backup backup;
    test::ScratchFolder out;
    out.WriteFile("empty.txt", "mine");
    EXPECT_EQ(backup.Restore(out.path(), {"--overwrite", "no"}), 0);
    EXPECT_EQ(test::ReadWholeFile(out / "empty.txt"), "mine");
    std::string err;
    EXPECT_EQ(backup.Restore(out.path(), {}, &err), 1) << "no terminal to ask";
    EXPECT_NE(err.find("--overwrite"), std::string::npos);
    EXPECT_EQ(backup.Restore(out.path(), {"--overwrite", "yes"}), 0);
    EXPECT_EQ(test::ReadWholeFile(out / "empty.txt"), "");
    EXPECT_EQ(backup.Restore(out.path(), {"--overwrite", "maybe"}), 2);
    EXPECT_EQ(Corvane({"restore", "--to", QString::fromStdString(out.path())}), 2);
}

// A damaged or foreign disc: streams whose names lead outside the destination, hold control
// characters, are protected or are cut short.
TEST(RestoreCommand, HostileDiscWritesNothingOutsideTheDestinationAndNamesWhatItRefused) {
    test::ScratchFolder scratch;
    const std::string disc = scratch.MakeFolder("disc");
    const struct {
        std::string folder, password;
        std::vector<test::SampleFile> files;
    } streams[] = {
        {"\\", "", {{"good.txt", "good"}, {"../escape", "x"}, {"C:drive", "x"}, {"osc\xC2\x9D]0;t\x07", "x"}}},
        {"\\..\\..\\outside", "", {{"x.txt", "x"}}},
        {"\\Docs", "", {{"fine.txt", "fine"}}},
        {"\\Lock\x1b[31m", "pw", {{"x.txt", "x"}}},
        {"\\Cut", "", {{"a.txt", test::SampleBytes(6000, 1)}}},
    };
    std::set<std::string> expected = {"disc", "box", "box/out", "box/out/good.txt", "box/out/Docs",
                                      "box/out/Docs/fine.txt", "box/out/Cut"};
    for (std::size_t i = 0; i < std::size(streams); ++i) {
        const std::string name = "EVIL 2401010000 " + std::to_string(i) + ".cvn";
        ASSERT_TRUE(test::WriteSampleStream(disc + "/" + name, streams[i].folder, streams[i].password, streams[i].files).ok());
        expected.insert("disc/" + name);
    }
    const std::string cut = disc + "/EVIL 2401010000 4.cvn";
    fs::resize_file(cut, fs::file_size(cut) - 100);
    const std::string out = scratch.MakeFolder("box/out");

    std::string err;
    EXPECT_EQ(Corvane({"restore", QString::fromStdString(disc), "--to", QString::fromStdString(out)}, &err), 1);
    EXPECT_EQ(test::TreeListing(scratch.path()), expected);
    EXPECT_EQ(test::ReadWholeFile(out + "/good.txt"), "good");
    EXPECT_NE(err.find("Not restored, because the backup names a place outside the destination folder:"), std::string::npos) << err;
    for (const char* refused : {"\\..\\..\\outside", "\\../escape", "\\C:drive", "\\osc?]0;t?",
                                "<protected> is protected", "There was an error extracting the file!"})
        EXPECT_NE(err.find(refused), std::string::npos) << refused << " in\n" << err;
    EXPECT_EQ(err.find("Lock"), std::string::npos) << "the name of a protected folder is shown";
    EXPECT_EQ(err.find('\x1b'), std::string::npos) << "a control character from the disc reached the terminal";
}

}  // namespace
}  // namespace corvane
