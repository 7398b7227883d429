#include <gtest/gtest.h>

#include "platform/MountTable.h"
#include "support/ScratchFolder.h"

namespace corvane {
namespace {

// A mount table as /proc/self/mountinfo prints it.
const char* kMountInfo =
    "22 1 254:1 / / rw,relatime shared:1 - ext4 /dev/vda1 rw\n"
    "23 22 0:21 / /tmp rw,nosuid shared:2 - tmpfs tmpfs rw\n"
    "30 22 8:17 / /media/user/STICK rw,nosuid shared:10 - vfat /dev/sdb1 rw,uid=1000\n"
    "31 22 11:0 / /media/user/BACKUP\\040DISC ro,nosuid shared:11 - iso9660 /dev/sr0 ro\n"
    "32 22 11:1 / /media/user/BLURAY ro shared:12 - udf /dev/sr1 ro\n"
    "33 22 11:0 / /mnt/odd ro shared:13 - fuseblk /dev/sr0 ro\n"
    "34 22 7:0 / /mnt/image ro shared:14 - iso9660 /dev/loop0 ro\n"
    "garbage line without fields\n"
    "35 22 0:40 / /mnt/net rw - nfs server:/export rw\n";

TEST(MountTable, ParsesFieldsAndEscapes) {
    auto mounts = ParseMountInfo(kMountInfo);
    ASSERT_EQ(mounts.size(), 8u);
    EXPECT_EQ(mounts[3].mountPoint, "/media/user/BACKUP DISC");
    EXPECT_EQ(mounts[3].fsType, "iso9660");
    EXPECT_EQ(mounts[3].source, "/dev/sr0");
    EXPECT_EQ(mounts[3].major, 11u);
    EXPECT_EQ(mounts[2].source, "/dev/sdb1");
}

TEST(MountTable, DriveTypeOfPaths) {
    auto mounts = ParseMountInfo(kMountInfo);
    struct Case {
        const char* path;
        bool optical;
    } cases[] = {
        {"/media/user/BACKUP DISC", true},
        {"/media/user/BACKUP DISC/sub folder", true},
        {"/media/user/BLURAY/x", true},
        {"/mnt/odd", true},           // a disc in /dev/sr0, whatever the file system
        {"/mnt/image/folder", true},  // an ISO image mounted through a loop device
        {"/media/user/STICK/Docs", false},
        {"/media/user/BACKUP", false},  // a prefix of a mount point is not inside it
        {"/tmp/x", false},
        {"/home/user", false},
        {"/mnt/net/share", false},
        {"", false},  // the current folder could not be read
    };
    for (auto c : cases) EXPECT_EQ(IsOnOpticalDisc(mounts, c.path), c.optical) << c.path;
}

TEST(MountTable, LaterMountOnTheSamePointWins) {
    auto mounts = ParseMountInfo(
        "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "2 1 8:2 / /mnt rw - ext4 /dev/sda2 rw\n"
        "3 1 11:0 / /mnt ro - iso9660 /dev/sr0 ro\n");
    EXPECT_TRUE(IsOnOpticalDisc(mounts, "/mnt/file"));
}

TEST(MountTable, MissingTableMeansNothingIsOptical) {
    auto mounts = ReadMountTable("/nonexistent-root");
    EXPECT_TRUE(mounts.empty());
    EXPECT_FALSE(IsOnOpticalDisc(mounts, "/media/cdrom"));
    EXPECT_TRUE(MountedDiscs("/nonexistent-root").empty());
}

TEST(MountTable, MountedDiscsAreTheOpticalMountsInOrder) {
    test::ScratchFolder root;
    root.WriteFile("proc/self/mountinfo", kMountInfo);
    EXPECT_EQ(MountedDiscs(root.path()), (std::vector<std::string>{"/media/user/BACKUP DISC", "/media/user/BLURAY",
                                                                   "/mnt/odd", "/mnt/image"}));
}

}  // namespace
}  // namespace corvane
