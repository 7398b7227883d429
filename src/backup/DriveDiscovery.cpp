#include "backup/DriveDiscovery.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "disc/RecorderPath.h"
#include "platform/MountTable.h"

namespace corvane {

namespace fs = std::filesystem;

namespace {

// Device-mapper devices stacked deeper than this are not followed to their disks.
constexpr int kMaxStackDepth = 8;

// An absolute system path below the root.
fs::path Rooted(const std::string& root, const std::string& path) {
    return fs::path(root) / fs::path(path).relative_path();
}

// The names in a folder; none when it cannot be listed.
std::vector<std::string> FolderNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    return names;
}

bool IsFolder(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

// The first line of a small file (a sysfs attribute) without surrounding blanks.
std::string ReadAttribute(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    auto first = std::find_if_not(line.begin(), line.end(), blank);
    auto last = std::find_if_not(line.rbegin(), line.rend(), blank).base();
    return first < last ? std::string(first, last) : std::string();
}

// Follows the links of an absolute path below the root (udev's links are relative, so they
// stay inside a fixture root) and gives the path it ends at, seen from the root. Nothing when
// the path does not exist or leads out of the root.
std::optional<std::string> ResolveInRoot(const std::string& root, const std::string& path) {
    if (path.empty() || path[0] != '/') return std::nullopt;
    std::error_code error;
    fs::path base = fs::canonical(root, error);
    if (error) return std::nullopt;
    fs::path target = fs::canonical(Rooted(root, path), error);
    if (error) return std::nullopt;
    fs::path inside = target.lexically_relative(base);
    if (inside.empty() || *inside.begin() == "..") return std::nullopt;
    return "/" + inside.generic_string();
}

// The disk a block device belongs to: the device itself when it is a whole disk, else the
// disk that lists it as a partition. Works for any naming (sdb1, mmcblk0p1, nvme0n1p1).
std::optional<std::string> DiskOf(const std::string& root, const std::string& name) {
    if (name.empty() || name == "." || name == "..") return std::nullopt;
    fs::path block = Rooted(root, "/sys/block");
    if (IsFolder(block / name)) return name;
    std::error_code error;
    for (const auto& disk : FolderNames(block)) {
        if (fs::is_regular_file(block / disk / name / "partition", error)) return disk;
    }
    return std::nullopt;
}

struct BlockDevice {
    std::string name;  // kernel name, e.g. "sdb1"
    std::string disk;  // e.g. "sdb"
};

// The block device of a mount: through its source path (which may be a link such as
// /dev/disk/by-uuid/..., or /dev/mapper/...), else through its device numbers.
std::optional<BlockDevice> FindBlockDevice(const std::string& root, const MountEntry& mount) {
    std::vector<std::string> names;
    if (mount.source.rfind("/dev/", 0) == 0) {
        auto node = ResolveInRoot(root, mount.source);
        if (node && node->rfind("/dev/", 0) == 0) names.push_back(fs::path(*node).filename());
    }
    std::string numbers = std::to_string(mount.major) + ":" + std::to_string(mount.minor);
    std::error_code error;
    fs::path sysfsDevice = fs::canonical(Rooted(root, "/sys/dev/block/" + numbers), error);
    if (!error) names.push_back(sysfsDevice.filename());
    for (const auto& name : names) {
        if (auto disk = DiskOf(root, name)) return BlockDevice{name, *disk};
    }
    return std::nullopt;
}

// A disk with the removable flag, or a device-mapper device (an encrypted stick) that sits
// only on such disks.
bool IsRemovableDisk(const std::string& root, const std::string& disk, int depth) {
    fs::path folder = Rooted(root, "/sys/block") / disk;
    if (ReadAttribute(folder / "removable") == "1") return true;
    auto slaves = FolderNames(folder / "slaves");
    if (slaves.empty() || depth == 0) return false;
    return std::all_of(slaves.begin(), slaves.end(), [&](const std::string& slave) {
        auto slaveDisk = DiskOf(root, slave);
        return slaveDisk && IsRemovableDisk(root, *slaveDisk, depth - 1);
    });
}

// udev writes bytes outside a safe set in link names as \xNN.
std::string DecodeUdevName(std::string_view name) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' && hex(name[i + 2]) >= 0 &&
            hex(name[i + 3]) >= 0) {
            out += static_cast<char>(hex(name[i + 2]) * 16 + hex(name[i + 3]));
            i += 3;
        } else {
            out += name[i];
        }
    }
    return out;
}

// The label of the file system on a device, from udev's /dev/disk/by-label links: empty when
// no link leads to the device, nothing when the system keeps no /dev/disk links at all.
std::optional<std::string> ReadLabel(const std::string& root, const std::string& device) {
    if (!IsFolder(Rooted(root, "/dev/disk"))) return std::nullopt;
    for (const auto& name : FolderNames(Rooted(root, "/dev/disk/by-label"))) {
        if (ResolveInRoot(root, "/dev/disk/by-label/" + name) == device)
            return DecodeUdevName(name);
    }
    return std::string();
}

std::string SourceEntryText(const std::string& mountPoint,
                            const std::optional<std::string>& label) {
    return label ? mountPoint + " (" + *label + ")" : mountPoint;
}

// The order of a sorted list: letters compared without case, ties by bytes.
bool ListsBefore(const std::string& a, const std::string& b) {
    auto folded = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    std::string foldedA = folded(a);
    std::string foldedB = folded(b);
    return foldedA != foldedB ? foldedA < foldedB : a < b;
}

// A list of entries in display order with the first one selected.
DriveList ListOf(std::vector<std::string> entries) {
    DriveList list;
    list.selected = entries.empty() ? -1 : 0;
    list.entries = std::move(entries);
    return list;
}

bool IsOpticalDriveNode(const std::string& node) {
    constexpr std::string_view kPrefix = "/dev/sr";
    if (node.size() <= kPrefix.size() || node.compare(0, kPrefix.size(), kPrefix) != 0)
        return false;
    return std::all_of(node.begin() + kPrefix.size(), node.end(),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
}

}  // namespace

std::vector<SourceDrive> ListSourceDrives(const std::string& root) {
    std::vector<SourceDrive> drives;
    for (const auto& mount : ReadMountTable(root)) {
        if (IsOpticalMount(mount)) continue;
        auto device = FindBlockDevice(root, mount);
        if (!device || !IsRemovableDisk(root, device->disk, kMaxStackDepth)) continue;
        SourceDrive drive;
        drive.mountPoint = mount.mountPoint;
        drive.device = "/dev/" + device->name;
        drive.label = ReadLabel(root, drive.device);
        drive.entryText = SourceEntryText(drive.mountPoint, drive.label);
        drives.push_back(std::move(drive));
    }
    std::sort(drives.begin(), drives.end(), [](const SourceDrive& a, const SourceDrive& b) {
        return ListsBefore(a.entryText, b.entryText);
    });
    return drives;
}

SourceChoice SourceOfFolder(const std::string& folder, const std::string& root) {
    for (const auto& drive : ListSourceDrives(root))
        if (drive.mountPoint == folder) return {folder, drive.label};
    std::string name = fs::path(folder).filename().string();
    if (name.empty()) return {folder, std::nullopt};
    return {folder, name};
}

DriveList FillSourceList(const std::string& root) {
    std::vector<std::string> entries;
    for (auto& drive : ListSourceDrives(root)) entries.push_back(std::move(drive.entryText));
    return ListOf(std::move(entries));
}

std::string RecorderEntryText(std::string_view devicePath, const std::string& root) {
    ImageRecorderPath image;
    if (ParseImageRecorderPath(devicePath, image)) {
        return image.medium + " images in " + image.folder;
    }
    auto node = ResolveInRoot(root, std::string(devicePath));
    if (!node || !IsOpticalDriveNode(*node)) return {};
    fs::path drive = Rooted(root, "/sys/block") / fs::path(*node).filename();
    std::string vendor = ReadAttribute(drive / "device" / "vendor");
    std::string model = ReadAttribute(drive / "device" / "model");
    std::string name = vendor.empty() || model.empty() ? vendor + model : vendor + " " + model;
    return name.empty() ? *node : *node + " (" + name + ")";
}

Caller CurrentCaller() {
    Caller caller{::getuid(), {::getgid()}};
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
    if (count > 0 && ::getgroups(count, groups.data()) == count)
        caller.groups.insert(caller.groups.end(), groups.begin(), groups.end());
    return caller;
}

std::vector<UnusableDrive> UnusableDriveEntries(const std::string& root,
                                              const std::vector<std::string>& listed,
                                              const Caller& caller) {
    std::vector<std::string> listedNodes;
    for (const auto& path : listed)
        if (auto node = ResolveInRoot(root, path)) listedNodes.push_back(*node);
    const auto mounts = ReadMountTable(root);
    std::vector<UnusableDrive> entries;
    for (const auto& name : FolderNames(Rooted(root, "/sys/block"))) {
        const std::string node = "/dev/" + name;
        if (!IsOpticalDriveNode(node) || std::ranges::find(listedNodes, node) != listedNodes.end())
            continue;
        // A drive whose node is not made yet (udev follows the kernel) is listed once it is:
        // the window looks at /dev again when it changes.
        struct stat info {};
        if (::stat(Rooted(root, node).c_str(), &info) != 0) continue;
        std::string reason = "in use by another program";
        // libburn opens the drive for reading and writing.
        const bool mayOpen =
            caller.uid == 0 ||
            (info.st_uid == caller.uid && (info.st_mode & S_IRUSR) && (info.st_mode & S_IWUSR)) ||
            (std::ranges::find(caller.groups, info.st_gid) != caller.groups.end() &&
             (info.st_mode & S_IRGRP) && (info.st_mode & S_IWGRP)) ||
            ((info.st_mode & S_IROTH) && (info.st_mode & S_IWOTH));
        auto mounted = std::ranges::find_if(mounts, [&](const MountEntry& mount) {
            return ResolveInRoot(root, mount.source) == node;
        });
        if (mounted != mounts.end()) {
            reason = "mounted at " + mounted->mountPoint + ": unmount it to burn";
        } else if (!mayOpen) {
            const group* owner = ::getgrgid(info.st_gid);
            reason = "no permission: join the group " +
                     (owner ? std::string(owner->gr_name) : std::to_string(info.st_gid)) +
                     ", then log in again";
        }
        entries.push_back({node, RecorderEntryText(node, root) + ": " + reason});
    }
    return entries;
}

DriveList FillRecorderList(IDiscMaster* master, const std::string& root, const Caller* caller) {
    std::vector<std::pair<std::string, std::string>> entries;  // text, device
    std::vector<std::string> listed;
    std::unique_ptr<IEnumDiscRecorders> recorders;
    bool enumerated = false;
    if (master && master->Open().ok() && master->EnumDiscRecorders(recorders).ok() && recorders) {
        enumerated = true;
        while (auto recorder = recorders->Next()) {
            listed.push_back(recorder->GetPath());
            std::string text = RecorderEntryText(listed.back(), root);
            if (!text.empty()) entries.emplace_back(std::move(text), listed.back());
            recorder->Close();
        }
    }
    recorders.reset();
    if (master) master->Close();
    // A master that failed could not tell which drives are usable.
    DriveList list;
    if (enumerated && caller)
        for (auto& drive : UnusableDriveEntries(root, listed, *caller)) {
            list.unusable.push_back(drive.entry);
            entries.emplace_back(std::move(drive.entry), std::move(drive.node));
        }
    std::ranges::sort(entries, ListsBefore, [](const auto& entry) { return entry.first; });
    for (auto& [text, device] : entries) {
        list.entries.push_back(std::move(text));
        list.devices.push_back(std::move(device));
    }
    list.selected = list.entries.empty() ? -1 : 0;
    return list;
}

}  // namespace corvane
