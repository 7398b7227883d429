#pragma once
// The entries of the backup window's two lists: the removable drives to back up and the
// recorders to back up onto. The window keeps the drive behind each source entry; the backup
// job finds the chosen recorder again by building the same text the same way, so an entry's
// path is never parsed out of its text.
//
// Everything is read below a system root: "/" on a live system, a fixture folder in tests.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/BackupHost.h"
#include "disc/DiscMaster.h"

namespace corvane {

// A mounted file system on a removable drive.
struct SourceDrive {
    std::string mountPoint;  // e.g. "/media/u/My Stick"
    // The file system label; empty for an unlabelled one, nullopt when labels cannot be read
    // on this system (no /dev/disk links).
    std::optional<std::string> label;
    std::string device;     // the block device, e.g. "/dev/sdb1"
    std::string entryText;  // "<mount point> (<label>)", or the mount point alone
};

// The texts of one list in the order it shows them, and the index of the selected one: the
// first, or -1 when the list is empty.
struct DriveList {
    std::vector<std::string> entries;
    int selected = -1;
    // Of the recorder list: the recorder path or device node each entry names, in the order
    // of the entries, and the entries that name a drive which cannot be used, with reasons.
    std::vector<std::string> devices;
    std::vector<std::string> unusable;
};

// Mounted file systems whose disk has the removable flag, optical discs excepted, sorted by
// entry text as the list shows them.
std::vector<SourceDrive> ListSourceDrives(const std::string& root);

// What backing up a folder means: a removable drive's mount point is named after the drive's
// label; any other folder after its own name (none for "/").
SourceChoice SourceOfFolder(const std::string& folder, const std::string& root);

// The source list: the entries of ListSourceDrives, the first one selected.
DriveList FillSourceList(const std::string& root);

// The recorder entry text of a recorder's device path, or empty when the path names no
// recorder here. An optical drive ("/dev/sr0", or a link to it such as "/dev/cdrom") shows as
// its device node with the vendor and model the drive reports, e.g. "/dev/sr0 (ACME DVD-RW)";
// an image-file recorder as "<medium> images in <folder>". Device paths are compared as the
// file system does, case included.
std::string RecorderEntryText(std::string_view devicePath, const std::string& root);

// Who opens a device: a user and the groups the user is in.
struct Caller {
    unsigned uid = 0;
    std::vector<unsigned> groups;
};
// The user and groups of this process.
Caller CurrentCaller();

// The optical drives of the system that the disc layer did not list, each as its entry text
// with the reason it cannot be used: "/dev/sr1 (ACME DVD-RW): mounted at /media/u/DISC:
// unmount it to burn", "...: no permission: join the group cdrom, then log in again",
// "...: in use by another program". listed: the device paths the disc layer gave.
struct UnusableDrive {
    std::string node;   // "/dev/sr1"
    std::string entry;  // "/dev/sr1 (ACME DVD-RW): in use by another program"
};
std::vector<UnusableDrive> UnusableDriveEntries(const std::string& root,
                                              const std::vector<std::string>& listed,
                                              const Caller& caller);

// The recorder list: opens the master, enumerates its recorders, lists each one that has an
// entry text, closes every recorder and then the master, adds the drives it left out
// with their reasons (UnusableDriveEntries), and selects the first entry: the drives sort
// before the image recorders, so a drive the user has is selected, never an image recorder in
// its place. A null master (none could be created), or one that cannot be opened or
// enumerated, lists no recorder; no message is shown. caller: who would open the drives; nullptr
// when the master does not look for drives, so a drive it leaves out says nothing. May run on
// any thread.
DriveList FillRecorderList(IDiscMaster* master, const std::string& root, const Caller* caller = nullptr);

}  // namespace corvane
