// The backup job and the folder archiver over the scripted disc layer: what reaches each
// disc, in which order, and what the user is told.

#include <gtest/gtest.h>

#include <algorithm>

#include "JobRig.h"
#include "archive/FolderArchiver.h"
#include "archive/SetCatalogueReader.h"
#include "support/FaultyFileSystem.h"

namespace corvane {
namespace {

using test::DiscImage;
using test::JobRig;
using test::Messages;
using test::TestBackupHost;

TEST(BackupJob, SpansDiscsInDepthFirstOrderAndEveryByteComesBack) {
    JobRig rig;
    std::map<std::string, std::string> files = {
        {"top.txt", test::SampleBytes(3000, 1)},
        {"A/a1.bin", test::SampleBytes(9000, 2)},
        {"A/Sub/deep.bin", test::SampleBytes(4097, 3)},
        {"A/Sub/empty", ""},
        {"B b/Ünïcode name.txt", test::SampleBytes(9000, 4)},
        {"C/c.bin", test::SampleBytes(10000, 5)},
    };
    for (const auto& [path, content] : files) rig.source.WriteFile(path, content);
    rig.source.MakeFolder("A/Empty");
    rig.master->SetCapacity(8000);  // a few streams per disc, payload included

    EXPECT_EQ(rig.Run(), BackupOutcome::Completed) << Messages(rig.host);
    EXPECT_EQ(rig.host.status, "Completed Successfully!");
    ASSERT_GE(rig.master->recordedDiscs().size(), 3u);
    for (const DiscImage& disc : rig.master->recordedDiscs()) {
        ASSERT_NE(disc.find("corvane.exe"), nullptr);
        EXPECT_EQ(disc.find("corvane.exe")->bytes, "#!program\n");
        ASSERT_NE(disc.find("autorun.inf"), nullptr);
    }

    auto streams = rig.Streams();
    std::vector<std::string> folders;
    std::map<std::string, std::string> restored;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        EXPECT_EQ(streams[i].name.sequence, static_cast<long long>(i)) << "numbers run on without gap";
        EXPECT_EQ(streams[i].name.label, "DATA");
        folders.push_back(streams[i].content.header.folderPath);
        std::string prefix = streams[i].content.header.folderPath.substr(1);
        std::replace(prefix.begin(), prefix.end(), '\\', '/');
        for (const auto& f : streams[i].content.files) restored[prefix.empty() ? f.name : prefix + "/" + f.name] = f.content;
    }
    EXPECT_TRUE(restored == files) << "restored " << restored.size() << " of " << files.size() << " files";
    // Depth first, a folder before its sub-folders; siblings in listing order, so compare
    // the order of each folder relative to its parent only.
    ASSERT_EQ(folders.size(), 6u);
    EXPECT_EQ(folders[0], "\\");
    auto at = [&](const std::string& f) { return std::find(folders.begin(), folders.end(), f) - folders.begin(); };
    EXPECT_LT(at("\\A"), at("\\A\\Sub"));
    EXPECT_LT(at("\\A"), at("\\A\\Empty"));
    EXPECT_EQ(std::abs(at("\\A\\Sub") - at("\\A\\Empty")), 1) << "A's subtree is finished before the next folder";
}

TEST(BackupJob, RefusedStreamOpensTheNextDiscAfterThePayload) {
    JobRig rig;
    rig.source.WriteFile("one.txt", "1");
    rig.source.WriteFile("Two/two.txt", "2");
    // The root's stream fits; Two's stream finds the disc full.
    rig.host.onLog = [&](const std::string& entry) {
        if (entry == "SetStatus " + rig.source.path() + "/Two") rig.master->Fail("AddData", 1, Status::Code::NoSpace);
    };
    EXPECT_EQ(rig.Run(), BackupOutcome::Completed) << Messages(rig.host);
    const auto& discs = rig.master->recordedDiscs();
    ASSERT_EQ(discs.size(), 2u);
    auto names = discs[1].names();
    ASSERT_EQ(names.size(), 5u);
    EXPECT_EQ(names[0], "corvane.exe");
    EXPECT_EQ(names[1], "autorun.inf");
    EXPECT_EQ(names[2], "autorun.sh");
    EXPECT_NE(names[3].find(" 1.cvn"), std::string::npos) << names[3];
    EXPECT_NE(names[4].find(".catalog"), std::string::npos) << "the catalogue closes every disc: " << names[4];
    EXPECT_NE(discs[0].names().back().find(".catalog"), std::string::npos) << discs[0].names().back();
    EXPECT_NE(Messages(rig.host).find("Please insert another disc"), std::string::npos);
}

TEST(BackupJob, StopInsideALargeFileLeavesThatFolderOffEveryDisc) {
    JobRig rig;
    rig.source.WriteFile("small.txt", "small");
    rig.source.WriteFile("Big/huge.bin", test::SampleBytes(3 << 20, 9));
    rig.host.onLog = [&](const std::string& entry) {
        if (entry.rfind("ShowCounters ", 0) == 0 && rig.host.bytesRead > (1 << 20)) rig.host.cancelRequested = 1;
    };
    EXPECT_EQ(rig.Run(), BackupOutcome::Cancelled);
    EXPECT_EQ(rig.host.status, "Cancelled");
    EXPECT_TRUE(rig.master->recordedDiscs().empty()) << "the last disc is not recorded";
    for (const auto& file : rig.master->pendingImage().files)
        EXPECT_EQ(file.name.find(" 1.cvn"), std::string::npos) << "Big's stream was added: " << file.name;
    EXPECT_LT(rig.host.bytesRead, 2u << 20) << "the stop took effect within a chunk";
    EXPECT_TRUE(rig.host.inputsEnabled);
}

TEST(BackupJob, ConfirmationShowsMegabytesWithOneDecimal) {
    struct Case {
        std::vector<std::size_t> sizes;
        const char* text;
    } cases[] = {
        {{1024 * 1024, 512 * 1024}, "Are you sure you want to burn 1.5 MB to disc?"},
        {{}, "Are you sure you want to burn 0.0 MB to disc?"},
        {{1023, 2047}, "Are you sure you want to burn 0.0 MB to disc?"},
        // Bytes are summed before they are converted: small files add up.
        {std::vector<std::size_t>(1100, 1000), "Are you sure you want to burn 1.0 MB to disc?"},
    };
    for (const auto& c : cases) {
        JobRig rig;
        for (std::size_t i = 0; i < c.sizes.size(); ++i) rig.source.WriteFile("f" + std::to_string(i), std::string(c.sizes[i], 'x'));
        rig.host.answers = {MessageAnswer::No};
        EXPECT_EQ(rig.Run(), BackupOutcome::Cancelled);
        ASSERT_FALSE(rig.host.messages.empty());
        EXPECT_EQ(rig.host.messages[0].text, c.text);
        EXPECT_EQ(rig.host.messages[0].buttons, MessageButtons::YesNo);
        EXPECT_EQ(rig.host.status, "Cancelled");
        EXPECT_TRUE(rig.host.inputsEnabled);
        for (const auto& call : rig.master->log()) EXPECT_EQ(call.rfind("AddData", 0), std::string::npos) << "nothing staged";
    }
}

TEST(BackupJob, MissingSelectionsAndRecordersAreReported) {
    struct Case {
        const char* what;
        bool recorder, source, matching, master;
        const char* message;
    } cases[] = {
        {"no recorder", false, true, true, true, "You must select a CD/DVD writable drive."},
        {"no source", true, false, true, true, "You must select a USB drive to backup."},
        {"recorder gone", true, true, false, true, "Disc Recorder not accessible."},
        {"no disc layer", true, true, true, false, "Disc Recorder not accessible."},
    };
    for (const auto& c : cases) {
        JobRig rig;
        if (!c.recorder) rig.host.recorderSelection.reset();
        if (!c.source) rig.host.sourceSelection.reset();
        if (!c.matching) rig.host.recorderSelection = "/dev/sr9";
        if (!c.master) rig.master.reset();
        EXPECT_EQ(rig.Run(), BackupOutcome::NotStarted) << c.what;
        ASSERT_EQ(rig.host.messages.size(), 1u) << c.what;
        EXPECT_EQ(rig.host.messages[0].text, c.message) << c.what;
        EXPECT_TRUE(rig.host.inputsEnabled) << c.what;
        EXPECT_EQ(rig.host.idle.load(), 1) << c.what;
    }
}

TEST(BackupJob, FilesThatCannotBeReadAreReportedNeverPassedOverSilently) {
    JobRig rig;
    rig.source.WriteFile("good.txt", "good");
    rig.source.WriteFile("locked.txt", "secret");
    rig.source.WriteFile("Failing/broken.bin", test::SampleBytes(50000, 3));
    rig.source.WriteFile("Failing/after.txt", "after");
    rig.source.WriteFile("back\\slash.txt", "a name the format cannot hold");
    rig.source.WriteFile("odd\\folder/inside.txt", "a folder name the format cannot hold");
    test::FaultyFileSystem faulty;
    faulty.Add({test::Fault::Kind::OpenRead, "locked.txt"});
    faulty.Add({test::Fault::Kind::ReadAfter, "broken.bin", 10000});
    rig.host.files = &faulty;

    EXPECT_EQ(rig.Run(), BackupOutcome::Incomplete);
    EXPECT_NE(rig.host.status, "Completed Successfully!");
    ASSERT_EQ(rig.host.leftOut.size(), 4u);
    std::string report = Messages(rig.host);
    for (const char* name : {"locked.txt", "broken.bin", "back\\slash.txt", "odd\\folder"}) EXPECT_NE(report.find(name), std::string::npos) << name;

    std::map<std::string, std::string> stored;
    for (const auto& stream : rig.Streams())
        for (const auto& f : stream.content.files) stored[f.name] = f.content;
    EXPECT_EQ(stored, (std::map<std::string, std::string>{{"good.txt", "good"}, {"after.txt", "after"}}))
        << "a file that failed part-way leaves no partial record";
}

TEST(BackupJob, CompressingOnManyThreadsWritesTheBytesOfOneThread) {
    // Sizes around the 4 KiB pieces and the 64 KiB batches, many small files so batches of
    // several files are in flight at once, and a file that fails part way between them.
    test::ScratchFolder source;  // one tree for both runs, so the stored times agree too
    int seed = 1;
    for (std::size_t size : {0, 1, 4095, 4096, 4097, 65535, 65536, 65537, 300000})
        source.WriteFile("Sizes/" + std::to_string(size) + ".bin", test::SampleBytes(size, seed++));
    for (int i = 0; i < 60; ++i)
        source.WriteFile("Many/Sub" + std::to_string(i % 3) + "/f" + std::to_string(i), test::SampleBytes(700 * i, seed++));
    source.WriteFile("Many/broken.bin", test::SampleBytes(200000, seed++));
    source.WriteFile("top.txt", std::string(150000, 'x'));
    std::vector<std::vector<DiscImage>> runs;
    std::vector<std::vector<std::string>> leftOut, hostLogs, recorderLogs;
    for (int workers : {0, 3}) {
        JobRig rig;
        std::string staging;  // the job's private folder, gone once it ends
        rig.host.onLog = [&](const std::string&) {
            if (!rig.host.tempFolder.path().empty()) staging = rig.host.tempFolder.path();
        };
        rig.host.sourceSelection = SourceChoice{source.path(), std::string("DATA")};
        test::FaultyFileSystem faulty;
        faulty.Add({test::Fault::Kind::ReadAfter, "broken.bin", 100000});
        rig.host.files = &faulty;
        rig.host.compressionWorkers = workers;
        rig.master->SetCapacity(400000);
        EXPECT_EQ(rig.Run(), BackupOutcome::Incomplete) << Messages(rig.host);
        runs.push_back(rig.master->recordedDiscs());
        leftOut.push_back(rig.host.leftOut);
        std::vector<std::string> log = rig.host.log;
        for (auto& entry : log)  // the two runs stage the program in folders of their own
            for (const std::string& own : {rig.scratch.path(), staging})
                if (std::size_t at = entry.find(own); at != std::string::npos) entry.replace(at, own.size(), "<own>");
        hostLogs.push_back(log);
        recorderLogs.push_back(rig.master->log());
    }
    // Reading runs ahead across folders and discs, yet the user sees the same steps.
    EXPECT_EQ(hostLogs[0], hostLogs[1]);
    EXPECT_EQ(recorderLogs[0], recorderLogs[1]);
    ASSERT_GE(runs[0].size(), 2u);
    ASSERT_EQ(runs[0].size(), runs[1].size());
    for (std::size_t d = 0; d < runs[0].size(); ++d) {
        ASSERT_EQ(runs[0][d].names(), runs[1][d].names()) << "disc " << d;
        for (std::size_t f = 0; f < runs[0][d].files.size(); ++f)
            EXPECT_TRUE(runs[0][d].files[f].bytes == runs[1][d].files[f].bytes) << runs[0][d].files[f].name;
    }
    for (const auto& list : leftOut) {
        ASSERT_EQ(list.size(), 1u);
        EXPECT_NE(list[0].find("broken.bin"), std::string::npos);
    }
}

// The catalogue's checksum of each stream is that of the bytes on the disc, for streams whose
// checksum the writer takes as it goes and for one with a record too long for that.
TEST(BackupJob, CatalogueHoldsTheChecksumOfEveryStreamOnTheDisc) {
    JobRig rig;
    rig.source.WriteFile("small.txt", "small");
    rig.source.WriteFile("Big/huge.bin", test::SampleBytes(3 << 20, 9));
    rig.source.WriteFile("Big/Deeper/tiny.txt", "tiny");
    ASSERT_EQ(rig.Run(), BackupOutcome::Completed) << Messages(rig.host);
    ASSERT_EQ(rig.master->recordedDiscs().size(), 1u);
    const auto& disc = rig.master->recordedDiscs()[0];
    const test::DiscFile* catalogue = disc.find("DATA 0812251430.catalog");
    ASSERT_NE(catalogue, nullptr);

    struct Streams final : CatalogueVisitor {
        std::vector<CatalogueStream> listed;
        void OnBackup(const CatalogueBackup&) override {}
        void OnStream(const CatalogueStream& stream) override { listed.push_back(stream); }
        void OnFile(const CatalogueFile&) override {}
    } streams;
    std::unique_ptr<File> in;
    ASSERT_TRUE(DefaultFileSystem().OpenRead(rig.scratch.WriteFile("catalog", catalogue->bytes), in).ok());
    ASSERT_TRUE(ReadSetCatalogue(*in, streams).ok());
    ASSERT_EQ(streams.listed.size(), 3u);
    for (const CatalogueStream& stream : streams.listed) {
        const test::DiscFile* held = disc.find(stream.name);
        ASSERT_NE(held, nullptr) << stream.name;
        EXPECT_EQ(stream.size, held->bytes.size()) << stream.name;
        ContentHash hash;
        hash.Update(held->bytes.data(), held->bytes.size());
        EXPECT_EQ(stream.checksum, hash.Digest()) << stream.name;
    }
}

TEST(BackupJob, EmptyDriveRecordsThePayloadAndAnEmptyCatalogue) {
    JobRig rig;
    EXPECT_EQ(rig.Run(), BackupOutcome::Completed);
    ASSERT_EQ(rig.master->recordedDiscs().size(), 1u);
    EXPECT_EQ(rig.master->recordedDiscs()[0].names(),
              (std::vector<std::string>{"corvane.exe", "autorun.inf", "autorun.sh", "DATA 0812251430.catalog"}));
}

TEST(MeasureFolder, CountsFilesAndTheirBytes) {
    test::ScratchFolder dir;
    dir.WriteFile("a", std::string(1023, 'a'));
    dir.WriteFile("sub/b", std::string(2047, 'b'));
    dir.WriteFile("sub/deeper/empty", "");
    TestBackupHost host;
    MeasureFolder(host, dir.path());
    EXPECT_EQ(host.fileCount, 3u);
    EXPECT_EQ(host.totalKB, 3070 / 1024.0);
}

TEST(StoredFolderPath, IsRelativeToTheDriveWithBackslashes) {
    EXPECT_EQ(StoredFolderPath("/media/u/STICK", "/media/u/STICK"), "\\");
    EXPECT_EQ(StoredFolderPath("/media/u/STICK", "/media/u/STICK/Docs"), "\\Docs");
    EXPECT_EQ(StoredFolderPath("/media/u/STICK", "/media/u/STICK/Docs/2008"), "\\Docs\\2008");
    EXPECT_EQ(StoredFolderPath("/media/u/STICK/", "/media/u/STICK/Docs"), "\\Docs");
    EXPECT_EQ(StoredFolderPath("/", "/etc"), "\\etc");
}

}  // namespace
}  // namespace corvane
