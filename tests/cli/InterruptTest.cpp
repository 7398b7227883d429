// Ctrl+C, kill and a closed terminal while the real program backs up or restores a tree of
// incompressible files: it stops, says so, exits non-zero and leaves no partial disc image,
// no partial restored file and nothing in its TMPDIR. Discs recorded in full before the
// signal stay (like a burnt disc, each is a complete, restorable part of the backup).

#include <gtest/gtest.h>
#include <sys/inotify.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>

#include "support/ProgramPayload.h"
#include "support/FolderWatch.h"
#include "support/PeerTools.h"
#include "support/RunningProgram.h"
#include "support/ScratchFolder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::FolderWatch;
using test::RunningProgram;
using test::ScratchFolder;

constexpr std::size_t kMiB = 1 << 20;
const std::vector<std::string> kNone;
constexpr std::size_t kBigSize = 20 * kMiB;  // the root's file: restored first, recorded on disc 1

std::string RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (std::size_t at = 0; at < size; at += 4) {
        const std::uint32_t word = random();
        for (std::size_t i = 0; i < 4 && at + i < size; ++i) bytes[at + i] = static_cast<char>(word >> (8 * i));
    }
    return bytes;
}

// Relative path -> content of every file below folder.
std::map<std::string, std::string> FilesBelow(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = test::ReadWholeFile(entry.path());
    return files;
}

// Every file in restored is whole and equal to the file of the same path in source.
void ExpectOnlyWholeFiles(const std::string& restored, const std::map<std::string, std::string>& source) {
    for (const auto& [path, content] : FilesBelow(restored)) {
        auto original = source.find(path);
        ASSERT_NE(original, source.end()) << path;
        EXPECT_TRUE(content == original->second) << path << ": " << content.size() << " of " << original->second.size() << " bytes";
    }
}

bool IsFinishedImage(const std::string& name) { return name.front() != '.' && name.ends_with(".iso"); }

// The source tree, its files, and one complete backup of it, made once for all tests.
struct Shared {
    ScratchFolder source, discs, tmp;
    std::map<std::string, std::string> files;
    std::string capacity;
    int backupStatus = -1;
    std::string backupOutput;

    Shared() {
        files = {{"big.bin", RandomBytes(kBigSize, 1)},
                 {"Folder A/one.bin", RandomBytes(6 * kMiB, 2)},
                 {"Folder A/two.bin", RandomBytes(6 * kMiB, 3)},
                 {"Folder B/Été/three.bin", RandomBytes(12 * kMiB, 4)}};
        for (const auto& [path, content] : files) source.WriteFile(path, content);
        // Disc 1 takes the root's stream, disc 2 Folder A, disc 3 the rest (each carries the program).
        capacity = std::to_string(test::ProgramPayloadSize() + 22 * kMiB);
        RunningProgram backup(BackupArgs(discs.path()), {tmp.path()});
        backupStatus = backup.Finish();
        backupOutput = backup.output();
    }

    std::vector<std::string> BackupArgs(const std::string& into, bool yes = true) const {
        std::vector<std::string> args = {"backup", source.path(), "--images", into, "--capacity", capacity};
        if (yes) args.push_back("--yes");
        return args;
    }
    std::vector<std::string> RestoreArgs(const std::string& images, const std::string& to) const {
        std::vector<std::string> args = {"restore"};
        for (const auto& name : test::FolderNames(images)) args.push_back(images + "/" + name);
        args.insert(args.end(), {"--to", to});
        return args;
    }
};

const Shared& Tree() {
    static const Shared shared;
    return shared;
}

// Pauses the program at the moment the test chose, sends the signal and lets it go on: the
// signal is then sure to arrive while what the test saw is still under way.
void Interrupt(const RunningProgram& program, int signal, const std::function<void()>& whilePaused) {
    program.Signal(SIGSTOP);
    whilePaused();
    program.Signal(signal);
    program.Signal(SIGCONT);
}

TEST(Interrupt, CompleteRunsLeaveNothingInTheirTemporaryFolder) {
    const Shared& tree = Tree();
    ASSERT_EQ(tree.backupStatus, 0) << tree.backupOutput;
    EXPECT_EQ(test::FolderNames(tree.discs.path()).size(), 3u) << tree.backupOutput;
    EXPECT_EQ(test::FolderNames(tree.tmp.path()), kNone) << "after the backup";

    ScratchFolder to, tmp;
    RunningProgram restore(tree.RestoreArgs(tree.discs.path(), to.path()), {tmp.path()});
    ASSERT_EQ(restore.Finish(), 0) << restore.output();
    EXPECT_TRUE(FilesBelow(to.path()) == tree.files);
    EXPECT_EQ(test::FolderNames(tmp.path()), kNone) << "after the restore";
}

TEST(Interrupt, BackupStopsCleanlyAndKeepsOnlyDiscsRecordedInFull) {
    const Shared& tree = Tree();
    enum class Moment { RecordingFirstDisc, AfterFirstDisc };
    struct Case {
        const char* what;
        int signal;
        Moment moment;
    } cases[] = {
        {"SIGINT while disc 1 is recorded", SIGINT, Moment::RecordingFirstDisc},
        {"SIGTERM while disc 1 is recorded", SIGTERM, Moment::RecordingFirstDisc},
        {"SIGHUP while disc 1 is recorded", SIGHUP, Moment::RecordingFirstDisc},
        {"SIGINT while disc 2 is filled", SIGINT, Moment::AfterFirstDisc},
        {"SIGTERM while disc 2 is filled", SIGTERM, Moment::AfterFirstDisc},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder discs, tmp;
        FolderWatch watch(discs.path());
        RunningProgram backup(tree.BackupArgs(discs.path()), {tmp.path()});
        if (c.moment == Moment::RecordingFirstDisc) {
            // The image is written under a hidden name and named when complete.
            const std::string partial = watch.WaitFor(IN_MODIFY, [](const std::string& name) { return name.front() == '.'; });
            ASSERT_FALSE(partial.empty()) << "no recording started";
            Interrupt(backup, c.signal, [&] { ASSERT_TRUE(fs::exists(discs / partial)) << "caught while recording"; });
        } else {
            ASSERT_FALSE(watch.WaitFor(IN_MOVED_TO | IN_CREATE, IsFinishedImage).empty()) << "no disc was recorded";
            Interrupt(backup, c.signal, [] {});
        }
        EXPECT_EQ(backup.Finish(), 1) << backup.output();
        EXPECT_NE(backup.output().find("cancelled by a signal"), std::string::npos) << backup.output();
        EXPECT_EQ(test::FolderNames(tmp.path()), kNone);
        EXPECT_EQ(test::HiddenFolders(discs.path()), kNone) << "the staging folders beside the images go too";

        const std::vector<std::string> kept = test::FolderNames(discs.path());
        if (c.moment == Moment::RecordingFirstDisc) {
            EXPECT_EQ(kept, kNone);
            continue;
        }
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_TRUE(IsFinishedImage(kept[0])) << kept[0];
        EXPECT_NE(backup.output().find("Wrote " + (discs / kept[0])), std::string::npos) << "the kept disc is named";
        // The kept disc is whole: its part of the backup restores identical. It was closed full,
        // so it says that another disc follows, and the restore names that disc as missing.
        ScratchFolder to;
        RunningProgram restore(tree.RestoreArgs(discs.path(), to.path()), {tmp.path()});
        ASSERT_EQ(restore.Finish(), 1) << restore.output();
        EXPECT_NE(restore.output().find("is not among the places given: the backup goes on after disc 1"),
                  std::string::npos)
            << restore.output();
        EXPECT_EQ(test::ReadWholeFile(to / "big.bin"), tree.files.at("big.bin"));
    }
}

TEST(Interrupt, RestoreStopsCleanlyAndRemovesTheFileItWasWriting) {
    const Shared& tree = Tree();
    ASSERT_EQ(tree.backupStatus, 0) << tree.backupOutput;
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(strsignal(signal));
        ScratchFolder to, tmp;
        FolderWatch watch(to.path());
        RunningProgram restore(tree.RestoreArgs(tree.discs.path(), to.path()), {tmp.path()});
        ASSERT_EQ(watch.WaitFor(IN_CREATE, [](const std::string& name) { return name == "big.bin"; }), "big.bin");
        Interrupt(restore, signal, [&] {
            std::error_code error;
            EXPECT_LT(fs::file_size(to / "big.bin", error), kBigSize) << "caught while being written";
        });
        EXPECT_EQ(restore.Finish(), 1) << restore.output();
        EXPECT_NE(restore.output().find("cancelled"), std::string::npos) << restore.output();
        EXPECT_FALSE(fs::exists(to / "big.bin")) << "the partial file is removed";
        ExpectOnlyWholeFiles(to.path(), tree.files);
        EXPECT_EQ(test::FolderNames(tmp.path()), kNone);
    }
}

// Without --yes the questions are asked on the terminal; an answer or a Ctrl+C typed there
// stops the backup as cleanly as a signal from elsewhere.
TEST(Interrupt, QuestionsOnTheTerminalCanBeRefusedOrInterrupted) {
    const Shared& tree = Tree();
    struct Case {
        const char* what;
        bool atSecondDisc;  // else at the confirmation
        const char* typed;
        int discsKept;
        const char* says;
    } cases[] = {
        {"Ctrl+C at the confirmation", false, "\x03", 0, "cancelled by a signal"},
        {"Cancel at 'insert another disc'", true, "c\n", 1, "cancelled"},
        {"Ctrl+C at 'insert another disc'", true, "\x03", 1, "cancelled by a signal"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder discs, tmp;
        RunningProgram backup(tree.BackupArgs(discs.path(), /*yes=*/false), {tmp.path(), /*terminal=*/true});
        ASSERT_TRUE(backup.WaitForOutput("[y/N]")) << backup.output();
        if (c.atSecondDisc) {
            backup.Type("y\n");
            ASSERT_TRUE(backup.WaitForOutput("Please insert another disc [r]etry or [C]ancel:")) << backup.output();
        }
        backup.Type(c.typed);
        EXPECT_EQ(backup.Finish(), 1) << backup.output();
        EXPECT_NE(backup.output().find(c.says), std::string::npos) << backup.output();
        EXPECT_EQ(test::FolderNames(discs.path()).size(), static_cast<std::size_t>(c.discsKept));
        for (const auto& name : test::FolderNames(discs.path())) EXPECT_TRUE(IsFinishedImage(name)) << name;
        EXPECT_EQ(test::FolderNames(tmp.path()), kNone);
    }
}

}  // namespace
}  // namespace corvane
