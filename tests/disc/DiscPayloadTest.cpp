#include <gtest/gtest.h>

#include <filesystem>

#include "disc/DiscPayload.h"
#include "disc/DiscRecording.h"
#include "support/FaultyFileSystem.h"
#include "support/ScratchFolder.h"
#include "support/ScriptedDiscMaster.h"
#include "support/TestBackupHost.h"

namespace corvane {
namespace {

using test::Fault;

class DiscPayload : public ::testing::Test {
protected:
    std::string Temp(const std::string& name) { return host.tempFolder.path() + "/" + name; }

    test::TestBackupHost host;
    test::ScriptedDiscMaster disc;
    const std::string self = test::ReadWholeFile("/proc/self/exe");
};

// The totals after each 4096-byte piece of a file of `size` bytes, starting from `before`.
void AddPieces(std::vector<std::string>& counters, std::uint64_t& before, std::uint64_t size) {
    for (std::uint64_t done = 0; done < size;) {
        done = std::min<std::uint64_t>(done + 4096, size);
        counters.push_back(std::to_string(before + done) + " " + std::to_string(before + done));
    }
    before += size;
}

TEST_F(DiscPayload, StagesTheRunningProgramAndTheAutorunFile) {
    host.bytesRead = host.bytesWritten = 0;
    ASSERT_TRUE(StageSelfCopy(host, disc).ok());
    ASSERT_TRUE(StageAutorun(host, disc).ok());

    const test::DiscImage& image = disc.pendingImage();
    ASSERT_EQ(image.names(), (std::vector<std::string>{"corvane.exe", "autorun.inf"}));
    ASSERT_GT(self.size(), 4096u * 2);
    EXPECT_EQ(image.find("corvane.exe")->bytes.size(), self.size());
    EXPECT_TRUE(image.find("corvane.exe")->bytes == self);
    const std::string autorun = "[AutoRun]\r\nOPEN=corvane.exe\r\n";
    ASSERT_EQ(autorun.size(), 29u);
    EXPECT_EQ(image.find("autorun.inf")->bytes, autorun);
    EXPECT_EQ(test::ReadWholeFile(Temp("autorun.inf")), autorun);

    std::vector<std::string> counters;
    std::uint64_t total = 0;
    AddPieces(counters, total, self.size());
    AddPieces(counters, total, autorun.size());
    EXPECT_EQ(host.bytesRead, total);
    EXPECT_EQ(host.bytesWritten, total);
    EXPECT_EQ(host.Entries("ShowCounters "), counters);

    EXPECT_EQ(host.Entries("SetStatus "),
              (std::vector<std::string>{std::filesystem::read_symlink("/proc/self/exe").string(),
                                        Temp("autorun.inf")}));
    EXPECT_EQ(host.stagedFiles,
              (std::vector<std::string>{Temp("corvaneex.mcb"), Temp("autorun.inf"),
                                        Temp("autorun.mcb")}));
    const std::string temp = host.tempFolder.path();
    EXPECT_TRUE(std::filesystem::is_directory(temp));
    EXPECT_EQ(std::filesystem::path(temp).filename().string().rfind("corvane-", 0), 0u) << temp;
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(DiscPayload, CancelBetweenPiecesAddsNothingAndPrepareDiscGivesUp) {
    host.onLog = [this](const std::string& entry) {
        if (entry.starts_with("ShowCounters ")) host.cancelRequested = 1;
    };
    EXPECT_EQ(PrepareDisc(host, disc, disc.recorder(), disc), DiscStep::Cancelled);
    EXPECT_EQ(host.Entries("ShowCounters "), (std::vector<std::string>{"4096 4096"}));
    EXPECT_EQ(disc.log(), (std::vector<std::string>{"SetActiveDiscRecorder /dev/sr0",
                                                    "OpenExclusive", "QueryMediaType", "Close"}))
        << "no AddData";
    EXPECT_TRUE(disc.pendingImage().files.empty());
    EXPECT_EQ(host.stagedFiles, (std::vector<std::string>{Temp("corvaneex.mcb")}))
        << "a staging file is listed for deletion even when it is not used";
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.instantClock.sleeps.empty());
}

// The portable restorer beside the program goes on every disc with the script; without it each
// disc still gets the rest, and the user is told once that the discs will not carry it.
TEST(DiscPayloadRestorer, GoesOnEveryDiscOrIsMissedOnceWithoutStoppingTheBackup) {
    for (const bool present : {true, false}) {
        SCOPED_TRACE(present ? "restorer beside the program" : "no restorer");
        test::ScratchFolder bin;
        test::TestBackupHost host;
        test::ScriptedDiscMaster master;
        host.restorerMissingTold = false;
        host.programPath = bin.WriteFile("corvane", "#!program\n");
        if (present) bin.WriteFile("corvane-restore", test::SampleBytes(10000, 3));
        EXPECT_EQ(RestorerBeside(host.programPath), bin / "corvane-restore");
        for (int disc = 0; disc < 2; ++disc) {
            ASSERT_EQ(PrepareDisc(host, master, master.recorder(), master), DiscStep::Done);
            ASSERT_EQ(BurnDisc(host, master, master.recorder()), DiscStep::Done);
        }
        ASSERT_EQ(master.recordedDiscs().size(), 2u);
        for (const auto& image : master.recordedDiscs()) {
            if (present) {
                EXPECT_EQ(image.names(), (std::vector<std::string>{"corvane.exe", "autorun.inf",
                                                                   "corvane-restore", "autorun.sh"}));
                EXPECT_EQ(image.find("corvane-restore")->bytes, test::SampleBytes(10000, 3));
                EXPECT_TRUE(image.find("corvane-restore")->executable);
            } else {
                EXPECT_EQ(image.names(), (std::vector<std::string>{"corvane.exe", "autorun.inf", "autorun.sh"}));
            }
            EXPECT_EQ(image.find("autorun.sh")->bytes, kAutorunScript);
            EXPECT_TRUE(image.find("autorun.sh")->executable);
            EXPECT_FALSE(image.find("autorun.inf")->executable);
        }
        if (present) {
            EXPECT_TRUE(host.messages.empty());
        } else {
            ASSERT_EQ(host.messages.size(), 1u);
            EXPECT_NE(host.messages[0].text.find("the discs will not carry it"), std::string::npos);
            EXPECT_NE(host.messages[0].text.find(bin / "corvane-restore"), std::string::npos);
            EXPECT_EQ(host.messages[0].buttons, MessageButtons::Ok);
        }
    }
}

// A payload file that cannot be staged completely is never added: the user is told and
// PrepareDisc fails, which ends the backup as a failure with its cause on the status line.
TEST_F(DiscPayload, StagingFailuresAreReportedAndNothingPartialIsAdded) {
    struct Row {
        const char* name;
        Fault fault;  // not installed when it names no path
        const char* refusedByImage;
        const char* failedFile;
        std::vector<std::string> added;
    };
    using K = Fault::Kind;
    const Fault noFault{K::OpenRead, ""};
    const std::vector<std::string> none, exe = {"corvane.exe"};
    const Row rows[] = {
        {"staging file not created", {K::OpenWrite, "corvaneex.mcb"}, "", "corvane.exe", none},
        {"program cannot be opened", {K::OpenRead, "/proc/self/exe"}, "", "corvane.exe", none},
        {"program read fails part-way",
         {K::ReadAfter, "/proc/self/exe", 8192},
         "",
         "corvane.exe",
         none},
        {"staging file not completed", {K::Close, "corvaneex.mcb"}, "", "corvane.exe", none},
        {"image refuses the program", noFault, "corvane.exe", "corvane.exe", none},
        {"autorun file not created", {K::OpenWrite, "autorun.inf"}, "", "autorun.inf", exe},
        {"autorun staging write fails", {K::WriteAfter, "autorun.mcb", 10}, "", "autorun.inf", exe},
        {"image refuses the autorun file", noFault, "autorun.inf", "autorun.inf", exe},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::TestBackupHost fresh;
        test::ScriptedDiscMaster master;
        test::FaultyFileSystem files;
        fresh.files = &files;
        if (!row.fault.pathContains.empty()) files.Add(row.fault);
        if (*row.refusedByImage) master.RefuseName(row.refusedByImage);

        EXPECT_EQ(PrepareDisc(fresh, master, master.recorder(), master), DiscStep::Failed);
        ASSERT_EQ(fresh.messages.size(), 1u);
        EXPECT_TRUE(fresh.status.starts_with("Cannot put the program on the disc: ")) << fresh.status;
        EXPECT_EQ(fresh.failure, fresh.status);
        const std::string reported = std::string("Cannot put ") + row.failedFile + " on the disc.";
        EXPECT_TRUE(fresh.messages[0].text.starts_with(reported)) << fresh.messages[0].text;
        EXPECT_EQ(fresh.messages[0].caption, "Corvane");
        EXPECT_EQ(fresh.messages[0].icon, MessageIcon::Warning);
        EXPECT_EQ(master.pendingImage().names(), row.added);
        EXPECT_TRUE(fresh.instantClock.sleeps.empty());
    }
}

}  // namespace
}  // namespace corvane
