#include "cli/BackupCommand.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "archive/BackupJob.h"
#include "archive/StreamFormat.h"
#include "backup/DriveDiscovery.h"
#include "cli/Arguments.h"
#include "cli/TerminalBackupHost.h"
#include "disc/DiscLayer.h"
#include "disc/RecorderPath.h"
#include "verify/RecordedDiscCheck.h"

namespace corvane {

const char* const kBackupUsage =
    "Usage: corvane backup SOURCE (--recorder NAME | --images DIR) [--capacity SIZE]\n"
    "                      [--password-file FILE [--encrypt]] [--verify] [--yes]\n"
    "\n"
    "Backs up the folder SOURCE (usually a USB stick's mount point) onto discs, one stream\n"
    "file per folder; when a disc is full it is recorded and the backup goes on on the next.\n"
    "\n"
    "  --recorder NAME       record onto this optical drive, e.g. /dev/sr0\n"
    "  --images DIR          write each disc as an ISO image file into DIR instead; the files\n"
    "                        are named '<label> <time> disc NN.iso' and sort in disc order\n"
    "  --capacity SIZE       capacity of each image disc: a byte count with an optional K, M\n"
    "                        or G suffix (powers of 1024), or cd, dvd, dvd-dl, bd in any case\n"
    "                        (default dvd)\n"
    "  --password-file FILE  protect the backup with the password on the first line of FILE\n"
    "                        (at most 16 bytes); alone it guards browsing, it does not encrypt\n"
    "  --encrypt             encrypt the files, their names and folder paths with that\n"
    "                        password (Argon2id, XChaCha20-Poly1305): without the password\n"
    "                        nothing of them can be read from the discs\n"
    "  --verify              read each disc back after recording it and check it as\n"
    "                        'corvane verify' does (a drive ejects the disc afterwards);\n"
    "                        a disc that does not verify is named and, on retry, recorded\n"
    "                        again on a new disc\n"
    "  --yes                 answer yes to the confirmation and to every 'insert another\n"
    "                        disc' question; without it they are asked on the terminal, and\n"
    "                        answered no when there is no terminal\n"
    "\n"
    "The backup is named after SOURCE's volume label when SOURCE is a removable drive, else\n"
    "after the folder's name. Exit status: 0 when everything was backed up; 1 when the backup\n"
    "failed, was cancelled or had to leave files out; 2 for wrong arguments.\n";

namespace {

int UsageError(const std::string& message) {
    std::fprintf(stderr, "corvane backup: %s\n\n%s", message.c_str(), kBackupUsage);
    return 2;
}

std::string Lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The medium of an image disc: a named size (cd, dvd, dvd-dl, bd, in any case) or a byte count.
bool ParseCapacity(const std::string& text, const std::string& folder, ImageRecorderPath& medium) {
    for (const auto& preset : DefaultImageRecorders(folder)) {
        std::string name = Lowercase(preset.medium);
        std::replace(name.begin(), name.end(), ' ', '-');
        if (name == Lowercase(text)) {
            medium = preset;
            return true;
        }
    }
    auto bytes = ParseByteCount(text);
    if (!bytes || *bytes == 0) return false;
    medium = {text, *bytes, folder};
    return true;
}

std::set<std::string> IsoFilesIn(const std::string& folder) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.path().extension() == ".iso") names.insert(entry.path().filename().string());
    return names;
}

}  // namespace

int RunBackupCommand(const std::vector<std::string>& args) {
    Arguments arguments(args, {"yes", "help", "encrypt", "verify"}, {"recorder", "images", "capacity", "password-file"});
    if (arguments.Has("help")) {
        std::fputs(kBackupUsage, stdout);
        return 0;
    }
    if (!arguments.ok()) return UsageError(arguments.error());
    if (arguments.Operands().size() != 1) return UsageError("name one SOURCE folder");
    const auto recorderName = arguments.Value("recorder");
    const auto imageFolder = arguments.Value("images");
    if (recorderName.has_value() == imageFolder.has_value()) return UsageError("give either --recorder or --images");

    std::error_code error;
    const std::filesystem::path sourcePath = std::filesystem::canonical(arguments.Operands()[0], error);
    if (error || !std::filesystem::is_directory(sourcePath)) {
        std::fprintf(stderr, "corvane backup: %s is not a folder that can be read\n", arguments.Operands()[0].c_str());
        return 1;
    }

    std::string password;
    const bool encrypt = arguments.Has("encrypt");
    if (encrypt && !arguments.Value("password-file")) return UsageError("--encrypt needs the password, given with --password-file");
    if (auto file = arguments.Value("password-file")) {
        std::string why;
        if (!ReadPasswordFile(*file, password, why)) return UsageError(why);
        if (password.size() > 16) return UsageError("the password is longer than 16 bytes");
        if (std::string untypable = UntypablePassword(password); !untypable.empty())
            return UsageError(untypable);
    }

    DiscLayerOptions options;
    std::string recorderEntry;
    if (imageFolder) {
        std::filesystem::create_directories(*imageFolder, error);
        std::string folder = std::filesystem::absolute(*imageFolder, error).lexically_normal().string();
        if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        ImageRecorderPath medium{"DVD", kDvdCapacity, folder};
        if (auto capacity = arguments.Value("capacity"); capacity && !ParseCapacity(*capacity, folder, medium))
            return UsageError("cannot understand the capacity '" + *capacity + "'");
        options.imageRecorders = {medium};
        options.scanOpticalDrives = false;
        recorderEntry = RecorderEntryText(MakeImageRecorderPath(medium), "/");
    } else {
        if (arguments.Value("capacity")) return UsageError("--capacity goes with --images");
        options.scanOpticalDrives = true;
        recorderEntry = RecorderEntryText(*recorderName, "/");
        if (recorderEntry.empty()) {
            std::fprintf(stderr, "corvane backup: %s is not a disc recorder\n", recorderName->c_str());
            return 1;
        }
    }

    const std::set<std::string> imagesBefore = imageFolder ? IsoFilesIn(*imageFolder) : std::set<std::string>{};
    Terminal terminal(arguments.Has("yes"));
    TerminalBackupHost host(terminal, recorderEntry, SourceOfFolder(sourcePath.string(), "/"), password,
                            encrypt);
    if (arguments.Has("verify")) host.verifyRecordedDisc = RecordedDiscCheck(host);
    BackupJobServices services{[options] { return std::shared_ptr<IDiscMaster>(CreateDiscMaster(options)); },
                               [](const std::string& path) { return RecorderEntryText(path, "/"); }};
    BackupOutcome outcome;
    {
        InterruptGuard guard(&host.cancelRequested, &host.recording, &host.stopAfterRecording);
        outcome = RunBackupJob(host, services);
    }

    if (imageFolder) {
        for (const auto& name : IsoFilesIn(*imageFolder))
            if (!imagesBefore.count(name)) terminal.Say("Wrote " + (std::filesystem::path(*imageFolder) / name).string());
    }
    terminal.Say(std::to_string(host.filesDone) + " files; read " + FormatCount(host.bytesRead) + ", stored " +
                 FormatCount(host.bytesWritten));
    switch (outcome) {
        case BackupOutcome::Completed: return 0;
        case BackupOutcome::Incomplete:
            std::fprintf(stderr, "corvane backup: not everything was backed up (%zu left out%s)\n", host.leftOut.size(),
                         host.changedWhileRead > 0 ? " or changed" : "");
            return 1;
        case BackupOutcome::Cancelled:
            std::fprintf(stderr, "corvane backup: cancelled%s\n", InterruptGuard::Interrupted() ? " by a signal" : "");
            return 1;
        case BackupOutcome::Failed:
        case BackupOutcome::NotStarted:
            std::fprintf(stderr, "corvane backup: the backup failed%s%s\n", host.failure.empty() ? "" : ": ",
                         host.failure.c_str());
            return 1;
    }
    return 1;
}

}  // namespace corvane
