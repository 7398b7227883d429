// Every way a backup can go wrong, one row each, over a real source tree: what the user is
// told, what the recorded discs give back, and the job's outcome. No row may end in success
// for work that was not done, and no staged stream may be left behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>

#include "JobRig.h"
#include "disc/DiscRecording.h"
#include "support/FaultyFileSystem.h"
#include "support/TestNames.h"

namespace corvane {
namespace {

using test::Fault;
using test::JobRig;

constexpr const char* kInsertAnother = "Please insert another disc";
constexpr const char* kInsertBlank = "Please insert a blank writeable disc";
constexpr const char* kRecordingFailed = "Error writing disc! Scripted failure of RecordDisc 0 1";
constexpr const char* kUnrestorable = "its name could not be restored (a control character or a drive designator)";

// In expected texts "%S" stands for the source folder, "%T" for the job's private folder and
// "%P" for the program.
std::string Expand(std::string text, const JobRig& rig, const std::string& staging = {}) {
    for (auto [key, value] : {std::pair{"%S", rig.source.path()}, {"%T", staging}, {"%P", rig.host.programPath}})
        for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, 2, value);
    return text;
}

std::string LeftOutReport(const std::string& line) {
    return "The backup was recorded, but 1 item was left out:\n\n" + line;
}

// Presses Cancel when the host logs this entry.
void CancelAt(JobRig& rig, const std::string& entry) {
    rig.host.onLog = [&rig, entry](const std::string& logged) {
        if (logged == Expand(entry, rig)) rig.host.cancelRequested = 1;
    };
}

// The disc turns out to be full when the stream of A/Sub is added.
void DiscFullAtSub(JobRig& rig) {
    rig.host.onLog = [&rig](const std::string& logged) {
        if (logged == Expand("SetStatus %S/A/Sub", rig)) rig.master->Fail("AddData", 1, Status::Code::NoSpace);
    };
}

// Runs change on the source folder right after the archiver (not the measuring) lists it.
void AfterArchiverLists(JobRig& rig, test::FaultyFileSystem& files, std::string folder, std::function<void()> change) {
    files.afterListing = [&rig, folder, change, listings = 0](const std::string& listed) mutable {
        if (listed == Expand(folder, rig) && ++listings == 2) change();
    };
}

struct BackupFault {
    const char* what;
    std::function<void(JobRig&, test::FaultyFileSystem&)> arrange;
    BackupOutcome outcome;
    std::string status;
    std::vector<std::string> messages;  // after the confirmation
    std::set<std::string> stored;       // files the recorded discs give back, as they are now
    std::size_t discs;                  // discs recorded
    std::size_t pendingStreams = 0;     // streams added to the disc that was never recorded
};

void PrintTo(const BackupFault& row, std::ostream* os) { *os << row.what; }

class BackupFaultMatrix : public ::testing::TestWithParam<BackupFault> {};

TEST_P(BackupFaultMatrix, TellsTheUserKeepsWhatWasDoneAndNeverClaimsMore) {
    const BackupFault& row = GetParam();
    JobRig rig;
    rig.source.WriteFile("top.txt", test::SampleBytes(3000, 1));
    rig.source.WriteFile("A/a1.bin", test::SampleBytes(9000, 2));
    rig.source.WriteFile("A/Sub/deep.bin", test::SampleBytes(4097, 3));
    test::FaultyFileSystem files;
    rig.host.files = &files;
    row.arrange(rig, files);
    std::string staging;  // the job's private folder, gone once the job ends
    rig.host.onLog = [&, rowHook = rig.host.onLog](const std::string& entry) {
        if (!rig.host.tempFolder.path().empty()) staging = rig.host.tempFolder.path();
        if (rowHook) rowHook(entry);
    };

    EXPECT_EQ(rig.Run(), row.outcome);
    EXPECT_EQ(rig.host.status, Expand(row.status, rig));
    const auto statuses = rig.host.Entries("SetStatus ");
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Completed Successfully!"),
              row.outcome == BackupOutcome::Completed ? 1 : 0)
        << "said once, at the end, and only when everything was stored";
    ASSERT_FALSE(rig.host.messages.empty());
    std::vector<std::string> messages;
    for (std::size_t i = 1; i < rig.host.messages.size(); ++i) messages.push_back(rig.host.messages[i].text);
    std::vector<std::string> expected;
    for (const auto& text : row.messages) expected.push_back(Expand(text, rig, staging));
    EXPECT_EQ(messages, expected);

    EXPECT_EQ(rig.master->recordedDiscs().size(), row.discs);
    std::map<std::string, std::string> now;
    for (const auto& path : row.stored) now[path] = test::ReadWholeFile(rig.source / path);
    EXPECT_EQ(rig.StoredFiles(), now);
    std::size_t pending = 0;
    StreamNameParts parts;
    for (const auto& file : rig.master->pendingImage().files) pending += ParseStreamName(file.name, parts);
    EXPECT_EQ(pending, row.pendingStreams) << "only whole streams reach a disc";

    EXPECT_TRUE(staging.empty() || !std::filesystem::exists(staging)) << "staging folder left behind: " << staging;
    EXPECT_TRUE(rig.host.inputsEnabled);
    EXPECT_EQ(rig.host.idle.load(), 1);
    EXPECT_EQ(rig.host.waitCursorDepth, 0);
}

using Kind = Fault::Kind;
const std::set<std::string> kEverything = {"top.txt", "A/a1.bin", "A/Sub/deep.bin"};

INSTANTIATE_TEST_SUITE_P(
    Rows, BackupFaultMatrix,
    ::testing::Values(
        // --- the source ---
        BackupFault{"source file unreadable",
                    [](JobRig&, test::FaultyFileSystem& f) { f.Add({Kind::OpenRead, "a1.bin"}); },
                    BackupOutcome::Incomplete, "Completed, 1 left out",
                    {LeftOutReport("%S/A/a1.bin: Injected fault on %S/A/a1.bin")},
                    {"top.txt", "A/Sub/deep.bin"}, 1},
        // Large enough that the record already left the writer's buffer when the read fails.
        BackupFault{"read error in the middle of a large file",
                    [](JobRig& r, test::FaultyFileSystem& f) {
                        r.source.WriteFile("A/big.bin", test::SampleBytes(3 << 20, 4));
                        f.Add({Kind::ReadAfter, "big.bin", 2 << 20});
                    },
                    BackupOutcome::Incomplete, "Completed, 1 left out",
                    {LeftOutReport("%S/A/big.bin: Injected fault on %S/A/big.bin")}, kEverything, 1},
        BackupFault{"file vanishes after its folder was listed",
                    [](JobRig& r, test::FaultyFileSystem& f) {
                        AfterArchiverLists(r, f, "%S/A", [&r] { std::filesystem::remove(r.source / "A/a1.bin"); });
                    },
                    BackupOutcome::Incomplete, "Completed, 1 left out",
                    {LeftOutReport("%S/A/a1.bin: Cannot open %S/A/a1.bin: No such file or directory")},
                    {"top.txt", "A/Sub/deep.bin"}, 1},
        BackupFault{"file shrinks after its folder was listed",
                    [](JobRig& r, test::FaultyFileSystem& f) {
                        AfterArchiverLists(r, f, "%S/A", [&r] { std::filesystem::resize_file(r.source / "A/a1.bin", 100); });
                    },
                    BackupOutcome::Completed, "Completed Successfully!", {}, kEverything, 1},
        BackupFault{"file grows after its folder was listed",
                    [](JobRig& r, test::FaultyFileSystem& f) {
                        AfterArchiverLists(r, f, "%S/A", [&r] {
                            r.source.WriteFile("A/a1.bin", test::SampleBytes(9000, 2) + test::SampleBytes(70000, 5));
                        });
                    },
                    BackupOutcome::Completed, "Completed Successfully!", {}, kEverything, 1},
        BackupFault{"folder cannot be listed",
                    [](JobRig&, test::FaultyFileSystem& f) { f.Add({Kind::List, "/A"}); },
                    BackupOutcome::Incomplete, "Completed, 1 left out",
                    {LeftOutReport("%S/A: Injected fault on %S/A")}, {"top.txt"}, 1},
        // Restore refuses such names, so storing them would promise what cannot be kept; the
        // report shows the control character as '?', so it never reaches a terminal raw.
        BackupFault{"file name with a control character",
                    [](JobRig& r, test::FaultyFileSystem&) { r.source.WriteFile("A/tab\there", "x"); },
                    BackupOutcome::Incomplete, "Completed, 1 left out",
                    {LeftOutReport("%S/A/tab?here: " + std::string(kUnrestorable))}, kEverything, 1},
        BackupFault{"file name with a terminal escape sequence",
                    [](JobRig& r, test::FaultyFileSystem&) { r.source.WriteFile("A/\x1b]0;owned\x07\x1b[2J", "x"); },
                    BackupOutcome::Incomplete, "Completed, 1 left out",
                    {LeftOutReport("%S/A/?]0;owned??[2J: " + std::string(kUnrestorable))}, kEverything, 1},
        BackupFault{"file named like a drive",
                    [](JobRig& r, test::FaultyFileSystem&) { r.source.WriteFile("C:notes", "x"); },
                    BackupOutcome::Incomplete, "Completed, 1 left out",
                    {LeftOutReport("%S/C:notes: " + std::string(kUnrestorable))}, kEverything, 1},
        BackupFault{"top folder named like a drive",
                    [](JobRig& r, test::FaultyFileSystem&) {
                        r.source.WriteFile("C:x/inside", "x");
                        r.source.WriteFile("A/C:deep/kept", "a colon deeper down is no drive designator");
                    },
                    BackupOutcome::Incomplete, "Completed, 1 left out",
                    {LeftOutReport("%S/C:x: " + std::string(kUnrestorable))},
                    {"top.txt", "A/a1.bin", "A/Sub/deep.bin", "A/C:deep/kept"}, 1},
        BackupFault{"staging area full",
                    [](JobRig&, test::FaultyFileSystem& f) {
                        f.Add({Kind::WriteAfter, "corvane.mcb", 0, Status::Code::NoSpace});
                    },
                    BackupOutcome::Failed, "Error writing disc!",
                    {"The backup cannot go on: Injected fault on %T/corvane.mcb"}, {}, 0},

        BackupFault{"program cannot be staged for the disc",
                    [](JobRig&, test::FaultyFileSystem& f) { f.Add({Kind::OpenRead, "/program"}); },
                    BackupOutcome::Failed, "Cannot put the program on the disc: Injected fault on %P",
                    {"Cannot put corvane.exe on the disc.\nInjected fault on %P"}, {}, 0},

        // --- the disc fills up ---
        BackupFault{"disc full in the middle of the tree, next disc",
                    [](JobRig& r, test::FaultyFileSystem&) { DiscFullAtSub(r); },
                    BackupOutcome::Completed, "Completed Successfully!", {kInsertAnother}, kEverything, 2},
        BackupFault{"disc full in the middle of the tree, Cancel at the next disc",
                    [](JobRig& r, test::FaultyFileSystem&) {
                        DiscFullAtSub(r);
                        r.host.answers.push_back(MessageAnswer::Cancel);
                    },
                    BackupOutcome::Cancelled, "Cancelled", {kInsertAnother}, {"top.txt", "A/a1.bin"}, 1},

        // --- the recorder ---
        BackupFault{"recorder cannot be opened, Cancel",
                    [](JobRig& r, test::FaultyFileSystem&) {
                        r.master->Fail("OpenExclusive");
                        r.host.answers.push_back(MessageAnswer::Cancel);
                    },
                    BackupOutcome::Cancelled, "Cancelled", {kInsertBlank}, {}, 0},
        BackupFault{"medium not writable, Retry with a blank one",
                    [](JobRig& r, test::FaultyFileSystem&) { r.master->QueueMedia(0); },
                    BackupOutcome::Completed, "Completed Successfully!", {kInsertBlank}, kEverything, 1},
        BackupFault{"recording of the last disc fails",
                    [](JobRig& r, test::FaultyFileSystem&) { r.master->Fail("RecordDisc", kRecordingAttempts); },
                    BackupOutcome::Failed, kRecordingFailed, {kRecordingFailed}, {}, 0, 3},
        BackupFault{"recording of a full disc fails",
                    [](JobRig& r, test::FaultyFileSystem&) {
                        DiscFullAtSub(r);
                        r.master->Fail("RecordDisc", kRecordingAttempts);
                    },
                    BackupOutcome::Failed, kRecordingFailed, {kRecordingFailed}, {}, 0, 2},
        BackupFault{"recording cancelled",
                    [](JobRig& r, test::FaultyFileSystem&) { CancelAt(r, "SetStatus Burning The Disc..."); },
                    BackupOutcome::Cancelled, "Cancelled", {}, {}, 0, 3},

        // --- Cancel at every stage ---
        BackupFault{"Cancel before the first stream",
                    [](JobRig& r, test::FaultyFileSystem&) { CancelAt(r, "SetStatus Accessing disc burner..."); },
                    BackupOutcome::Cancelled, "Cancelled", {}, {}, 0, 0},
        BackupFault{"Cancel in the middle of a file",
                    [](JobRig& r, test::FaultyFileSystem&) {
                        r.source.WriteFile("A/big.bin", test::SampleBytes(3 << 20, 4));
                        r.host.onLog = [&r](const std::string& logged) {
                            if (logged.starts_with("ShowCounters ") && r.host.bytesRead > (1 << 20)) r.host.cancelRequested = 1;
                        };
                    },
                    BackupOutcome::Cancelled, "Cancelled", {}, {}, 0, 1},
        BackupFault{"Cancel between folders",
                    [](JobRig& r, test::FaultyFileSystem&) { CancelAt(r, "SetStatus %S/A/Sub"); },
                    BackupOutcome::Cancelled, "Cancelled", {}, {}, 0, 2}),
    [](const ::testing::TestParamInfo<BackupFault>& row) { return test::TestNameOf(row.param.what); });

}  // namespace
}  // namespace corvane
