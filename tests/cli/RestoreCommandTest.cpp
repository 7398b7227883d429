// Back up with the real program onto image discs, then restore from the images with it:
// whole backups, one folder, one file, protected folders, existing files, and the faults of
// discs and places a restore must name and go past.

#include <gtest/gtest.h>

#include <QProcess>
#include <chrono>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "archive/StreamFormat.h"
#include "disc/ImageFileSystem.h"
#include "extract/StoredPath.h"
#include "extract/TreeListing.h"
#include "platform/TextCodec.h"
#include "restore/BackupCatalog.h"
#include "support/ExfatMount.h"
#include "support/ProgramPayload.h"
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
                            QString::number(test::ProgramPayloadSize() + 650000), "--yes"};
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
    EXPECT_EQ(backup.Restore(without.path(), {"--only", "Docs/c-4097"}, &err), 1);
    EXPECT_NE(err.find("corvane restore: <protected> is protected and was left out"), std::string::npos) << err;
    EXPECT_EQ(err.find("Docs"), std::string::npos) << "the tree shows the folder as <protected>";
    EXPECT_EQ(err.find("nothing"), std::string::npos) << err;
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
    // The name with control characters is no way out: it is restored under a substitute.
    std::set<std::string> expected = {"disc", "box", "box/out", "box/out/good.txt", "box/out/osc_]0;t_", "box/out/Docs",
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
    for (const char* refused : {"not restored: \\..\\..\\outside: it names a place outside the destination folder",
                                "not restored: \\../escape: it names a place outside the destination folder",
                                "not restored: \\C:drive: it names a place outside the destination folder",
                                "\\osc?]0;t? was restored under another name", "<protected> is protected",
                                "not restored: Cut\\a.txt: There was an error extracting the file!"})
        EXPECT_NE(err.find(refused), std::string::npos) << refused << " in\n" << err;
    EXPECT_EQ(err.find("Lock"), std::string::npos) << "the name of a protected folder is shown";
    EXPECT_EQ(err.find('\x1b'), std::string::npos) << "a control character from the disc reached the terminal";

    // Asked for by name, a file below such a folder is refused all the same.
    const std::string one = scratch.MakeFolder("box/one");
    EXPECT_EQ(Corvane({"restore", QString::fromStdString(disc), "--to", QString::fromStdString(one), "--only",
                       "../../outside/x.txt"},
                      &err),
              1);
    EXPECT_NE(err.find("\\..\\..\\outside names a place outside the destination folder"), std::string::npos) << err;
    expected.insert("box/one");
    EXPECT_EQ(test::TreeListing(scratch.path()), expected);
}

// Where each stream of a backup lies: the disc (index into the images) of every stream number
// and of every folder, read from the images as the program reads them.
struct DiscLayout {
    std::string backupName;                   // "<label> <stamp>"
    std::map<std::string, int> discOfFolder;  // "Docs/Été 2008", "" for the root
    std::map<long long, int> discOfStream;

    explicit DiscLayout(const QStringList& images) {
        ImageFileSystem files(DefaultFileSystem());
        for (int disc = 0; disc < images.size(); ++disc) {
            std::vector<BackupStream> streams;
            EXPECT_TRUE(FindStreams(files, images[disc].toStdString(), streams).ok());
            for (BackupStream& stream : streams) {
                EXPECT_TRUE(ReadStreamHeader(files, stream).ok()) << stream.path;
                std::string folder;
                EXPECT_EQ(StoredFolderToRelative(stream.folderPath, folder), NameUse::AsStored);
                discOfFolder[folder] = disc;
                discOfStream[stream.sequence] = disc;
                backupName = stream.label + " " + stream.timeStamp;
            }
        }
    }

    // What the program says of a backup restored without that disc.
    std::string MissingMessage(int disc) const {
        std::vector<long long> numbers;
        for (auto [number, on] : discOfStream)
            if (on == disc) numbers.push_back(number);
        if (numbers.size() == 1)
            return "stream " + std::to_string(numbers[0]) + " of " + backupName + " was not found: is a disc missing?";
        return "streams " + std::to_string(numbers.front()) + "\u2013" + std::to_string(numbers.back()) + " of " +
               backupName + " were not found: is a disc missing?";
    }
};

// Damages one byte of the first chunk of the first file of the first stream (by name) in a
// folder that has a file, and returns that file's path from the drive's root ("Docs/b-4096").
std::string DamageFirstFile(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".cvn") names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    for (const std::string& path : names) {
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
        std::unique_ptr<File> in;
        if (!DefaultFileSystem().OpenRead(path, in).ok()) continue;
        StreamReader reader(*in);
        FolderHeader header;
        FileRecord record;
        bool found = false;
        if (!reader.ReadFolderHeader(header).ok() || !reader.NextRecord(record, found).ok() || !found ||
            record.dataSize == 0)
            continue;
        in->Close();
        // DataSize, the two times and the first ChunkLength come before the chunk's bytes.
        std::string bytes = test::ReadWholeFile(path);
        bytes[record.recordOffset + 4 + 16 + 4 + 2] ^= 0x55;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        std::string relative;
        EXPECT_EQ(StoredFolderToRelative(header.folderPath, relative), NameUse::AsStored);
        return relative.empty() ? record.fileName : relative + "/" + record.fileName;
    }
    ADD_FAILURE() << "no stream with a file in " << folder;
    return "";
}

// Restores from a backup on three image discs, with one fault or choice in each row: exactly
// which files come back (byte for byte, below the same path), what is said, the exit status.
TEST(RestoreCommand, RestoresEverythingItCanAndNamesTheRest) {
    Backup backup;
    ASSERT_EQ(backup.images.size(), 3) << "the rows below are about three discs";
    QStringList images = backup.images;
    images.sort();  // disc 01 first
    const DiscLayout layout(images);
    ASSERT_EQ(layout.discOfStream.size(), layout.discOfFolder.size()) << "one stream per folder";
    for (int disc = 0; disc < 3; ++disc)
        ASSERT_NE(layout.MissingMessage(disc).find("stream"), std::string::npos) << "every disc holds a stream";

    // Places that are no backup disc, beside the good ones.
    test::ScratchFolder faults;
    const std::string truncated = faults / "cut/disc 02.iso";
    fs::create_directories(faults / "cut");
    fs::copy_file(images[1].toStdString(), truncated);
    fs::resize_file(truncated, fs::file_size(truncated) / 2);
    const std::string notAnImage = faults.WriteFile("notes.iso", std::string(40000, 'n'));
    const std::string programOnly = faults / "program.iso";
    {
        test::ScratchFolder content;
        fs::copy_file(CORVANE_BINARY_PATH, content / "corvane.exe");
        content.WriteFile("autorun.inf", "[autorun]\r\nopen=corvane.exe\r\n");
        test::MakeImageWithXorriso(content.path(), programOnly);
    }
    const std::string sameDiscOtherPath =
        backup.discs.path() + "/./" + fs::path(images[1].toStdString()).filename().string();

    // Disc 2 copied into a folder, as a user copies a disc, with its first file damaged.
    const std::string damagedCopy = faults / "disc 2 copy";
    test::ExtractWithXorriso(images[1].toStdString(), damagedCopy);
    const std::string damagedFile = DamageFirstFile(damagedCopy);
    const std::string undecodable = fs::path(damagedFile).filename().string() + ": There was an error extracting the file!";

    // What a row finds in its destination (to) beforehand; outside is a folder beside it that
    // nothing may reach.
    using Prepare = std::function<void(const fs::path& to, const fs::path& outside)>;
    const Prepare folderAtFile = [](const fs::path& to, const fs::path&) { fs::create_directories(to / "Docs/c-4097"); };
    const Prepare danglingLink = [](const fs::path& to, const fs::path& outside) {
        fs::create_directories(to / "Docs");
        fs::create_symlink(outside / "b-4096", to / "Docs/b-4096");
    };
    const Prepare linkedFolder = [](const fs::path& to, const fs::path& outside) {
        fs::create_directories(outside / "elsewhere");
        fs::create_directory_symlink(outside / "elsewhere", to / "Music");
    };

    struct Row {
        const char* what;
        std::vector<std::string> places;  // "disc1".."disc3", or a path
        QStringList options;
        std::string to;         // below the row's scratch folder; the others exist beforehand
        std::set<int> present;  // the discs whose files come back
        std::string only;       // and only those at or below this path
        std::vector<std::string> said;
        int exitStatus;
        Prepare prepare = nullptr;
        std::set<std::string> notBack = {};  // files of the present discs that do not come back
    };
    const std::string all = "";
    const std::vector<Row> rows = {
        {"every disc", {"disc1", "disc2", "disc3"}, {}, "out", {0, 1, 2}, all, {}, 0},
        {"a folder holding the images", {backup.discs.path()}, {}, "out", {0, 1, 2}, all, {}, 0},
        {"missing middle disc", {"disc1", "disc3"}, {}, "out", {0, 2}, all, {layout.MissingMessage(1)}, 1},
        {"missing first disc", {"disc2", "disc3"}, {}, "out", {1, 2}, all, {layout.MissingMessage(0)}, 1},
        {"truncated image among good ones", {"disc1", truncated, "disc3"}, {}, "out", {0, 2}, all,
         {truncated + "/" + layout.backupName, ": its folder header could not be read (", "the image file ends early",
          "not restored: Music\\\u00dcbung.ogg: its record could not be read"}, 1},
        {"a file named like an image", {"disc1", notAnImage, "disc2", "disc3"}, {}, "out", {0, 1, 2}, all,
         {notAnImage + " was skipped: "}, 1},
        {"an image holding only the program", {programOnly, "disc1", "disc2", "disc3"}, {}, "out", {0, 1, 2}, all,
         {programOnly + " was skipped: it holds no backup streams"}, 1},
        {"a folder holding a damaged image", {faults.path(), "disc1", "disc2", "disc3"}, {}, "out", {0, 1, 2}, all,
         {notAnImage + " was skipped: ", programOnly + " was skipped: "}, 1},
        {"the same disc given again, by another path and in its folder",
         {"disc1", "disc2", "disc3", "disc2", sameDiscOtherPath, backup.discs.path()}, {}, "out", {0, 1, 2}, all, {}, 0},
        {"--only a file", {"disc1", "disc2", "disc3"}, {"--only", "Docs/Été 2008/rapport.txt"}, "out", {0, 1, 2},
         "Docs/Été 2008/rapport.txt", {}, 0},
        {"--only a folder", {"disc1", "disc2", "disc3"}, {"--only", "Docs"}, "out", {0, 1, 2}, "Docs", {}, 0},
        {"--only what is not there", {"disc1", "disc2", "disc3"}, {"--only", "Docs/nothing.txt"}, "out", {}, all,
         {"nothing in the backup matches Docs/nothing.txt"}, 1},
        {"--to a folder that does not exist", {"disc1", "disc2", "disc3"}, {}, "new/deeper", {0, 1, 2}, all, {}, 0},
        {"--to a folder whose name ends in a space", {"disc1", "disc2", "disc3"}, {}, "out ", {0, 1, 2}, all, {}, 0},
        {"--to a file", {"disc1", "disc2", "disc3"}, {}, "a file", {}, all, {"the destination "}, 1},
        {"a damaged first file on one disc", {"disc1", damagedCopy, "disc3"}, {}, "out", {0, 1, 2}, all,
         {undecodable, "(1 problem)"}, 1, nullptr, {damagedFile}},
        {"a folder at a file's path", {"disc1", "disc2", "disc3"}, {}, "out", {0, 1, 2}, all,
         {"c-4097: Cannot create", "a folder has that name", "(1 problem)"}, 1, folderAtFile, {"Docs/c-4097"}},
        {"a dangling link at a file's path, kept", {"disc1", "disc2", "disc3"}, {"--overwrite", "no"}, "out",
         {0, 1, 2}, all, {}, 0, danglingLink, {"Docs/b-4096"}},
        {"a dangling link at a file's path, replaced", {"disc1", "disc2", "disc3"}, {"--overwrite", "yes"}, "out",
         {0, 1, 2}, all, {}, 0, danglingLink},
        {"a linked folder on the way", {"disc1", "disc2", "disc3"}, {}, "out", {0, 1, 2}, all,
         {"it is a symbolic link"}, 1, linkedFolder, {"Music/\u00dcbung.ogg"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        test::ScratchFolder scratch;
        scratch.MakeFolder("out");
        scratch.WriteFile("a file", "mine");
        const std::string to = scratch / row.to;
        const fs::path outside = scratch.MakeFolder("outside");
        if (row.prepare) row.prepare(to, outside);
        QStringList args = {"restore"};
        for (const std::string& place : row.places)
            args << (place.starts_with("disc") && place.size() == 5 ? images[place[4] - '1']
                                                                    : QString::fromStdString(place));
        args << row.options << "--to" << QString::fromStdString(to);
        std::string err;
        EXPECT_EQ(Corvane(args, &err), row.exitStatus) << err;
        for (const std::string& text : row.said) EXPECT_NE(err.find(text), std::string::npos) << text << " in\n" << err;

        std::set<std::string> expected, restored;
        for (const auto& entry : fs::recursive_directory_iterator(backup.source.path())) {
            const std::string path = fs::relative(entry.path(), backup.source.path()).string();
            const std::string folder = fs::path(path).parent_path().string();
            const bool below = row.only.empty() || path == row.only || path.starts_with(row.only + "/");
            if (entry.is_regular_file() && below && row.present.count(layout.discOfFolder.at(folder)) &&
                !row.notBack.count(path))
                expected.insert(path);
        }
        if (fs::is_directory(to))
            for (const auto& entry : fs::recursive_directory_iterator(to))
                if (entry.is_regular_file()) restored.insert(fs::relative(entry.path(), to).string());
        EXPECT_EQ(restored, expected);
        for (const std::string& path : restored)
            EXPECT_TRUE(test::ReadWholeFile(to + "/" + path) == test::ReadWholeFile(backup.source / path)) << path;
        EXPECT_EQ(test::ReadWholeFile(scratch / "a file"), "mine");
        for (const std::string& entry : test::TreeListing(outside))
            EXPECT_TRUE(fs::is_directory(outside / entry)) << entry << ": written through a link";
    }
}

// Backups written on systems with other code pages: with --names, restore brings every file
// back under its name in that code page, below its folder's, and list shows the same names.
TEST(RestoreCommand, NamesFromOtherCodePagesComeBackWithTheirCodePage) {
    struct Name {
        std::string stored, utf8;
    };
    const struct Case {
        const char* codePage;
        Name folder, inRoot, inFolder;
    } cases[] = {
        {"windows-1250",
         {"\x8A\x9D" "astn\xFD", "Šťastný"},
         {"\x9Elu\x9Dou\xE8k\xFD k\xF9\xF2.txt", "žluťoučký kůň.txt"},
         {"D\x9E" "b\xE1n \x8F" "a\xB3.txt", "Džbán Źał.txt"}},
        {"cp1251",
         {"\xC4\xEE\xEA\xF3\xEC\xE5\xED\xF2\xFB", "Документы"},
         {"\x8F\xEE\xF0\x9F.txt", "Џорџ.txt"},
         {"\x80\xF3\xF0\xE0 \xB8\xEB\xEA\xE0.doc", "Ђура ёлка.doc"}},
        {"CP932",
         // 0x5C, the separator's byte, is the second byte of 表 and ソ.
         {"\x95\x5C\x8E\xA6", "表示"},
         {"\x93\xFA\x8B\x4C.txt", "日記.txt"},
         {"\x83\x5C\x83\x74\x83\x67 \x8E\xCA\x90\x5E \xB6\xC5.jpg", "ソフト 写真 ｶﾅ.jpg"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codePage);
        test::ScratchFolder disc, out;
        ASSERT_TRUE(test::WriteSampleStream(disc / "FOREIGN 0812251430 0.cvn", "\\", "", {{c.inRoot.stored, "root file"}}).ok());
        ASSERT_TRUE(test::WriteSampleStream(disc / "FOREIGN 0812251430 1.cvn", "\\" + c.folder.stored, "",
                                            {{c.inFolder.stored, "folder file"}})
                        .ok());
        std::string err, listed;
        ASSERT_EQ(Corvane({"restore", QString::fromStdString(disc.path()), "--to", QString::fromStdString(out.path()),
                           "--names", c.codePage},
                          &err),
                  0)
            << err;
        EXPECT_EQ(test::TreeListing(out.path()),
                  (std::set<std::string>{c.inRoot.utf8, c.folder.utf8, c.folder.utf8 + "/" + c.inFolder.utf8}));
        EXPECT_EQ(test::ReadWholeFile(out / c.inRoot.utf8), "root file");
        EXPECT_EQ(test::ReadWholeFile(out / (c.folder.utf8 + "/" + c.inFolder.utf8)), "folder file");

        ASSERT_EQ(Corvane({"list", QString::fromStdString(disc.path()), "--names", c.codePage}, &err, &listed), 0) << err;
        EXPECT_EQ(listed, "FOREIGN\n  08-12-25 14:30\n    ROOT\n      " + c.inRoot.utf8 + "\n    " + c.folder.utf8 +
                              "\n      " + c.inFolder.utf8 + "\n");

        // --only takes the names as the code page reads them.
        test::ScratchFolder one;
        ASSERT_EQ(Corvane({"restore", QString::fromStdString(disc.path()), "--to", QString::fromStdString(one.path()),
                           "--names", c.codePage, "--only", QString::fromStdString(c.folder.utf8 + "/" + c.inFolder.utf8)},
                          &err),
                  0)
            << err;
        EXPECT_EQ(test::TreeListing(one.path()),
                  (std::set<std::string>{c.folder.utf8, c.folder.utf8 + "/" + c.inFolder.utf8}));
    }
}

// Names that restore as one name: Latin-1 and UTF-8 spellings of one name, bytes that a code
// page reads as U+FFFD alike, names that differ only in case. The backup says so; every
// restore, whatever --names and --overwrite say, brings every file back byte for byte, the
// later ones under numbered names that it names, and asks only about what was there before.
TEST(RestoreCommand, NamesThatRestoreAsOneNeverLandOnOneFile) {
    test::ScratchFolder source, discs;
    for (const char* path : {"Latin/caf\xE9.txt", "Latin/café.txt", "Bytes/x\xFD.txt", "Bytes/x\xFE.txt",
                             "Case/Readme.txt", "Case/README.TXT"})
        source.WriteFile(path, std::string("content of ") + path);
    std::string err;
    ASSERT_EQ(Corvane({"backup", QString::fromStdString(source.path()), "--images", QString::fromStdString(discs.path()),
                       "--capacity", QString::number(test::ProgramPayloadSize() + 650000), "--yes"},
                      &err),
              0)
        << err;
    EXPECT_NE(err.find("restore as one name"), std::string::npos) << err;
    EXPECT_NE(err.find(source.path() + "/Latin: café.txt, café.txt\n"), std::string::npos) << err;
    EXPECT_EQ(err.find(source.path() + "/Bytes:"), std::string::npos) << "xý.txt and xþ.txt differ";
    // The files of each folder in the order the backup read them.
    std::map<std::string, std::vector<std::string>> stored;
    for (const char* folder : {"Latin", "Bytes", "Case"})
        for (const auto& entry : fs::directory_iterator(source / folder))
            stored[folder].push_back(entry.path().filename().string());
    EXPECT_NE(err.find(source.path() + "/Case: " + stored["Case"][0] + ", " + stored["Case"][1] + "\n"),
              std::string::npos)
        << "a destination that ignores case holds one of them";

    const std::string mine = "there before the restore";
    const struct Row {
        const char* names;
        const char* overwrite;
        bool cafeThereBefore;
        std::map<std::string, std::vector<std::string>> restored;  // by folder, in the order read
        std::map<std::string, std::string> storedAs;  // a name the code page reads otherwise
    } rows[] = {
        {"windows-1252", "no", false,
         {{"Latin", {"café.txt", "café (2).txt"}}, {"Bytes", {"", ""}}, {"Case", {"", ""}}},
         {{"x\xFD.txt", "xý.txt"}, {"x\xFE.txt", "xþ.txt"}}},
        {"windows-1252", "yes", true,
         {{"Latin", {"café.txt", "café (2).txt"}}, {"Bytes", {"", ""}}, {"Case", {"", ""}}},
         {{"x\xFD.txt", "xý.txt"}, {"x\xFE.txt", "xþ.txt"}}},
        {"windows-1252", "no", true,
         {{"Latin", {"café.txt", "café (2).txt"}}, {"Bytes", {"", ""}}, {"Case", {"", ""}}},
         {{"x\xFD.txt", "xý.txt"}, {"x\xFE.txt", "xþ.txt"}}},
        {"utf-8", "ask", false,
         {{"Latin", {"", ""}}, {"Bytes", {"x\uFFFD.txt", "x\uFFFD (2).txt"}}, {"Case", {"", ""}}},
         {{"caf\xE9.txt", "caf\uFFFD.txt"}}},
        {"cp932", "ask", false,
         {{"Latin", {"", ""}}, {"Bytes", {"x\uFFFD.txt", "x\uFFFD (2).txt"}}, {"Case", {"", ""}}},
         {{"caf\xE9.txt", "caf\uFFFD.txt"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.names) + ", --overwrite " + row.overwrite + (row.cafeThereBefore ? ", café.txt there" : ""));
        test::ScratchFolder out;
        if (row.cafeThereBefore) out.WriteFile("Latin/café.txt", mine);
        std::string said;
        EXPECT_EQ(Corvane({"restore", QString::fromStdString(discs.path()), "--to", QString::fromStdString(out.path()),
                           "--names", row.names, "--overwrite", row.overwrite},
                          &err, &said),
                  0)
            << err;
        std::set<std::string> tree;
        for (const auto& [folder, names] : row.restored) {
            tree.insert(folder);
            for (std::size_t i = 0; i < names.size(); ++i) {
                const std::string& name = stored[folder][i];
                // "" is a name restored as the code page reads it.
                std::string local = names[i];
                if (local.empty()) local = row.storedAs.count(name) ? row.storedAs.at(name) : name;
                const std::string path = folder + "/" + local;
                tree.insert(path);
                const bool kept = row.cafeThereBefore && local == "café.txt" && std::string(row.overwrite) == "no";
                EXPECT_EQ(test::ReadWholeFile(out / path), kept ? mine : "content of " + folder + "/" + name) << path;
                const std::string renamed = "was restored under another name, as " + (out / path);
                EXPECT_EQ(err.find(renamed) != std::string::npos, local.find(" (2)") != std::string::npos) << renamed << "\n" << err;
            }
        }
        EXPECT_EQ(test::TreeListing(out.path()), tree);
        EXPECT_EQ(err.find("not restored"), std::string::npos) << err;
        EXPECT_EQ(err.find("exists"), std::string::npos) << err;
    }
}

// On a destination that folds case and refuses some characters (exFAT): names that differ
// only in case all come back, the later ones numbered, also files of folders whose names
// differ only in case; file and folder names it refuses get portable substitutes.
TEST(RestoreCommand, OnExfatNamesThatDifferInCaseOrAreRefusedAllComeBack) {
    test::ExfatMount exfat;
    if (!exfat.mounted()) GTEST_SKIP() << "no exFAT destination: " << exfat.why();
    test::ScratchFolder source, discs;
    for (const char* path : {"Case/Readme.txt", "Case/README.TXT", "Case/readme.TXT", "Odd?/why?.txt", "Docs/a.txt",
                             "DOCS/a.txt", "Docs/In/b.txt", "DOCS/In/b.txt"})
        source.WriteFile(path, std::string("content of ") + path);
    source.MakeFolder("Empty?");
    std::string err;
    ASSERT_EQ(Corvane({"backup", QString::fromStdString(source.path()), "--images", QString::fromStdString(discs.path()),
                       "--capacity", QString::number(test::ProgramPayloadSize() + 650000), "--yes"},
                      &err),
              0)
        << err;
    std::vector<std::string> read;  // Case's files in the order the backup read them
    for (const auto& entry : fs::directory_iterator(source / "Case")) read.push_back(entry.path().filename().string());
    ASSERT_EQ(read.size(), 3u);
    const auto numbered = [](const std::string& name, int n) {
        return name.substr(0, name.find('.')) + " (" + std::to_string(n) + ")" + name.substr(name.find('.'));
    };
    std::vector<std::string> folders;  // Docs and DOCS in the order the backup read them
    for (const auto& entry : fs::directory_iterator(source.path()))
        if (CompareIgnoringCase(entry.path().filename().string(), "docs") == 0)
            folders.push_back(entry.path().filename().string());
    ASSERT_EQ(folders.size(), 2u);
    const std::map<std::string, std::string> expected = {
        {"Case/" + read[0], "Case/" + read[0]},
        {"Case/" + numbered(read[1], 2), "Case/" + read[1]},
        {"Case/" + numbered(read[2], 3), "Case/" + read[2]},
        {"Odd_/why_.txt", "Odd?/why?.txt"},
        {folders[0] + "/a.txt", folders[0] + "/a.txt"},
        {folders[0] + "/a (2).txt", folders[1] + "/a.txt"},
        {folders[0] + "/In/b.txt", folders[0] + "/In/b.txt"},
        {folders[0] + "/In/b (2).txt", folders[1] + "/In/b.txt"},
    };

    std::string said;
    EXPECT_EQ(Corvane({"restore", QString::fromStdString(discs.path()), "--to", QString::fromStdString(exfat.path()),
                       "--overwrite", "no"},
                      &err, &said),
              0)
        << err;
    EXPECT_EQ(said, "Restored 8 files into " + exfat.path() + "\n");
    std::set<std::string> tree = {"Case", "Odd_", "Empty_", folders[0], folders[0] + "/In"};
    for (const auto& [restored, from] : expected) {
        tree.insert(restored);
        EXPECT_EQ(test::ReadWholeFile(exfat.path() + "/" + restored), "content of " + from) << restored;
    }
    EXPECT_EQ(test::TreeListing(exfat.path()), tree);
    for (const std::string& renamed : {"Case/" + numbered(read[1], 2), "Case/" + numbered(read[2], 3),
                                       std::string("Odd_"), std::string("Odd_/why_.txt"), std::string("Empty_"),
                                       folders[1] + "/a (2).txt", folders[1] + "/In/b (2).txt"})
        EXPECT_NE(err.find("was restored under another name, as " + exfat.path() + "/" + renamed + " ("),
                  std::string::npos)
            << renamed << "\n" << err;
}

TEST(RestoreCommand, AnUnknownCodePageIsAUsageErrorNamingTheKnownOnes) {
    test::ScratchFolder out;
    for (const QString& command : {QString("restore"), QString("list")}) {
        std::string err;
        QStringList args = {command, QString::fromStdString(out.path()), "--names", "latin-9"};
        if (command == "restore") args << "--to" << QString::fromStdString(out.path());
        EXPECT_EQ(Corvane(args, &err), 2);
        EXPECT_NE(err.find("windows-1250, windows-1251, windows-1252, cp932, utf-8"), std::string::npos) << err;
    }
}

// One damaged file of a folder costs that file alone: it is named once, counted once, and
// the summary counts files.
TEST(RestoreCommand, ADamagedFileIsNamedAndTheRestOfItsFolderComesBack) {
    test::ScratchFolder scratch;
    std::vector<test::SampleFile> files;
    for (int i = 1; i <= 8; ++i)
        files.push_back({"f" + std::to_string(i), test::SampleBytes(3000 * static_cast<std::size_t>(i), static_cast<std::uint32_t>(i))});
    files[0].damagedChunk = 0;
    const std::string disc = scratch.MakeFolder("disc");
    ASSERT_TRUE(test::WriteSampleStream(disc + "/DATA 2401010000 0.cvn", "\\Docs", "", files).ok());
    const std::string out = scratch.MakeFolder("out");

    std::string err, said;
    EXPECT_EQ(Corvane({"restore", QString::fromStdString(disc), "--to", QString::fromStdString(out)}, &err, &said), 1);
    std::set<std::string> expected = {"Docs"};
    for (int i = 2; i <= 8; ++i) {
        expected.insert("Docs/f" + std::to_string(i));
        EXPECT_EQ(test::ReadWholeFile(out + "/Docs/f" + std::to_string(i)), files[static_cast<std::size_t>(i - 1)].content);
    }
    EXPECT_EQ(test::TreeListing(out), expected);
    const std::string named = "not restored: Docs\\f1: There was an error extracting the file!";
    EXPECT_NE(err.find(named), std::string::npos) << err;
    EXPECT_EQ(err.find(named), err.rfind(named)) << "named once:\n" << err;
    EXPECT_NE(err.find("not everything was restored (1 problem); 7 files restored"), std::string::npos) << err;
    EXPECT_EQ(said, "");

    // Once more, keeping what is there: f1 is still named; nothing is written.
    EXPECT_EQ(Corvane({"restore", QString::fromStdString(disc), "--to", QString::fromStdString(out), "--overwrite", "no"},
                      &err, &said), 1);
    EXPECT_NE(err.find("(1 problem); 0 files restored"), std::string::npos) << err;
    fs::remove_all(out + "/Docs");
    files[0].damagedChunk = -1;
    ASSERT_TRUE(test::WriteSampleStream(disc + "/DATA 2401010000 0.cvn", "\\Docs", "", files).ok());
    EXPECT_EQ(Corvane({"restore", QString::fromStdString(disc), "--to", QString::fromStdString(out)}, &err, &said), 0);
    EXPECT_EQ(said, "Restored 8 files into " + out + "\n");
    EXPECT_EQ(Corvane({"restore", QString::fromStdString(disc), "--to", QString::fromStdString(out), "--overwrite", "no"},
                      &err, &said), 0);
    EXPECT_EQ(said, "No file was written into " + out + "\n");
}

}  // namespace
}  // namespace corvane
