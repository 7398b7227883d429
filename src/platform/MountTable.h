#pragma once
// The mount table, read from a root folder ("/" on a live system, a fixture in tests), and
// the drive type of a path, which decides the program's role at start-up.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

struct MountEntry {
    unsigned major = 0;  // device numbers of the mounted file system
    unsigned minor = 0;
    std::string mountPoint;
    std::string fsType;
    std::string source;  // e.g. /dev/sdb1, tmpfs
};

// Parses the text of /proc/self/mountinfo; malformed lines are passed over.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// Reads <root>/proc/self/mountinfo; empty when it cannot be read.
std::vector<MountEntry> ReadMountTable(const std::string& root);

// The mount that holds an absolute path: the one with the longest mount point that is a
// prefix of the path on a folder boundary (the last one listed wins a tie, as it is on top).
std::optional<MountEntry> MountOfPath(const std::vector<MountEntry>& mounts, std::string_view path);

// True for a file system that lives on an optical disc: an iso9660 or udf file system, or
// one mounted from a /dev/sr* device (SCSI CD-ROM major 11).
bool IsOpticalMount(const MountEntry& mount);

// The mount points of the optical discs mounted under the root, in mount order.
std::vector<std::string> MountedDiscs(const std::string& root);

// True when the path lies on an optical disc. An empty path (the current folder could not
// be read) is not.
bool IsOnOpticalDisc(const std::vector<MountEntry>& mounts, std::string_view path);

}  // namespace corvane
