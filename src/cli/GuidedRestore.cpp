#include "cli/GuidedRestore.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "archive/StreamFormat.h"
#include "cli/ListCommand.h"
#include "cli/RestoreCommand.h"
#include "extract/StoredPath.h"

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

// A mount point as /proc/self/mountinfo writes it: space, tab, newline and '\' as octal escapes.
std::string Unescaped(const std::string& field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const bool escape = field[i] == '\\' && i + 4 <= field.size() &&
                            field.find_first_not_of("01234567", i + 1) >= i + 4;
        if (escape) {
            text += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

// The disc folder and every other mount point holding streams of the same backup.
std::vector<std::string> DiscsOfTheBackup(const std::string& discFolder, const StreamNameParts& backup) {
    std::vector<std::string> discs = {discFolder};
    std::ifstream mounts("/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::string field, mountPoint;
        for (int i = 0; i < 5 && fields >> field; ++i) mountPoint = field;
        mountPoint = Unescaped(mountPoint);
        std::error_code error;
        if (mountPoint.empty() || fs::equivalent(mountPoint, discFolder, error)) continue;
        const auto other = BackupIn(mountPoint);
        if (other && other->label == backup.label && other->timeStamp == backup.timeStamp) discs.push_back(mountPoint);
    }
    return discs;
}

// One answer typed on the terminal, without its line end; none at the end of input. The
// question may hold names from the disc: their control characters are shown as '?'.
std::optional<std::string> Answer(const std::string& question) {
    std::fputs(ShownStoredText(question).c_str(), stdout);
    std::fflush(stdout);
    std::string line;
    for (int c; (c = std::fgetc(stdin)) != '\n';) {
        if (c == EOF) {
            std::fputs("\n", stdout);
            return std::nullopt;
        }
        line += static_cast<char>(c);
    }
    return line;
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
    RunListCommand(discs);
    std::puts("A backup that spans several discs restores in full only when all its discs are mounted.");

    auto what = Answer("What to restore? Enter for everything, or a folder or file from the drive's root "
                       "(e.g. Docs/2008): ");
    if (!what) return 1;
    const char* homeVariable = std::getenv("HOME");
    std::error_code error;
    const std::string home = homeVariable && *homeVariable ? homeVariable : fs::current_path(error).string();
    std::string name = backup->label;
    std::replace(name.begin(), name.end(), '/', '_');
    auto where = Destination(home, home + "/" + name);
    if (!where) return 1;

    std::vector<std::string> args = discs;
    args.insert(args.end(), {"--to", *where});
    if (!what->empty()) args.insert(args.end(), {"--only", *what});
    const int status = RunRestoreCommand(args);
    std::fflush(stderr);
    Answer("Press Enter to close.");
    return status;
}

}  // namespace corvane
