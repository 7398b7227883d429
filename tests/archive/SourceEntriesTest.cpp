// What a backup does with every kind of entry a real source tree can hold besides plain files
// and folders: links inside and outside it, special files, a folder that cannot be entered,
// files swapped or changed between the listing and the reading. Each is stored or listed with
// its reason, never passed over, and nothing outside the source reaches a disc.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "JobRig.h"
#include "support/FaultyFileSystem.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::JobRig;

constexpr const char* kSecret = "SECRET-OUTSIDE-THE-SOURCE";

// A Unix socket bound at path; the socket file stays after the descriptor is closed.
bool MakeSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) ::close(fd);
    return bound;
}

TEST(SourceEntries, EveryLinkAndSpecialFileIsStoredOrListedAndNothingOutsideIsRead) {
    JobRig rig;
    test::ScratchFolder outside;
    const std::string secret = outside.WriteFile("private.txt", kSecret);
    const std::string shrinking = test::SampleBytes(300000, 7);
    const std::string& src = rig.source.path();
    rig.source.WriteFile("plain.txt", "plain");
    rig.source.WriteFile("Docs/inside.txt", "reached through a link");
    rig.source.WriteFile("growing.log", std::string(10000, 'g'));
    rig.source.WriteFile("shrinking.bin", shrinking);
    rig.source.WriteFile("swapped-for-fifo.txt", "listed as a file");
    rig.source.WriteFile("swapped-for-link.txt", "listed as a file");
    fs::create_symlink("Docs/inside.txt", rig.source / "link-inside");
    fs::create_symlink(secret, rig.source / "link-outside");
    fs::create_symlink("/proc/self/environ", rig.source / "link-environ");
    fs::create_symlink("/dev/null", rig.source / "link-devnull");
    fs::create_symlink("Docs", rig.source / "link-folder");
    fs::create_symlink("nowhere", rig.source / "dangling");
    fs::create_symlink("../" + fs::path(src).filename().string() + "/plain.txt", rig.source / "link-out-and-back");
    ASSERT_EQ(::mkfifo((rig.source / "fifo").c_str(), 0644), 0);
    ASSERT_TRUE(MakeSocket(rig.source / "socket"));

    std::set<std::string> listed = {
        src + "/link-outside: it is a link that leads outside the source",
        src + "/link-environ: it is a link that leads outside the source",
        src + "/link-devnull: it is a link that leads outside the source",
        src + "/link-folder: it is a link to a folder",
        src + "/dangling: it is a link that leads nowhere",
        src + "/fifo: it is a FIFO (named pipe)",
        src + "/socket: it is a socket",
        src + "/swapped-for-fifo.txt: it is a FIFO (named pipe)",
        src + "/swapped-for-link.txt: it is a link that leads outside the source",
        src + "/growing.log: changed while it was read",
        src + "/shrinking.bin: changed while it was read",
    };
    // Devices can only be made by root (with the right to make them); a folder that can be
    // listed but not entered stops only others than root.
    const bool root = ::geteuid() == 0;
    if (root && ::mknod((rig.source / "device").c_str(), S_IFCHR | 0644, ::makedev(1, 3)) == 0)
        listed.insert(src + "/device: it is a device");
    if (!root) {
        rig.source.WriteFile("Locked/hidden.txt", "cannot be reached");
        fs::permissions(rig.source / "Locked", fs::perms(0644));
        listed.insert(src + "/Locked/hidden.txt: Cannot open " + src + "/Locked/hidden.txt: Permission denied");
    }

    test::FaultyFileSystem files;
    rig.host.files = &files;
    // Between the archiver's listing of the root (the second, after measuring) and its reading.
    files.afterListing = [&, listings = 0](const std::string& folder) mutable {
        if (folder != src || ++listings != 2) return;
        fs::remove(rig.source / "swapped-for-fifo.txt");
        ASSERT_EQ(::mkfifo((rig.source / "swapped-for-fifo.txt").c_str(), 0644), 0);
        fs::remove(rig.source / "swapped-for-link.txt");
        fs::create_symlink(secret, rig.source / "swapped-for-link.txt");
    };
    files.whileReading = [&](const std::string& path) {
        if (path == rig.source / "growing.log") {
            std::ofstream(path, std::ios::app) << std::string(50000, 'G');
        } else if (path == rig.source / "shrinking.bin") {
            fs::resize_file(path, 1000);
        }
    };

    EXPECT_EQ(rig.Run(), BackupOutcome::Incomplete);
    if (!root) fs::permissions(rig.source / "Locked", fs::perms(0755));  // so the folder can be removed
    EXPECT_EQ(rig.host.status, "Completed, " + std::to_string(listed.size()) + " left out or changed");
    EXPECT_EQ(std::set<std::string>(rig.host.leftOut.begin(), rig.host.leftOut.end()), listed);
    EXPECT_EQ(rig.host.leftOut.size(), listed.size()) << "each entry listed once";
    ASSERT_FALSE(rig.host.messages.empty());
    EXPECT_EQ(rig.host.messages.back().text.rfind("The backup was recorded, but " + std::to_string(listed.size()) +
                                                      " items were left out or changed:\n",
                                                  0),
              0u);

    auto stored = rig.StoredFiles();
    ASSERT_TRUE(stored.count("shrinking.bin"));
    const std::string shrunk = stored["shrinking.bin"];
    EXPECT_LT(shrunk.size(), shrinking.size());
    EXPECT_EQ(shrunk, shrinking.substr(0, shrunk.size())) << "stored as it was read";
    stored.erase("shrinking.bin");
    EXPECT_EQ(stored, (std::map<std::string, std::string>{
                          {"plain.txt", "plain"},
                          {"Docs/inside.txt", "reached through a link"},
                          {"link-inside", "reached through a link"},
                          {"link-out-and-back", "plain"},  // leaves the source by name only
                          {"growing.log", std::string(10000, 'g') + std::string(50000, 'G')},  // to its end, as read
                      }));
    for (const auto& [path, content] : rig.StoredFiles())
        EXPECT_EQ(content.find(kSecret), std::string::npos) << path << " holds what lies outside the source";
}

}  // namespace
}  // namespace corvane
