// A drive's medium that already holds data, driven for real through libburn's stdio pseudo-drive
// over a file: the file holds an ISO image, which libburn reports as a blank medium.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "disc/DiscImage.h"
#include "disc/OpticalRecorder.h"
#include "support/ScratchFolder.h"

namespace corvane::test {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

struct QuietProgress final : RecordingProgress {
    void Blocks(int, int) override {}
    void Closing() override {}
    void PreparingMedium(const std::string&, int) override {}
    bool CancelRequested() override { return false; }
};

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class OpticalMedia : public ::testing::Test {
  protected:
    // Records a one-file disc of the backup onto the recorder.
    Status Record(OpticalRecorder& recorder, const std::string& backupName) {
        DiscImage image(scratch / "staging");
        std::string staged = scratch.WriteFile("staged", "bytes of " + backupName);
        Status status = image.Add({"data.cvn", staged}, false, {kMiB, 0});
        if (!status.ok()) return status;
        image.SetVolumeId(backupName);
        QuietProgress progress;
        return recorder.Record(image, backupName, false, true, progress);
    }

    unsigned Query(OpticalRecorder& recorder) {
        EXPECT_TRUE(recorder.OpenExclusive().ok());
        int type = 0;
        unsigned flags = 0;
        EXPECT_TRUE(recorder.QueryMediaType(type, flags).ok());
        recorder.Close();
        return flags;
    }

    ScratchFolder scratch;
    std::string file = scratch / "disc.iso";
    std::string address = "stdio:" + file;
};

TEST_F(OpticalMedia, ADiscHoldingAVolumeIsErasedOnlyAfterTheAnswer) {
    OpticalRecorder first(address);
    EXPECT_EQ(Query(first), MEDIA_WRITABLE | MEDIA_BLANK) << "an empty file is a blank disc";
    ASSERT_TRUE(Record(first, "HOLIDAY PHOTOS").ok());
    const std::string holiday = Contents(file);
    ASSERT_FALSE(holiday.empty());

    OpticalRecorder drive(address);
    EXPECT_EQ(Query(drive), MEDIA_HOLDS_DATA) << "libburn calls it blank; its first blocks do not";
    EXPECT_NE(drive.MediumNote().find("HOLIDAY_PHOTOS"), std::string::npos) << drive.MediumNote();

    Status refused = Record(drive, "STICK 0812251430");
    EXPECT_EQ(refused.code(), Status::Code::Unavailable);
    EXPECT_NE(refused.message().find("HOLIDAY_PHOTOS"), std::string::npos) << refused.message();
    EXPECT_EQ(Contents(file), holiday) << "nothing is written without the answer";

    ASSERT_TRUE(drive.OpenExclusive().ok());
    int type = 0;
    unsigned flags = 0;
    ASSERT_TRUE(drive.QueryMediaType(type, flags).ok());
    drive.AllowErase();
    ASSERT_TRUE(drive.QueryMediaType(type, flags).ok());
    EXPECT_EQ(flags, MEDIA_HOLDS_DATA | MEDIA_WRITABLE);
    drive.Close();
    ASSERT_TRUE(Record(drive, "STICK 0812251430").ok());
    EXPECT_NE(Contents(file), holiday);
    EXPECT_LT(std::filesystem::file_size(file), holiday.size() + 4096)
        << "the old image is gone, not left behind the new one";

    OpticalRecorder again(address);
    EXPECT_EQ(Query(again), MEDIA_HOLDS_DATA);
    EXPECT_NE(again.MediumNote().find("STICK_0812251430"), std::string::npos);
}

TEST_F(OpticalMedia, ADiscOfTheBackupBeingWrittenIsRefusedWithItsName) {
    OpticalRecorder drive(address);
    ASSERT_TRUE(Record(drive, "STICK 0812251430").ok());
    const std::string written = Contents(file);

    // Put back in at "Please insert another disc".
    EXPECT_EQ(Query(drive), 0u);
    EXPECT_NE(drive.MediumNote().find("STICK 0812251430"), std::string::npos) << drive.MediumNote();

    // Even with erasing allowed, the set would lose a disc.
    ASSERT_TRUE(drive.OpenExclusive().ok());
    int type = 0;
    unsigned flags = 0;
    ASSERT_TRUE(drive.QueryMediaType(type, flags).ok());
    drive.AllowErase();
    drive.Close();
    Status refused = Record(drive, "STICK 0812251430");
    EXPECT_EQ(refused.code(), Status::Code::Unavailable);
    EXPECT_NE(refused.message().find("STICK 0812251430"), std::string::npos) << refused.message();
    EXPECT_EQ(Contents(file), written);
}

}  // namespace
}  // namespace corvane::test
