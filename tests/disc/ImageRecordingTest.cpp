#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "DiscMasterFixture.h"
#include "support/PeerTools.h"
#include "support/ScopedTmpdir.h"

namespace corvane::test {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
const std::string kAutorun = "[AutoRun]\r\nOPEN=corvane.exe\r\n";

std::uint64_t FileSize(const std::string& path) { return std::filesystem::file_size(path); }

using DiscRecording = DiscMasterFixture;

TEST_F(DiscRecording, SpansDiscsThatPeersReadBackWhole) {
    Start(kMiB);
    const std::map<std::string, std::string> payload = {{"corvane.exe", SampleBytes(40000, 1)},
                                                        {"autorun.inf", kAutorun}};
    std::vector<std::map<std::string, std::string>> discs(1, payload);
    std::vector<bool> endedFull;
    auto addPayload = [&] {
        for (const auto& [name, bytes] : payload) ASSERT_TRUE(Add(name, bytes).ok()) << name;
    };
    addPayload();
    for (int sequence = 0; sequence < 24; ++sequence) {
        std::string name = "DATA 0812251430 " + std::to_string(sequence) + ".cvn";
        std::string bytes = SampleBytes((sequence * 48271u) % 150000, sequence + 7);
        Status added = Add(name, bytes);
        if (added.code() == Status::Code::NoSpace) {
            ASSERT_TRUE(master->RecordDisc(false, true).ok());
            endedFull.push_back(true);
            discs.push_back(payload);
            addPayload();
            added = Add(name, bytes);
        }
        ASSERT_TRUE(added.ok()) << added.message();
        discs.back()[name] = bytes;
    }
    ASSERT_TRUE(master->RecordDisc(false, true).ok());
    endedFull.push_back(false);
    EXPECT_EQ(HiddenFolders(imageFolder), std::vector<std::string>{})
        << "a disc's staging area goes once the disc is recorded";

    ASSERT_GE(discs.size(), 2u);
    std::vector<std::string> expectedFiles;
    for (std::size_t i = 0; i < discs.size(); ++i)
        expectedFiles.push_back("DATA 0812251430 disc 0" + std::to_string(i + 1) + ".iso");
    ASSERT_EQ(FolderNames(imageFolder), expectedFiles);

    for (std::size_t i = 0; i < discs.size(); ++i) {
        std::string image = Image(expectedFiles[i]);
        EXPECT_LE(FileSize(image), kMiB) << image;
        if (endedFull[i]) {
            EXPECT_GT(FileSize(image), kMiB - 160 * 1024) << "a full disc is nearly full";
        }
        EXPECT_EQ(ExtractWithXorriso(image, scratch.MakeFolder("out" + std::to_string(i))),
                  Prints(discs[i]));
        std::map<std::string, std::uint64_t> sizes;
        for (const auto& [name, bytes] : discs[i]) sizes[name] = bytes.size();
        EXPECT_EQ(JolietListing(image), sizes) << image;
        EXPECT_TRUE(XorrisoChecksMd5(image)) << image;
    }
}

// The MD5 sums recorded in an image let a peer find a damaged file without this program.
TEST_F(DiscRecording, RecordedMd5FindsADamagedFile) {
    Start(kMiB);
    const std::string bytes = SampleBytes(300000, 9);
    ASSERT_TRUE(Add("DATA 0812251430 0.cvn", bytes).ok());
    ASSERT_TRUE(master->RecordDisc(false, true).ok());
    const std::string image = Image("DATA 0812251430 disc 01.iso");
    ASSERT_TRUE(XorrisoChecksMd5(image));

    const std::string content = ReadWholeFile(image);
    const std::size_t at = content.find(bytes.substr(1000, 64));
    ASSERT_NE(at, std::string::npos);
    std::fstream file(image, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(at));
    file.put(static_cast<char>(content[at] ^ 0x01));
    file.close();
    EXPECT_FALSE(XorrisoChecksMd5(image));
}

TEST_F(DiscRecording, NameLimitsOfJolietAreKept) {
    Start(kMiB);
    const std::string name64(60, 'n');
    struct Case {
        std::string name;
        Status::Code expected;
    } cases[] = {
        {name64 + ".cvn", Status::Code::Ok},
        {std::string(59, 'u') + "\xc3\xbc.cvn", Status::Code::Ok},  // 64 characters, one of them ü
        {name64 + "x.cvn", Status::Code::InvalidArgument},
        {std::string(59, 'e') + "\xf0\x9f\x98\x80.cvn",
         Status::Code::InvalidArgument},  // 😀 takes two
        {"a/b.cvn", Status::Code::InvalidArgument},
        {"", Status::Code::InvalidArgument},
        {"\xff.cvn", Status::Code::InvalidArgument},
    };
    std::map<std::string, std::uint64_t> kept;
    for (const auto& c : cases) {
        Status status = Add(c.name, "bytes");
        EXPECT_EQ(status.code(), c.expected) << c.name << ": " << status.message();
        if (c.expected == Status::Code::Ok) kept[c.name] = 5;
    }
    ASSERT_TRUE(master->RecordDisc(false, true).ok());
    EXPECT_EQ(JolietListing(Image("Corvane disc 01.iso")), kept) << "Joliet keeps the names whole";
}

TEST_F(DiscRecording, RefusalsLeaveTheDiscAsItWas) {
    Start(kMiB);
    ASSERT_TRUE(Add("autorun.inf", kAutorun).ok());
    EXPECT_EQ(Add("autorun.inf", "other").code(), Status::Code::AlreadyExists);
    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_EQ(Add("DATA 0812251430 0.cvn", SampleBytes(kMiB, 3)).code(), Status::Code::TooLarge)
            << "does not fit even an empty disc";
    ASSERT_TRUE(Add("DATA 0812251430 1.cvn", SampleBytes(700000, 4)).ok());
    EXPECT_EQ(Add("DATA 0812251430 2.cvn", SampleBytes(400000, 5)).code(), Status::Code::NoSpace);
    EXPECT_EQ(Add("autorun.inf", SampleBytes(400000, 6), true).code(), Status::Code::NoSpace)
        << "a replacement that does not fit keeps the old file";
    ASSERT_TRUE(master->RecordDisc(false, true).ok());

    std::string image = Image("DATA 0812251430 disc 01.iso");
    std::map<std::string, std::string> expected = {
        {"autorun.inf", kAutorun}, {"DATA 0812251430 1.cvn", SampleBytes(700000, 4)}};
    EXPECT_EQ(ExtractWithXorriso(image, scratch.MakeFolder("out")), Prints(expected));
    EXPECT_EQ(Add("DATA 0812251430 0.cvn", SampleBytes(kMiB, 3)).code(), Status::Code::TooLarge)
        << "nor on the next, empty disc";
}

TEST_F(DiscRecording, OverwriteReplacesTheFile) {
    Start(kMiB);
    ASSERT_TRUE(Add("autorun.inf", "old").ok());
    ASSERT_TRUE(Add("autorun.inf", kAutorun, true).ok());
    ASSERT_TRUE(master->RecordDisc(false, true).ok());
    std::map<std::string, std::string> expected = {{"autorun.inf", kAutorun}};
    EXPECT_EQ(ExtractWithXorriso(Image("Corvane disc 01.iso"), scratch.MakeFolder("out")),
              Prints(expected));
}

TEST_F(DiscRecording, MetadataOfManyEmptyFilesStaysWithinCapacity) {
    const std::uint64_t capacity = 256 * 1024;
    Start(capacity);
    int added = 0;
    for (;; ++added) {
        std::string name = std::to_string(1000 + added) + std::string(56, 'm') + ".cvn";
        Status status = Add(name, added % 2 ? "x" : "");
        if (status.code() == Status::Code::NoSpace) break;
        ASSERT_TRUE(status.ok()) << status.message();
    }
    ASSERT_GT(added, 20);
    ASSERT_TRUE(master->RecordDisc(false, true).ok());
    std::string image = Image("Corvane disc 01.iso");
    EXPECT_LE(FileSize(image), capacity);
    EXPECT_EQ(JolietListing(image).size(), static_cast<std::size_t>(added));
}

TEST_F(DiscRecording, ImageFilesAreNumberedAndNeverOverwritten) {
    Start(kMiB);
    std::string precious = scratch.WriteFile("discs/DATA 0812251430 disc 01.iso", "precious");
    for (int disc = 0; disc < 2; ++disc) {
        ASSERT_TRUE(Add("DATA 0812251430 " + std::to_string(disc) + ".cvn", "stream").ok());
        ASSERT_TRUE(master->RecordDisc(false, true).ok());
    }
    ASSERT_TRUE(Add("autorun.inf", kAutorun).ok());
    ASSERT_TRUE(master->RecordDisc(false, true).ok());
    std::vector<std::string> expected = {"Corvane disc 01.iso", "DATA 0812251430 disc 01.iso",
                                         "DATA 0812251430 disc 02.iso",
                                         "DATA 0812251430 disc 03.iso"};
    EXPECT_EQ(FolderNames(imageFolder), expected);
    EXPECT_EQ(ReadWholeFile(precious), "precious");
    EXPECT_EQ(ExtractWithXorriso(Image(expected[3]), scratch.MakeFolder("out"))
                  .count("DATA 0812251430 1.cvn"),
              1u);
}

TEST_F(DiscRecording, ProgressGoesFromPreparingToComplete) {
    Start(64 * kMiB);
    RecordingSink sink;
    std::uint32_t cookie = 0;
    ASSERT_TRUE(master->ProgressAdvise(&sink, cookie).ok());
    ASSERT_TRUE(Add("DATA 0812251430 0.cvn", SampleBytes(24 * kMiB, 9)).ok());
    ASSERT_TRUE(master->RecordDisc(false, true).ok());
    ASSERT_TRUE(master->ProgressUnadvise(cookie).ok());

    const auto& events = sink.events;
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events.front().kind, SinkEvent::Preparing);
    EXPECT_EQ(events[events.size() - 2].kind, SinkEvent::Closing);
    EXPECT_EQ(events.back().kind, SinkEvent::Complete);
    EXPECT_EQ(events.back().result, Status::Code::Ok);
    const int total = static_cast<int>(FileSize(Image("DATA 0812251430 disc 01.iso")) / 2048);
    int last = -1;
    for (std::size_t i = 1; i + 2 < events.size(); ++i) {
        ASSERT_EQ(events[i].kind, SinkEvent::Blocks) << i;
        EXPECT_GT(events[i].completed, last);
        EXPECT_EQ(events[i].total, total);
        last = events[i].completed;
    }
    EXPECT_EQ(last, total);
}

TEST_F(DiscRecording, CancelLeavesNoFileAndTheDiscCanBeRecordedAgain) {
    Start(64 * kMiB);
    const std::string bytes = SampleBytes(24 * kMiB, 10);
    ASSERT_TRUE(Add("DATA 0812251430 0.cvn", bytes).ok());
    RecordingSink cancelling;
    cancelling.cancelAfterFirstBlocks = true;
    std::uint32_t cookie = 0;
    ASSERT_TRUE(master->ProgressAdvise(&cancelling, cookie).ok());
    EXPECT_EQ(master->RecordDisc(false, true).code(), Status::Code::Cancelled);
    ASSERT_FALSE(cancelling.events.empty());
    EXPECT_EQ(cancelling.events.back().result, Status::Code::Cancelled);
    EXPECT_EQ(FolderNames(imageFolder), std::vector<std::string>{}) << "not even a partial file";
    ASSERT_TRUE(master->ProgressUnadvise(cookie).ok());

    // Right away, as a retry would: libburn must have let go of the cancelled job.
    ASSERT_TRUE(master->RecordDisc(false, true).ok());
    std::map<std::string, std::string> expected = {{"DATA 0812251430 0.cvn", bytes}};
    EXPECT_EQ(ExtractWithXorriso(Image("DATA 0812251430 disc 01.iso"), scratch.MakeFolder("out")),
              Prints(expected));
}

TEST_F(DiscRecording, SimulationWritesNothingAndKeepsTheDisc) {
    Start(kMiB);
    RecordingSink sink;
    std::uint32_t cookie = 0;
    ASSERT_TRUE(master->ProgressAdvise(&sink, cookie).ok());
    ASSERT_TRUE(Add("autorun.inf", kAutorun).ok());
    ASSERT_TRUE(master->RecordDisc(true, true).ok());
    EXPECT_EQ(sink.events.back().kind, SinkEvent::Complete);
    EXPECT_EQ(FolderNames(imageFolder), std::vector<std::string>{});
    ASSERT_TRUE(master->RecordDisc(false, true).ok());
    std::map<std::string, std::string> expected = {{"autorun.inf", kAutorun}};
    EXPECT_EQ(ExtractWithXorriso(Image("Corvane disc 01.iso"), scratch.MakeFolder("out")),
              Prints(expected));
}

// The disc's own staging copies live in a hidden private folder beside the images, never in
// TMPDIR; one vanishing or cut short there (a cleaner of stray files, a full file system) must
// fail the recording rather than put zeros on the disc.
TEST_F(DiscRecording, VanishedOrCutStagingCopyFailsTheRecording) {
    for (bool vanished : {true, false}) {
        SCOPED_TRACE(vanished ? "vanished" : "cut short");
        ScopedTmpdir temporary;
        Start(kMiB);
        ASSERT_TRUE(Add("DATA 0812251430 0.cvn", SampleBytes(300000, 11)).ok());
        EXPECT_TRUE(std::filesystem::is_empty(temporary.path())) << "nothing of the disc in TMPDIR";
        const std::vector<std::string> staging = HiddenFolders(imageFolder);
        ASSERT_EQ(staging.size(), 1u);
        int changed = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(Image(staging[0]))) {
            if (!entry.is_regular_file()) continue;
            if (vanished) std::filesystem::remove(entry.path());
            else std::filesystem::resize_file(entry.path(), 100000);
            ++changed;
        }
        ASSERT_EQ(changed, 1);

        Status recorded = master->RecordDisc(false, true);
        EXPECT_EQ(recorded.code(), Status::Code::IoError) << recorded.message();
        EXPECT_EQ(FolderNames(imageFolder), std::vector<std::string>{});
    }
}

TEST_F(DiscRecording, WithoutOpticalDrivesOnlyImageRecordersAreListed) {
    DiscLayerOptions options;
    options.imageRecorders = {{"CD", kCdCapacity, scratch / "a"}, {"1 MiB", kMiB, scratch / "b"}};
    options.scanOpticalDrives = true;
    auto lister = CreateDiscMaster(options);
    ASSERT_TRUE(lister->Open().ok());
    std::unique_ptr<IEnumDiscRecorders> recorders;
    ASSERT_TRUE(lister->EnumDiscRecorders(recorders).ok());
    std::vector<std::string> paths;
    while (auto next = recorders->Next()) paths.push_back(next->GetPath());
    ASSERT_GE(paths.size(), 2u);
    EXPECT_EQ(paths[0], MakeImageRecorderPath(options.imageRecorders[0]));
    EXPECT_EQ(paths[1], MakeImageRecorderPath(options.imageRecorders[1]));
    for (std::size_t i = 2; i < paths.size(); ++i)
        EXPECT_EQ(paths[i].rfind("/dev/", 0), 0u) << "an optical drive: " << paths[i];
    EXPECT_TRUE(lister->Close().ok());
}

}  // namespace
}  // namespace corvane::test
