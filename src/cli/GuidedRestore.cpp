#include "cli/GuidedRestore.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <vector>

#include <termios.h>

#include "archive/StreamFormat.h"
#include "cli/ListCommand.h"
#include "cli/RestoreCommand.h"
#include "cli/Terminal.h"
#include "extract/StoredPath.h"
#include "platform/MountTable.h"

namespace corvane {

namespace {

namespace fs = std::filesystem;

// The backup the streams of a folder belong to: "<label> <stamp>" of its first stream name,
// in name order; none when the folder holds no stream.
std::optional<StreamNameParts> BackupIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        StreamNameParts parts;
        if (ParseStreamName(name, parts)) return parts;
    }
    return std::nullopt;
}

// The disc folder and every other mount point holding streams of the same backup.
std::vector<std::string> DiscsOfTheBackup(const std::string& discFolder, const StreamNameParts& backup) {
    std::vector<std::string> discs = {discFolder};
    // The kernel's own file systems, and automounts that listing could trigger, hold no disc.
    static const std::set<std::string> kNoDisc = {"proc",   "sysfs",     "cgroup",   "cgroup2",  "devpts",
                                                  "devtmpfs", "mqueue",  "debugfs",  "tracefs",  "securityfs",
                                                  "pstore", "bpf",       "configfs", "fusectl",  "hugetlbfs",
                                                  "autofs", "binfmt_misc", "efivarfs", "rpc_pipefs", "nfsd"};
    for (const MountEntry& mount : ReadMountTable("/")) {
        std::error_code error;
        if (kNoDisc.count(mount.fsType) || fs::equivalent(mount.mountPoint, discFolder, error)) continue;
        const auto other = BackupIn(mount.mountPoint);
        if (other && other->label == backup.label && other->timeStamp == backup.timeStamp)
            discs.push_back(mount.mountPoint);
    }
    return discs;
}

// One answer typed on the terminal, without its line end; none at the end of input. The
// question may hold names from the disc: their control characters are shown as '?'.
std::optional<std::string> Answer(const std::string& question) {
    std::fputs(ShownStoredText(question).c_str(), stdout);
    std::fflush(stdout);
    std::string line;
    if (!ReadLine(stdin, line)) {
        std::fputs("\n", stdout);
        return std::nullopt;
    }
    return line;
}

// The password typed without echo; none at the end of input or for an empty answer.
std::optional<std::string> PasswordAnswer(const std::string& question, bool& ended) {
    termios saved{};
    const bool terminal = ::tcgetattr(0, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(0, TCSANOW, &quiet);
    }
    auto typed = Answer(question);
    if (terminal) ::tcsetattr(0, TCSANOW, &saved);
    if (typed) std::fputs("\n", stdout);
    ended = !typed;
    if (!typed || typed->empty()) return std::nullopt;
    return typed;
}

// Where to restore: the default folder or the one typed ("~/" stands for home, as in a shell);
// a folder that holds files already is used only when the user says so, anything that is not
// a folder is asked again.
std::optional<std::string> Destination(const std::string& home, const std::string& suggested) {
    for (;;) {
        auto typed = Answer("Restore into which folder? [" + suggested + "] ");
        if (!typed) return std::nullopt;
        std::string folder = typed->empty() ? suggested : *typed;
        if (folder == "~" || folder.starts_with("~/")) folder = home + folder.substr(1);
        std::error_code error;
        if (fs::exists(folder, error) && !fs::is_directory(folder, error)) {
            std::printf("%s is not a folder.\n", ShownStoredText(folder).c_str());
            continue;
        }
        if (!fs::exists(folder, error) || fs::is_empty(folder, error)) return folder;
        for (;;) {
            auto yes = Answer(folder + " is not empty. Restore into it (you are asked about each file that "
                                       "exists)? [y/N] ");
            if (!yes) return std::nullopt;
            if (*yes == "y" || *yes == "Y" || *yes == "yes") return folder;
            if (yes->empty() || *yes == "n" || *yes == "N" || *yes == "no") break;
            std::puts("Please answer y or n.");
        }
    }
}

}  // namespace

int RunGuidedRestore(const std::string& discFolder) {
    const auto backup = BackupIn(discFolder);
    if (!backup) {
        std::printf("There is no backup in %s.\nRun 'corvane-restore help' to restore from another place.\n",
                    ShownStoredText(discFolder).c_str());
        return 1;
    }
    const std::vector<std::string> discs = DiscsOfTheBackup(discFolder, *backup);
    // Names from the discs reach the terminal with their control characters shown as '?'.
    std::printf("The backup %s on:\n", ShownStoredText(backup->label).c_str());
    for (const std::string& disc : discs) std::printf("  %s\n", ShownStoredText(disc).c_str());
    std::fflush(stdout);
    // A protected backup asks for its password first, so that the tree shows its names.
    std::optional<std::string> password;
    KeyRing keys;  // a backup's key is derived once for the whole dialogue
    const bool isProtected = LookAtBackup(discs, "", std::nullopt).isProtected;
    while (isProtected) {
        bool ended = false;
        password = PasswordAnswer("The backup is protected. Password (Enter to leave its protected folders out): ",
                                  ended);
        if (ended) return 1;
        if (!password || LookAtBackup(discs, "", password, &keys).opensEveryFolder) break;
        std::puts("Invalid Password");
    }
    ListPlaces(discs, password, &keys);
    std::puts("A backup that spans several discs restores in full only when all its discs are mounted.");

    std::optional<std::string> what;
    for (;;) {
        what = Answer("What to restore? Enter for everything, or a folder or file from the drive's root "
                      "(e.g. Docs/2008): ");
        if (!what) return 1;
        if (what->empty() || LookAtBackup(discs, *what, password, &keys).holdsOnly) break;
        std::printf("Nothing in the backup is named %s.\n", ShownStoredText(*what).c_str());
    }
    const char* homeVariable = std::getenv("HOME");
    std::error_code error;
    const std::string home = homeVariable && *homeVariable ? homeVariable : fs::current_path(error).string();
    std::string name = backup->label;
    std::replace(name.begin(), name.end(), '/', '_');
    auto where = Destination(home, home + "/" + name);
    if (!where) return 1;

    const int status = RestoreFromPlaces({discs, *where, *what, password, "ask", &keys});
    std::fflush(stderr);
    Answer("Press Enter to close.");
    return status;
}

}  // namespace corvane
