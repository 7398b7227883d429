// The backup job with the real disc layer reads each image back after recording it: a disc
// damaged after writing is named, and recorded again on a new disc on Retry; Cancel stops the
// backup with the reason.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "archive/BackupJob.h"
#include "disc/DiscLayer.h"
#include "disc/ImageFileSystem.h"
#include "support/ScratchFolder.h"
#include "support/TestBackupHost.h"
#include "verify/DiscVerifier.h"
#include "verify/RecordedDiscCheck.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kCapacity = 400 << 10;  // about two folders to a disc

struct VerifiedBackup {
    VerifiedBackup() {
        for (int i = 0; i < 8; ++i) source.WriteFile("F" + std::to_string(i) + "/data", SampleBytes(150000, i));
        host.programPath = scratch.WriteFile("program", SampleBytes(60000, 1));
        host.sourceSelection = SourceChoice{source.path(), std::string("DATA")};
        host.answers = {MessageAnswer::Yes};
        host.defaultAnswer = MessageAnswer::Retry;
        host.verifyRecordedDisc = RecordedDiscCheck(host);
    }

    BackupOutcome Run() {
        const ImageRecorderPath recorder{"test", kCapacity, images};
        host.recorderSelection = MakeImageRecorderPath(recorder);
        DiscLayerOptions options{{recorder}, false};
        BackupJobServices services{[options] { return std::shared_ptr<IDiscMaster>(CreateDiscMaster(options)); },
                                   [](const std::string& path) { return path; }};
        return RunBackupJob(host, services);
    }

    std::vector<std::string> Images() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(images))
            if (entry.path().extension() == ".iso") names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Damages the image being verified the first time verification starts: one byte in the
    // middle of the image, as a bad block would.
    void DamageFirstVerifiedDisc() {
        host.onLog = [this](const std::string& entry) {
            if (entry != "SetStatus Verifying disc..." || damaged) return;
            damaged = true;
            const std::string image = images + "/" + Images().front();
            std::fstream file(image, std::ios::in | std::ios::out | std::ios::binary);
            file.seekg(static_cast<std::streamoff>(fs::file_size(image) / 2));
            const char byte = static_cast<char>(file.get() ^ 0x5A);
            file.seekp(static_cast<std::streamoff>(fs::file_size(image) / 2));
            file.put(byte);
        };
    }

    std::string Asked() const {
        std::string all;
        for (const Message& message : host.messages) all += message.text + "\n";
        return all;
    }

    ScratchFolder source, scratch;
    std::string images = scratch / "discs";
    TestBackupHost host;
    bool damaged = false;
};

TEST(VerifyAfterRecording, EveryDiscIsReadBackWithProgress) {
    VerifiedBackup backup;
    ASSERT_EQ(backup.Run(), BackupOutcome::Completed) << backup.Asked();
    const std::vector<std::string> statuses = backup.host.Entries("SetStatus ");
    const auto verifying = std::count(statuses.begin(), statuses.end(), "Verifying disc...");
    EXPECT_GE(backup.Images().size(), 3u);
    EXPECT_EQ(static_cast<std::size_t>(verifying), backup.Images().size()) << "each disc once";
    EXPECT_NE(std::find(backup.host.log.begin(), backup.host.log.end(), "SetProgress 100"), backup.host.log.end());
    EXPECT_EQ(backup.Asked().find("did not verify"), std::string::npos) << backup.Asked();
}

TEST(VerifyAfterRecording, DamagedDiscIsNamedAndRecordedAgainOnRetry) {
    VerifiedBackup backup;
    backup.DamageFirstVerifiedDisc();
    ASSERT_EQ(backup.Run(), BackupOutcome::Completed) << backup.Asked();
    ASSERT_TRUE(backup.damaged);
    EXPECT_NE(backup.Asked().find("The disc DATA"), std::string::npos) << backup.Asked();
    EXPECT_NE(backup.Asked().find("disc 01.iso did not verify"), std::string::npos) << backup.Asked();
    EXPECT_NE(backup.Asked().find("MD5"), std::string::npos) << "the damage is said: " << backup.Asked();

    // The damaged image made way for the disc recorded again: the set is whole and good.
    ImageFileSystem files(DefaultFileSystem());
    const VerifyReport report = VerifyPlaces(files, {backup.images}, nullptr, {});
    ASSERT_EQ(report.sets.size(), 1u);
    EXPECT_TRUE(report.sets[0].missing.empty());
    EXPECT_EQ(report.discs.size(), report.sets[0].discs);
    EXPECT_TRUE(report.good());
}

TEST(VerifyAfterRecording, CancelAtTheDamagedDiscStopsTheBackupWithTheReason) {
    VerifiedBackup backup;
    backup.DamageFirstVerifiedDisc();
    backup.host.answers = {MessageAnswer::Yes, MessageAnswer::Cancel};
    EXPECT_EQ(backup.Run(), BackupOutcome::Failed) << backup.Asked();
    EXPECT_NE(backup.host.failure.find("did not verify"), std::string::npos) << backup.host.failure;
    EXPECT_EQ(backup.Images().size(), 1u) << "no disc is recorded after it";
}

}  // namespace
}  // namespace corvane::test
