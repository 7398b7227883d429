// The backup job with the real disc layer reads each disc back after recording it, from an
// image file or from a drive (a stdio pseudo-drive over a file): a disc damaged after writing is
// named, and recorded again on a new disc on Retry; Cancel stops the backup with the reason.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "archive/BackupJob.h"
#include "disc/DiscLayer.h"
#include "disc/ImageFileSystem.h"
#include "disc/OpticalRecorder.h"
#include "support/ScopedVariable.h"
#include "support/ScratchFolder.h"
#include "support/TestBackupHost.h"
#include "verify/DiscVerifier.h"
#include "verify/RecordedDiscCheck.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kCapacity = 400 << 10;  // about two folders to a disc

// The real disc master whose one recorder is a drive by address, as a scan lists a burner: a
// stdio pseudo-drive over a file takes the drive's path through the disc layer.
class MasterWithDrive final : public IDiscMaster {
  public:
    explicit MasterWithDrive(std::string address) : address_(std::move(address)) {}

    Status Open() override { return real_->Open(); }
    Status SetActiveDiscMasterFormat(IJolietDiscMaster*& joliet) override { return real_->SetActiveDiscMasterFormat(joliet); }
    Status ProgressAdvise(IDiscMasterProgressEvents* sink, std::uint32_t& cookie) override {
        return real_->ProgressAdvise(sink, cookie);
    }
    Status ProgressUnadvise(std::uint32_t cookie) override { return real_->ProgressUnadvise(cookie); }
    Status EnumDiscRecorders(std::unique_ptr<IEnumDiscRecorders>& recorders) override {
        recorders = std::make_unique<TheDrive>(std::make_shared<OpticalRecorder>(address_));
        return Status::Ok();
    }
    Status SetActiveDiscRecorder(const std::shared_ptr<IDiscRecorder>& recorder) override {
        return real_->SetActiveDiscRecorder(recorder);
    }
    Status RecordDisc(bool simulate, bool eject) override { return real_->RecordDisc(simulate, eject); }
    void KeepRecordedDisc(bool keep) override { real_->KeepRecordedDisc(keep); }
    Status RecordAgain(bool eject) override { return real_->RecordAgain(eject); }
    Status Close() override { return real_->Close(); }

  private:
    struct TheDrive final : IEnumDiscRecorders {
        explicit TheDrive(std::shared_ptr<IDiscRecorder> theDrive) : drive(std::move(theDrive)) {}
        std::shared_ptr<IDiscRecorder> Next() override { return std::exchange(drive, nullptr); }
        std::shared_ptr<IDiscRecorder> drive;
    };

    std::string address_;
    std::unique_ptr<IDiscMaster> real_ = CreateDiscMaster({});
};

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

    // Backs up onto a stdio drive over the file drive, one disc (a file has room for all).
    BackupOutcome RunOnDrive() {
        const std::string address = "stdio:" + drive;
        host.recorderSelection = address;
        BackupJobServices services{[address] { return std::shared_ptr<IDiscMaster>(new MasterWithDrive(address)); },
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

    // Damages the disc being verified the first time verification starts: one byte in the
    // middle of the image, as a bad block would.
    void DamageFirstVerifiedDisc() {
        host.onLog = [this](const std::string& entry) {
            if (entry != "SetStatus Verifying disc..." || damaged) return;
            damaged = true;
            const std::string image = host.recorderSelection->starts_with("stdio:") ? drive : images + "/" + Images().front();
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
    std::string drive = scratch / "burner";  // no image's name, as a drive's device has none
    ScopedVariable cache{"XDG_CACHE_HOME", scratch / "cache"};  // where a drive's discs are staged
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

// The disc read back is the drive's, not a file named as an image: its session MD5 sum is
// checked like an image file's.
TEST(VerifyAfterRecording, ADiscOnADriveIsReadBackBeforeTheBackupCompletes) {
    VerifiedBackup backup;
    ASSERT_EQ(backup.RunOnDrive(), BackupOutcome::Completed) << backup.Asked() << backup.host.failure;
    const std::vector<std::string> statuses = backup.host.Entries("SetStatus ");
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Verifying disc..."), 1);
    EXPECT_EQ(backup.Asked().find("did not verify"), std::string::npos) << backup.Asked();

    ImageFileSystem files(DefaultFileSystem(), {backup.drive});
    const DiscReport report = VerifyDisc(files, backup.drive, nullptr, nullptr, {});
    EXPECT_TRUE(report.good());
    EXPECT_EQ(report.imageChecksum, "matches");
    EXPECT_EQ(report.streams, 9u) << "the root folder and its eight";
}

// Retry asks for a new disc: the user takes the damaged one out, which stays as it is until
// then (the file behind the drive is the user's, not removed as a damaged image file is).
TEST(VerifyAfterRecording, ADamagedDiscOnADriveIsNamedAndRecordedAgainOnANewDisc) {
    VerifiedBackup backup;
    backup.DamageFirstVerifiedDisc();
    const auto damage = std::move(backup.host.onLog);
    std::uintmax_t damagedDiscSize = 0;
    backup.host.onLog = [&](const std::string& entry) {
        damage(entry);
        if (entry != "Ask Please insert a blank writable disc!") return;
        damagedDiscSize = fs::file_size(backup.drive);
        fs::resize_file(backup.drive, 0);  // a blank disc in its place
    };
    ASSERT_EQ(backup.RunOnDrive(), BackupOutcome::Completed) << backup.Asked() << backup.host.failure;
    ASSERT_TRUE(backup.damaged);
    EXPECT_NE(backup.Asked().find("The disc in stdio:" + backup.drive + " did not verify"), std::string::npos)
        << backup.Asked();
    EXPECT_NE(backup.Asked().find("MD5"), std::string::npos) << "the damage is said: " << backup.Asked();
    EXPECT_GT(damagedDiscSize, 0u) << "the damaged disc was there until the user changed it";
    const std::vector<std::string> statuses = backup.host.Entries("SetStatus ");
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Verifying disc..."), 2);

    ImageFileSystem files(DefaultFileSystem(), {backup.drive});
    const DiscReport report = VerifyDisc(files, backup.drive, nullptr, nullptr, {});
    EXPECT_TRUE(report.good());
    EXPECT_EQ(report.streams, 9u) << "the root folder and its eight";
}

}  // namespace
}  // namespace corvane::test
