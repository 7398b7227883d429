#include <gtest/gtest.h>

#include "app/RoleChoice.h"
#include "support/ScratchFolder.h"

namespace corvane {
namespace {

TEST(RoleChoice, FollowsTheDriveOfTheCurrentFolder) {
    test::ScratchFolder root;
    root.WriteFile("proc/self/mountinfo",
                   "22 1 254:1 / / rw - ext4 /dev/vda1 rw\n"
                   "23 22 0:21 / /tmp rw - tmpfs tmpfs rw\n"
                   "30 22 8:17 / /media/u/STICK rw - vfat /dev/sdb1 rw\n"
                   "31 22 11:0 / /media/u/DISC ro - iso9660 /dev/sr0 ro\n"
                   "32 22 11:1 / /media/u/BD ro - udf /dev/sr1 ro\n"
                   "33 22 11:0 / /media/u/odd ro - ext2 /dev/sr0 ro\n");
    struct Case {
        const char* folder;
        Role role;
    } cases[] = {
        {"/media/u/DISC", Role::Restore},
        {"/media/u/DISC/Docs", Role::Restore},
        {"/media/u/BD", Role::Restore},
        {"/media/u/odd/x", Role::Restore},
        {"/home/u", Role::Backup},
        {"/tmp", Role::Backup},
        {"/media/u/STICK", Role::Backup},
        {"", Role::Backup},
    };
    for (auto c : cases) EXPECT_EQ(ChooseRole(c.folder, root.path()), c.role) << c.folder;
}

TEST(RoleChoice, UnreadableMountTableMeansBackup) {
    test::ScratchFolder emptyRoot;
    EXPECT_EQ(ChooseRole("/media/cdrom", emptyRoot.path()), Role::Backup);
}

TEST(RoleChoice, CurrentFolderIsReadable) { EXPECT_FALSE(CurrentFolder().empty()); }

}  // namespace
}  // namespace corvane
