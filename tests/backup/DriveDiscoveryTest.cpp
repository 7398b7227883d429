#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "backup/DriveDiscovery.h"
#include "platform/MountTable.h"
#include "support/ScratchFolder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::ScratchFolder;

// A machine with a system disk, a fixed data disk, an encrypted home volume, three USB sticks
// (one labelled, one unlabelled and mounted through a by-uuid link, one encrypted), a memory
// card whose mount point has a space, and two optical drives, one holding a mounted disc.
void BuildMachine(const ScratchFolder& root) {
    root.WriteFile("proc/self/mountinfo",
                   "22 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
                   "23 22 8:1 / /data rw - ext4 /dev/sda1 rw\n"
                   "24 22 254:2 / /home rw - ext4 /dev/mapper/home rw\n"
                   "25 22 0:40 / /tmp rw - tmpfs tmpfs rw\n"
                   "30 22 8:17 / /media/u/STICK rw,nosuid - vfat /dev/sdb1 rw\n"
                   "31 22 8:33 / /media/u/3A5F-1C22 rw - vfat /dev/disk/by-uuid/3A5F-1C22 rw\n"
                   "32 22 179:1 / /media/u/My\\040Card rw - exfat /dev/mmcblk0p1 rw\n"
                   "33 22 254:1 / /media/u/Secret rw - ext4 /dev/mapper/vault rw\n"
                   "34 22 11:0 / /media/u/BACKUP\\040DISC ro - iso9660 /dev/sr0 ro\n");

    auto disk = [&](const std::string& name, const char* removable) {
        root.WriteFile("sys/block/" + name + "/removable", std::string(removable) + "\n");
        root.WriteFile("dev/" + name, "");
    };
    auto partition = [&](const std::string& diskName, const std::string& name) {
        root.WriteFile("sys/block/" + diskName + "/" + name + "/partition", "1\n");
        root.WriteFile("dev/" + name, "");
    };
    auto link = [&](const std::string& path, const std::string& target) {
        fs::create_directories(fs::path(root / path).parent_path());
        fs::create_symlink(target, root / path);
    };

    disk("vda", "0");
    disk("sda", "0");
    partition("sda", "sda1");
    partition("sda", "sda2");
    disk("sdb", "1");
    partition("sdb", "sdb1");
    disk("sdc", "1");
    partition("sdc", "sdc1");
    disk("sdd", "1");
    partition("sdd", "sdd1");
    disk("mmcblk0", "1");
    partition("mmcblk0", "mmcblk0p1");
    // Device-mapper volumes, reached through their device numbers: /dev/mapper holds plain
    // device nodes here, not links.
    disk("dm-1", "0");
    root.MakeFolder("sys/block/dm-1/slaves/sdd1");
    link("sys/dev/block/254:1", "../../block/dm-1");
    root.WriteFile("dev/mapper/vault", "");
    disk("dm-2", "0");
    root.MakeFolder("sys/block/dm-2/slaves/sda2");
    link("sys/dev/block/254:2", "../../block/dm-2");
    root.WriteFile("dev/mapper/home", "");
    // Optical drives report themselves removable.
    disk("sr0", "1");
    root.WriteFile("sys/block/sr0/device/vendor", "HL-DT-ST\n");
    root.WriteFile("sys/block/sr0/device/model", "DVDRAM GH24NSD1 \n");
    disk("sr1", "1");
    link("dev/cdrom", "sr0");

    link("dev/disk/by-uuid/3A5F-1C22", "../../sdc1");
    link("dev/disk/by-label/STICK", "../../sdb1");
    link("dev/disk/by-label/Family\\x20Photos", "../../dm-1");
    link("dev/disk/by-label/CARD", "../../mmcblk0p1");
    link("dev/disk/by-label/BACKUP\\x20DISC", "../../sr0");
}

TEST(DriveDiscovery, ListsMountedRemovableDrivesSortedWithTheirLabels) {
    ScratchFolder root;
    BuildMachine(root);
    struct Expected {
        const char* entryText;
        const char* mountPoint;
        const char* label;
        const char* device;
    } expected[] = {
        {"/media/u/3A5F-1C22 ()", "/media/u/3A5F-1C22", "", "/dev/sdc1"},
        {"/media/u/My Card (CARD)", "/media/u/My Card", "CARD", "/dev/mmcblk0p1"},
        {"/media/u/Secret (Family Photos)", "/media/u/Secret", "Family Photos", "/dev/dm-1"},
        {"/media/u/STICK (STICK)", "/media/u/STICK", "STICK", "/dev/sdb1"},
    };
    auto drives = ListSourceDrives(root.path());
    ASSERT_EQ(drives.size(), std::size(expected));
    for (std::size_t i = 0; i < drives.size(); ++i) {
        EXPECT_EQ(drives[i].entryText, expected[i].entryText);
        EXPECT_EQ(drives[i].mountPoint, expected[i].mountPoint);
        EXPECT_EQ(drives[i].label, std::optional<std::string>(expected[i].label));
        EXPECT_EQ(drives[i].device, expected[i].device);
    }

    auto list = FillSourceList(root.path());
    ASSERT_EQ(list.entries.size(), drives.size());
    for (std::size_t i = 0; i < drives.size(); ++i) EXPECT_EQ(list.entries[i], drives[i].entryText);
    EXPECT_EQ(list.selected, 0);
}

// A drive's mount point is backed up under the drive's label, whatever bytes udev wrote it
// with; any other folder under its own name, as the command line names it.
TEST(DriveDiscovery, AFolderIsNamedAfterItsDriveOrItself) {
    ScratchFolder root;
    BuildMachine(root);
    fs::create_directories(root / "dev/disk/by-label");
    fs::create_symlink("../../sde1", root / "dev/disk/by-label/A\\x2fB\\x20CAF\\x82");
    root.WriteFile("sys/block/sde/removable", "1\n");
    root.WriteFile("sys/block/sde/sde1/partition", "1\n");
    root.WriteFile("dev/sde1", "");
    root.WriteFile("proc/self/mountinfo", test::ReadWholeFile(root / "proc/self/mountinfo") +
                                              "35 22 8:65 / /media/u/ODD rw - vfat /dev/sde1 rw\n");
    struct Case {
        const char* folder;
        std::optional<std::string> label;
    } cases[] = {
        {"/media/u/My Card", "CARD"},
        {"/media/u/3A5F-1C22", ""},  // an unlabelled stick keeps its empty label
        {"/media/u/ODD", std::string("A/B CAF\x82")},
        {"/media/u/STICK/Photos", "Photos"},
        {"/home/me/Some Folder", "Some Folder"},
        {"/", std::nullopt},
    };
    for (const auto& c : cases) {
        SourceChoice source = SourceOfFolder(c.folder, root.path());
        EXPECT_EQ(source.root, c.folder);
        EXPECT_EQ(source.label, c.label) << c.folder;
    }
}

TEST(DriveDiscovery, WithoutUdevLinksDrivesAreListedByMountPointAlone) {
    ScratchFolder root;
    BuildMachine(root);
    fs::remove_all(root / "dev/disk");
    auto drives = ListSourceDrives(root.path());
    // The stick mounted through a by-uuid link cannot be traced to its disk any more.
    std::vector<std::string> entries;
    for (const auto& drive : drives) {
        entries.push_back(drive.entryText);
        EXPECT_FALSE(drive.label) << drive.entryText;
    }
    EXPECT_EQ(entries,
              (std::vector<std::string>{"/media/u/My Card", "/media/u/Secret", "/media/u/STICK"}));
}

TEST(DriveDiscovery, RecorderEntryTexts) {
    ScratchFolder root;
    BuildMachine(root);
    struct Case {
        const char* path;
        const char* text;
    } cases[] = {
        {"/dev/sr0", "/dev/sr0 (HL-DT-ST DVDRAM GH24NSD1)"},
        {"/dev/cdrom", "/dev/sr0 (HL-DT-ST DVDRAM GH24NSD1)"},
        {"/dev/../dev/sr0", "/dev/sr0 (HL-DT-ST DVDRAM GH24NSD1)"},
        {"/dev/sr1", "/dev/sr1"},  // the drive reports no vendor or model
        {"/dev/SR0", ""},          // device names are case-sensitive
        {"/dev/sr7", ""},          // no such drive
        {"/dev/sdb", ""},          // a removable disk, not a recorder
        {"sr0", ""},
        {"", ""},
        {"image:DVD:4700372992:/home/u/Corvane Discs", "DVD images in /home/u/Corvane Discs"},
        {"image:1 MiB:1048576:/tmp/discs", "1 MiB images in /tmp/discs"},
        {"image:DVD", ""},
    };
    for (auto c : cases) EXPECT_EQ(RecorderEntryText(c.path, root.path()), c.text) << c.path;
}

// A disc master that only lists recorders, logging every call.
using CallLog = std::vector<std::string>;

Status NotUsed() {
    ADD_FAILURE() << "not called while listing recorders";
    return Status(Status::Code::NotImplemented, "not used");
}

class StubRecorder : public IDiscRecorder {
  public:
    StubRecorder(std::string path, CallLog& log) : path_(std::move(path)), log_(log) {}
    std::string GetPath() override {
        log_.push_back("GetPath " + path_);
        return path_;
    }
    Status OpenExclusive() override { return NotUsed(); }
    Status QueryMediaType(int&, unsigned&) override { return NotUsed(); }
    Status Close() override {
        log_.push_back("Close " + path_);
        return Status::Ok();
    }

  private:
    std::string path_;
    CallLog& log_;
};

class StubEnum : public IEnumDiscRecorders {
  public:
    StubEnum(const std::vector<std::string>& paths, CallLog& log) : log_(log) {
        for (const auto& path : paths)
            recorders_.push_back(std::make_shared<StubRecorder>(path, log));
    }
    std::shared_ptr<IDiscRecorder> Next() override {
        log_.push_back("Next");
        return next_ < recorders_.size() ? recorders_[next_++] : nullptr;
    }

  private:
    std::vector<std::shared_ptr<IDiscRecorder>> recorders_;
    std::size_t next_ = 0;
    CallLog& log_;
};

class StubMaster : public IDiscMaster {
  public:
    explicit StubMaster(std::vector<std::string> recorderPaths) : paths(std::move(recorderPaths)) {}
    Status Open() override {
        log.push_back("Open");
        return openFails ? Status(Status::Code::Unavailable, "no disc service") : Status::Ok();
    }
    Status EnumDiscRecorders(std::unique_ptr<IEnumDiscRecorders>& recorders) override {
        log.push_back("EnumDiscRecorders");
        if (enumFails) return Status(Status::Code::IoError, "scan failed");
        recorders = std::make_unique<StubEnum>(paths, log);
        return Status::Ok();
    }
    Status Close() override {
        log.push_back("Close");
        return Status::Ok();
    }
    Status SetActiveDiscMasterFormat(IJolietDiscMaster*&) override { return NotUsed(); }
    Status ProgressAdvise(IDiscMasterProgressEvents*, std::uint32_t&) override { return NotUsed(); }
    Status ProgressUnadvise(std::uint32_t) override { return NotUsed(); }
    Status SetActiveDiscRecorder(const std::shared_ptr<IDiscRecorder>&) override {
        return NotUsed();
    }
    Status RecordDisc(bool, bool) override { return NotUsed(); }

    std::vector<std::string> paths;
    bool openFails = false;
    bool enumFails = false;
    CallLog log;
};

TEST(DriveDiscovery, RecorderListIsSortedAndTheJobFindsEachEntryAgain) {
    ScratchFolder root;
    BuildMachine(root);
    StubMaster master({"image:DVD:4700372992:/home/u/Corvane Discs", "/dev/sr1", "/dev/sdb",
                       "image:CD:734003200:/home/u/Corvane Discs", "/dev/cdrom"});
    auto list = FillRecorderList(&master, root.path());

    EXPECT_EQ(list.entries,
              (std::vector<std::string>{"/dev/sr0 (HL-DT-ST DVDRAM GH24NSD1)", "/dev/sr1",
                                        "CD images in /home/u/Corvane Discs",
                                        "DVD images in /home/u/Corvane Discs"}));
    EXPECT_EQ(list.selected, 0);
    CallLog expectedCalls = {"Open", "EnumDiscRecorders"};
    for (const auto& path : master.paths) {
        expectedCalls.insert(expectedCalls.end(), {"Next", "GetPath " + path, "Close " + path});
    }
    expectedCalls.insert(expectedCalls.end(), {"Next", "Close"});
    EXPECT_EQ(master.log, expectedCalls);

    // The job enumerates again and takes the first recorder whose entry text is the selection.
    std::vector<std::string> chosen;
    for (const auto& entry : list.entries) {
        for (const auto& path : master.paths) {
            if (RecorderEntryText(path, root.path()) == entry) {
                chosen.push_back(path);
                break;
            }
        }
    }
    EXPECT_EQ(chosen, (std::vector<std::string>{"/dev/cdrom", "/dev/sr1",
                                                "image:CD:734003200:/home/u/Corvane Discs",
                                                "image:DVD:4700372992:/home/u/Corvane Discs"}));
}

// A drive the disc layer left out is listed with the reason it cannot be used, never dropped.
TEST(DriveDiscovery, DrivesLeftOutAreListedWithTheirReason) {
    ScratchFolder root;
    BuildMachine(root);  // sr0 holds a mounted disc
    // sr2 is known to the kernel but has no device node yet: not listed until it has one.
    root.WriteFile("sys/block/sr2/removable", "1\n");
    const unsigned cdrom = 24;
    root.WriteFile("dev/sr1", "");
    ASSERT_EQ(::chown((root / "dev/sr1").c_str(), 0, cdrom), 0);
    ASSERT_EQ(::chmod((root / "dev/sr1").c_str(), 0660), 0);
    const group* owner = ::getgrgid(cdrom);
    const std::string groupName = owner ? owner->gr_name : std::to_string(cdrom);
    const std::string mounted = "/dev/sr0 (HL-DT-ST DVDRAM GH24NSD1): mounted at /media/u/BACKUP DISC: unmount it to burn";
    const std::string images = "image:CD:734003200:/home/u/Corvane Discs";
    struct Case {
        const char* what;
        std::vector<std::string> listed;
        Caller caller;
        std::vector<std::string> entries;
    } cases[] = {
        {"a user outside the drive's group", {images}, {1000, {1000}},
         {mounted, "/dev/sr1: no permission: join the group " + groupName + ", then log in again",
          "CD images in /home/u/Corvane Discs"}},
        {"a user in the group", {images}, {1000, {1000, cdrom}},
         {mounted, "/dev/sr1: in use by another program", "CD images in /home/u/Corvane Discs"}},
        {"a drive listed through its link", {"/dev/cdrom", images}, {0, {}},
         {"/dev/sr0 (HL-DT-ST DVDRAM GH24NSD1)", "/dev/sr1: in use by another program",
          "CD images in /home/u/Corvane Discs"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StubMaster master(c.listed);
        auto list = FillRecorderList(&master, root.path(), &c.caller);
        EXPECT_EQ(list.entries, c.entries);
        EXPECT_EQ(list.selected, 0) << "a drive, never an image recorder in its place";
    }
}

TEST(DriveDiscovery, RecorderListStaysEmptyWhenTheMasterFails) {
    ScratchFolder root;
    BuildMachine(root);
    struct Case {
        const char* what;
        bool openFails;
        bool enumFails;
        std::vector<std::string> paths;
        CallLog calls;
    } cases[] = {
        {"open fails", true, false, {"/dev/sr0"}, {"Open", "Close"}},
        {"enumeration fails", false, true, {"/dev/sr0"}, {"Open", "EnumDiscRecorders", "Close"}},
        {"no recorders", false, false, {}, {"Open", "EnumDiscRecorders", "Next", "Close"}},
    };
    for (const auto& c : cases) {
        StubMaster master(c.paths);
        master.openFails = c.openFails;
        master.enumFails = c.enumFails;
        auto list = FillRecorderList(&master, root.path());
        EXPECT_TRUE(list.entries.empty()) << c.what;
        EXPECT_EQ(list.selected, -1) << c.what;
        EXPECT_EQ(master.log, c.calls) << c.what;
    }
    auto none = FillRecorderList(nullptr, root.path());
    EXPECT_TRUE(none.entries.empty());
    EXPECT_EQ(none.selected, -1);
}

TEST(DriveDiscovery, LiveSystemListsNoOpticalDrive) {
    auto mounts = ReadMountTable("/");
    for (const auto& drive : ListSourceDrives("/")) {
        auto mount = MountOfPath(mounts, drive.mountPoint);
        ASSERT_TRUE(mount) << drive.entryText;
        EXPECT_FALSE(IsOpticalMount(*mount)) << drive.entryText;
        EXPECT_EQ(SourceOfFolder(drive.mountPoint, "/").label, drive.label) << drive.entryText;
    }
    // An optical drive is listed exactly when the machine has one.
    StubMaster master({"/dev/sr0", "/dev/null"});
    auto list = FillRecorderList(&master, "/");
    EXPECT_EQ(list.entries.empty(), !fs::exists("/sys/block/sr0"));
    EXPECT_EQ(RecorderEntryText("/dev/null", "/"), "");
}

}  // namespace
}  // namespace corvane
