// The command line as a user runs it: the real program backs up a generated tree onto
// image-file discs small enough to need several; xorriso, a peer ISO reader, takes the files
// back out of every image and the project's stream reader decodes them.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QProcess>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>

#include "archive/StreamFormat.h"
#include "disc/ImageFileSystem.h"
#include "support/ProgramPayload.h"
#include "support/PeerTools.h"
#include "support/ScratchFolder.h"
#include "support/StreamTestUtil.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

ProgramRun Corvane(const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(QStringLiteral(CORVANE_BINARY_PATH), args);
    process.closeWriteChannel();  // no terminal to answer questions
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

std::map<std::string, std::string> MakeTree(const test::ScratchFolder& dir) {
    std::map<std::string, std::string> files = {
        {"readme.txt", "hello"},
        {"empty.txt", ""},
        {"Docs/a-4095.bin", test::SampleBytes(4095, 1)},
        {"Docs/b-4096.bin", test::SampleBytes(4096, 2)},
        {"Docs/c-4097.bin", test::SampleBytes(4097, 3)},
        {"Docs/Été 2008/rapport annuel.txt", test::SampleBytes(300000, 4)},
        {"Music/Übung.ogg", test::SampleBytes(400000, 5)},
        {"Deep/a/b/c/d/bottom.txt", "bottom"},
        {"Video/holiday.mp4", test::SampleBytes(350000, 6)},
    };
    for (const auto& [path, content] : files) dir.WriteFile(path, content);
    dir.MakeFolder("Empty Folder");
    return files;
}

TEST(BackupCommand, SpansImageDiscsAndEveryFileComesBackThroughAPeerReader) {
    test::ScratchFolder source, discs, out;
    const auto files = MakeTree(source);
    // Each disc carries the programs; leave room for them and one large folder and the image's own overhead (about 66 KiB).
    const auto program = test::ProgramPayloadSize();
    const std::string capacity = std::to_string(program + 290000);

    ProgramRun run = Corvane({"backup", QString::fromStdString(source.path()), "--images",
                       QString::fromStdString(discs.path()), "--capacity", QString::fromStdString(capacity), "--yes"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;

    std::vector<std::string> images;
    for (const auto& entry : fs::directory_iterator(discs.path())) images.push_back(entry.path().string());
    std::sort(images.begin(), images.end());
    ASSERT_GE(images.size(), 3u) << run.out;

    std::map<long long, test::ReadBack> streams;
    for (std::size_t i = 0; i < images.size(); ++i) {
        EXPECT_NE(images[i].find("disc 0" + std::to_string(i + 1) + ".iso"), std::string::npos) << images[i];
        const std::string into = out.MakeFolder("disc" + std::to_string(i));
        test::FilePrints prints = test::ExtractWithXorriso(images[i], into);
        ASSERT_TRUE(prints.count("corvane.exe")) << images[i];
        EXPECT_EQ(test::ReadWholeFile(into + "/corvane.exe"), test::ReadWholeFile(CORVANE_BINARY_PATH));
        EXPECT_EQ(test::ReadWholeFile(into + "/autorun.inf"), "[AutoRun]\r\nOPEN=corvane.exe\r\n");
        for (const auto& [name, print] : prints) {
            StreamNameParts parts;
            if (!ParseStreamName(name, parts)) continue;
            EXPECT_EQ(parts.label, fs::path(source.path()).filename().string());
            EXPECT_TRUE(streams.emplace(parts.sequence, test::ReadBack{}).second) << "sequence repeated: " << name;
            ASSERT_TRUE(test::ReadSampleStream(into + "/" + name, streams[parts.sequence]).ok()) << name;
        }
    }

    // Numbers run 0, 1, 2, ... across discs without gap; a folder comes before its sub-folders.
    std::map<std::string, std::string> restored;
    long long expected = 0;
    std::vector<std::string> order;
    for (const auto& [sequence, stream] : streams) {
        EXPECT_EQ(sequence, expected++);
        order.push_back(stream.header.folderPath);
        std::string prefix = stream.header.folderPath.substr(1);
        std::replace(prefix.begin(), prefix.end(), '\\', '/');
        for (const auto& f : stream.files) restored[prefix.empty() ? f.name : prefix + "/" + f.name] = f.content;
    }
    EXPECT_EQ(test::Prints(restored), test::Prints(files));
    auto at = [&](const std::string& f) { return std::find(order.begin(), order.end(), f) - order.begin(); };
    for (const char* deeper : {"\\Deep\\a", "\\Deep\\a\\b", "\\Deep\\a\\b\\c", "\\Deep\\a\\b\\c\\d"})
        EXPECT_EQ(at(deeper), at(std::string(deeper).substr(0, std::string(deeper).rfind('\\'))) + 1) << deeper;
    EXPECT_NE(std::find(order.begin(), order.end(), "\\Empty Folder"), order.end());
}

// Links and special files in a real tree, backed up by the program: each is named with its
// reason, a name with a terminal escape sequence is shown with '?', nothing outside the source
// reaches the disc, and the command exits 1.
TEST(BackupCommand, NamesWhatItLeavesOutSafelyAndExitsOne) {
    test::ScratchFolder source, discs, outside, out;
    source.WriteFile("kept.txt", "kept");
    fs::create_symlink(outside.WriteFile("secret.txt", "OUTSIDE-SECRET"), source / "to-secret");
    fs::create_symlink("/proc/self/environ", source / "to-environ");
    ASSERT_EQ(::mkfifo((source / "pipe").c_str(), 0644), 0);
    source.WriteFile("\x1B]2;owned\x07title", "x");

    ProgramRun run = Corvane({"backup", QString::fromStdString(source.path()), "--images",
                              QString::fromStdString(discs.path()), "--yes"});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    const std::string all = run.out + run.err;
    EXPECT_EQ(all.find('\x1B'), std::string::npos) << "an escape sequence reached the terminal";
    for (const std::string& line : {source.path() + "/to-secret: it is a link that leads outside the source",
                                    source.path() + "/to-environ: it is a link that leads outside the source",
                                    source.path() + "/pipe: it is a FIFO (named pipe)",
                                    source.path() + "/?]2;owned?title: its name could not be restored"})
        EXPECT_NE(all.find(line), std::string::npos) << line << "\n" << all;
    EXPECT_NE(run.err.find("not everything was backed up (4 left out)"), std::string::npos) << run.err;

    std::vector<std::string> images;
    for (const auto& entry : fs::directory_iterator(discs.path())) images.push_back(entry.path());
    ASSERT_EQ(images.size(), 1u);
    std::map<std::string, std::string> stored;
    for (const auto& [name, print] : test::ExtractWithXorriso(images[0], out.path())) {
        StreamNameParts parts;
        test::ReadBack stream;
        if (!ParseStreamName(name, parts)) continue;
        ASSERT_TRUE(test::ReadSampleStream(out.path() + "/" + name, stream).ok()) << name;
        for (const auto& f : stream.files) stored[f.name] = f.content;
    }
    EXPECT_EQ(stored, (std::map<std::string, std::string>{{"kept.txt", "kept"}}));
}

std::vector<std::string> SortedImages(const std::string& folder) {
    std::vector<std::string> images;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".iso") images.push_back(entry.path().string());
    std::sort(images.begin(), images.end());
    return images;
}

// Every "insert another disc" asks for a new disc, so --yes takes a backup over as many discs
// as it needs; success is said once, at the end.
TEST(BackupCommand, YesGoesOnOverTwentyDiscs) {
    test::ScratchFolder source, discs;
    constexpr int kFolders = 22;
    std::mt19937 random(7);
    for (int i = 0; i < kFolders; ++i) {
        std::string bytes(40000, '\0');
        for (char& byte : bytes) byte = static_cast<char>(random());
        source.WriteFile("Folder " + std::to_string(i) + "/data.bin", bytes);  // no compression helps
    }
    // Room for the program and one folder's stream on each disc, not for two.
    const std::uint64_t capacity = test::ProgramPayloadSize() + 140000;
    ProgramRun run = Corvane({"backup", QString::fromStdString(source.path()), "--images",
                              QString::fromStdString(discs.path()), "--capacity", QString::number(capacity), "--yes"});
    ASSERT_EQ(run.exitCode, 0) << run.err;

    const std::vector<std::string> images = SortedImages(discs.path());
    ASSERT_GE(images.size(), 20u);
    ImageFileSystem reader(DefaultFileSystem());
    std::vector<long long> sequences;
    for (std::size_t i = 0; i < images.size(); ++i) {
        char number[24];
        std::snprintf(number, sizeof number, "%02zu", i + 1);
        EXPECT_TRUE(images[i].ends_with(std::string(" disc ") + number + ".iso")) << images[i];
        EXPECT_LE(fs::file_size(images[i]), capacity) << images[i];
        std::vector<FolderEntry> entries;
        ASSERT_TRUE(reader.ListFolder(images[i], entries).ok()) << images[i];
        StreamNameParts parts;
        for (const auto& entry : entries)
            if (ParseStreamName(entry.name, parts)) sequences.push_back(parts.sequence);
    }
    std::sort(sequences.begin(), sequences.end());
    std::vector<long long> expected(kFolders + 1);  // the root's stream, then each folder's
    for (int i = 0; i <= kFolders; ++i) expected[i] = i;
    EXPECT_EQ(sequences, expected);
    std::size_t successes = 0;
    for (std::size_t at = 0; (at = run.out.find("Completed Successfully!", at)) != std::string::npos; ++at) ++successes;
    EXPECT_EQ(successes, 1u) << run.out;
}

// Named capacities in any case, and byte counts with a suffix in either case.
TEST(BackupCommand, CapacitiesAreUnderstoodInAnyCase) {
    test::ScratchFolder source;
    source.WriteFile("a.txt", "a");
    for (const char* capacity : {"CD", "cd", "Dvd-Dl", "BD", "2g", "2G", "700m"}) {
        test::ScratchFolder discs;
        ProgramRun run = Corvane({"backup", QString::fromStdString(source.path()), "--images",
                                  QString::fromStdString(discs.path()), "--capacity", capacity, "--yes"});
        EXPECT_EQ(run.exitCode, 0) << capacity << "\n" << run.err;
        EXPECT_EQ(SortedImages(discs.path()).size(), 1u) << capacity;
    }
}

// A second backup of one source in the same minute would share the first one's name: it is
// refused before anything is written, says why, and the command fails.
TEST(BackupCommand, ASecondBackupInTheSameMinuteIsRefused) {
    test::ScratchFolder source;
    source.WriteFile("a.txt", "a");
    for (int attempt = 0; attempt < 3; ++attempt) {
        test::ScratchFolder discs;
        const QStringList args = {"backup", QString::fromStdString(source.path()), "--images",
                                  QString::fromStdString(discs.path()), "--capacity", "cd", "--yes"};
        ASSERT_EQ(Corvane(args).exitCode, 0);
        ProgramRun second = Corvane(args);
        if (SortedImages(discs.path()).size() == 2) continue;  // the minute turned between the runs
        EXPECT_EQ(second.exitCode, 1);
        EXPECT_NE(second.err.find("already holds discs of the backup"), std::string::npos) << second.err;
        EXPECT_NE(second.err.find("the backup failed: The folder " + discs.path()), std::string::npos) << second.err;
        return;
    }
    FAIL() << "the minute turned during every attempt";
}

TEST(BackupCommand, RefusesBadArgumentsAndNeverWaitsWithoutATerminal) {
    test::ScratchFolder source, discs, passwords;
    source.WriteFile("a.txt", "a");
    const QString src = QString::fromStdString(source.path());
    const QString dir = QString::fromStdString(discs.path());
    auto passwordFile = [&](const char* name, std::string_view content) {
        return QString::fromStdString(passwords.WriteFile(name, content));
    };
    struct Case {
        const char* what;
        QStringList args;
        int exitCode;
        std::string says;
    } cases[] = {
        {"no destination", {"backup", src}, 2, "either --recorder or --images"},
        {"both destinations", {"backup", src, "--images", dir, "--recorder", "/dev/sr0"}, 2, "either"},
        {"bad capacity", {"backup", src, "--images", dir, "--capacity", "12X"}, 2, "capacity"},
        {"unknown option", {"backup", src, "--images", dir, "--fast"}, 2, "unknown option"},
        {"missing source", {"backup", src + "/nope", "--images", dir}, 1, "not a folder"},
        {"not a recorder", {"backup", src, "--recorder", "/dev/null"}, 1, "not a disc recorder"},
        {"no terminal, no --yes", {"backup", src, "--images", dir}, 1, "cancelled"},
        // A password file that gives no password would make an unprotected backup unasked;
        // one that restore could not type back, a backup that cannot be opened.
        {"missing password file", {"backup", src, "--images", dir, "--yes", "--password-file", dir + "/none"}, 2,
         "cannot read the password file"},
        {"empty password file", {"backup", src, "--images", dir, "--yes", "--password-file", passwordFile("empty", "")}, 2,
         "is empty"},
        {"blank first line",
         {"backup", src, "--images", dir, "--yes", "--password-file", passwordFile("blank", " \t\r\nS3CRET\n")}, 2,
         "first line of the password file " + passwords.path() + "/blank is blank"},
        {"password file is a folder",
         {"backup", src, "--images", dir, "--yes", "--password-file", QString::fromStdString(passwords.MakeFolder("folder"))}, 2,
         "is a folder"},
        {"password not UTF-8",
         {"backup", src, "--images", dir, "--yes", "--password-file", passwordFile("latin", "\xE9t\xE9\n")}, 2,
         "the password is not UTF-8 text, so it could not be typed to restore the backup"},
        {"password with a control character",
         {"backup", src, "--images", dir, "--yes", "--password-file", passwordFile("control", "a\x1B[2Jb\n")}, 2,
         "the password holds a control character"},
        {"password with a NUL",
         {"backup", src, "--images", dir, "--yes", "--password-file", passwordFile("nul", std::string_view("ab\0cd\n", 6))}, 2,
         "the password holds a control character"},
    };
    for (const auto& c : cases) {
        ProgramRun run = Corvane(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what << "\n" << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << c.what << "\n" << run.err;
    }
    EXPECT_TRUE(fs::is_empty(discs.path())) << "nothing was written";

    ProgramRun help = Corvane({"backup", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--capacity SIZE"), std::string::npos);
    ProgramRun top = Corvane({"--help"});
    EXPECT_NE(top.out.find("backup"), std::string::npos);
}

// A file whose size reads as 0 but holds data, as files of /proc and of phones and cameras
// mounted through FUSE do: it is stored with everything it holds, as a plain success. A /proc
// file is bound into the source where the test may mount; elsewhere the test is skipped.
TEST(BackupCommand, AFileThatSaysItIsEmptyIsStoredWithWhatItHolds) {
    test::ScratchFolder source, discs, out;
    const std::string bound = source.WriteFile("version", "");
    if (std::system(("mount --bind /proc/version '" + bound + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "cannot bind a /proc file here (needs the right to mount)";
    // Unbound however the test ends, so that its folder can be removed.
    const std::unique_ptr<const std::string, void (*)(const std::string*)> unbind(
        &bound, [](const std::string* path) { std::system(("umount '" + *path + "' 2>/dev/null").c_str()); });
    struct stat info {};
    ASSERT_EQ(::stat(bound.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0) << "the file says it is empty";
    const std::string content = test::ReadWholeFile("/proc/version");
    ASSERT_FALSE(content.empty());
    const ProgramRun backup =
        Corvane({"backup", QString::fromStdString(source.path()), "--images", QString::fromStdString(discs.path()), "--yes"});
    EXPECT_EQ(backup.exitCode, 0) << backup.err;
    EXPECT_EQ(backup.err.find("changed while it was read"), std::string::npos) << backup.err;
    const ProgramRun restore =
        Corvane({"restore", QString::fromStdString(discs.path()), "--to", QString::fromStdString(out.path())});
    EXPECT_EQ(restore.exitCode, 0) << restore.err;
    EXPECT_EQ(test::ReadWholeFile(out / "version"), content);
}

}  // namespace
}  // namespace corvane
