#include "cli/VerifyCommand.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <set>

#include "cli/Arguments.h"
#include "cli/Terminal.h"
#include "disc/ImageFileSystem.h"
#include "extract/StoredPath.h"
#include "restore/BackupCatalog.h"
#include "verify/DiscVerifier.h"

namespace corvane {

namespace {

const std::string kVerifyUsage = std::string(
    "Usage: corvane verify PLACE... [--password-file FILE] [--names CODEPAGE]\n"
    "\n"
    "Checks the backup discs in the PLACEs (disc image files (.iso) read without mounting\n"
    "them, mounted discs, or folders holding stream files or disc images): every stream's\n"
    "checksum, every chunk decoded and every file's content against the catalogue of the\n"
    "backup that each disc carries, then whether every disc of the set is given, as the\n"
    "newest catalogue knows it (it also says whether more discs follow it). Streams without a\n"
    "catalogue (older backups, other writers) are checked as far as the format allows: the\n"
    "layout is whole and every chunk decodes. Prints a table per disc: OK, or the damaged\n"
    "streams and files by name.\n"
    "\n"
    "  --password-file FILE  the backup password, on the first line of FILE: the chunks of\n"
    "                        encrypted folders decode only with it\n"
    ) + kNamesOptionHelp +
    "\n"
    "Exit status: 0 when every disc given is good and every set is complete; 1 when a disc is\n"
    "damaged or cannot be read, a disc of a set is missing, a PLACE holds no disc, the password\n"
    "given opens no encrypted folder, or the check was cancelled; 2 for wrong arguments.\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "corvane verify: %s\n\n%s", message.c_str(), kVerifyUsage.c_str());
    return 2;
}

// A backup as the report names it: with the time of day its catalogue records when the places
// hold discs of another backup of the same name (the same drive, the same minute).
std::string BackupTitle(const std::string& name, std::int64_t time, const std::set<std::string>& sharedNames) {
    std::string title = ShownStoredText(name);
    if (time && sharedNames.count(name)) title += " made at " + FormatTime(time, "%H:%M:%S");
    return title;
}

std::string DiscTitle(const DiscReport& disc, const std::set<std::string>& sharedNames) {
    std::string title = ShownStoredText(disc.place);
    if (!disc.backupName.empty()) {
        title += " (" + BackupTitle(disc.backupName, disc.backupTime, sharedNames);
        if (disc.disc) title += ", disc " + std::to_string(disc.disc);
        title += ")";
    }
    return title;
}

// The disc's table: a row per damaged stream or file, columns padded to their widest entry.
void PrintDisc(const DiscReport& disc, const std::set<std::string>& sharedNames) {
    std::printf("%s\n", DiscTitle(disc, sharedNames).c_str());
    if (!disc.checkedAs.empty())
        std::printf("  checked %s: %llu streams, %llu files\n", disc.checkedAs.c_str(),
                    static_cast<unsigned long long>(disc.streams), static_cast<unsigned long long>(disc.files));
    if (!disc.imageChecksum.empty()) std::printf("  image MD5 sum: %s\n", disc.imageChecksum.c_str());
    for (const std::string& note : disc.notes) std::printf("  note: %s\n", ShownStoredText(note).c_str());
    if (disc.good()) {
        std::printf("  OK\n");
        return;
    }
    std::size_t streamWidth = 6, fileWidth = 4;
    for (const DiscDamage& damage : disc.damage) {
        streamWidth = std::max(streamWidth, ShownStoredText(damage.stream).size());
        fileWidth = std::max(fileWidth, ShownStoredText(damage.file).size());
    }
    const int sw = static_cast<int>(streamWidth), fw = static_cast<int>(fileWidth);
    std::printf("  %-*s  %-*s  %s\n", sw, "Stream", fw, "File", "Damage");
    for (const DiscDamage& damage : disc.damage)
        std::printf("  %-*s  %-*s  %s\n", sw, damage.stream.empty() ? "-" : ShownStoredText(damage.stream).c_str(),
                    fw, damage.file.empty() ? "-" : ShownStoredText(damage.file).c_str(), damage.why.c_str());
    std::printf("  DAMAGED: %zu problem%s\n", disc.damage.size(), disc.damage.size() == 1 ? "" : "s");
}

void PrintSet(const SetReport& set, const std::set<std::string>& sharedNames) {
    const std::string name = BackupTitle(set.backupName, set.backupTime, sharedNames);
    if (set.discs == 0) {
        std::printf("Backup %s: no catalogue given, %s\n", name.c_str(),
                    set.problems.empty() ? "no stream missing" : "streams are missing");
        for (const std::string& problem : set.problems) std::printf("  %s\n", problem.c_str());
        return;
    }
    std::printf("Backup %s: %s%u disc%s", name.c_str(), set.continues ? "at least " : "", set.discs,
                set.discs == 1 ? "" : "s");
    if (set.missing.empty()) {
        std::printf(", all given\n");
        return;
    }
    std::printf(", missing:");
    for (std::uint32_t disc : set.missing) std::printf(" disc %u", disc);
    std::printf("\n");
}

// The names that more than one backup given has.
std::set<std::string> SharedNames(const std::vector<SetReport>& sets) {
    std::set<std::string> seen, shared;
    for (const SetReport& set : sets)
        if (!seen.insert(set.backupName).second) shared.insert(set.backupName);
    return shared;
}

}  // namespace

int RunVerifyCommand(const std::vector<std::string>& args) {
    Arguments arguments(args, {"help"}, {"password-file", "names"});
    if (arguments.Has("help")) {
        std::fputs(kVerifyUsage.c_str(), stdout);
        return 0;
    }
    if (!arguments.ok()) return UsageError(arguments.error());
    if (arguments.Operands().empty()) return UsageError("name at least one PLACE");
    std::string why;
    if (!SelectNamesOption(arguments, why)) return UsageError(why);
    KeyRing keys;
    const bool passwordGiven = arguments.Value("password-file").has_value();
    if (auto file = arguments.Value("password-file")) {
        std::string password;
        if (!ReadPasswordFile(*file, password, why)) return UsageError(why);
        keys.AddPassword(password);
    }

    ImageFileSystem files(DefaultFileSystem());
    Terminal terminal(false);
    std::atomic<int> cancel{0};
    InterruptGuard guard(&cancel);
    std::string disc;
    std::uint64_t total = 0, done = 0;
    VerifyProgress progress;
    progress.cancel = &cancel;
    progress.startDisc = [&](const std::string& place, std::uint64_t bytes) {
        disc = ShownStoredText(place);
        total = bytes;
        done = 0;
        terminal.Progress("Verifying " + disc + "...", true);
    };
    progress.advance = [&](std::uint64_t bytes) {
        done += bytes;
        const unsigned percent = total ? static_cast<unsigned>(std::min<std::uint64_t>(100, done * 100 / total)) : 100;
        terminal.Progress("Verifying " + disc + ": " + std::to_string(percent) + "%");
    };
    const VerifyReport report = VerifyPlaces(files, arguments.Operands(), &keys, progress);
    terminal.ClearLiveLine();

    for (const std::string& line : report.skipped) std::fprintf(stderr, "corvane verify: %s\n", line.c_str());
    if (cancel.load()) {
        std::fputs("corvane verify: cancelled\n", stderr);
        return 1;
    }
    // A password that opens no encrypted folder is said in the words restore and list use.
    const bool passwordRefused =
        passwordGiven && std::any_of(report.discs.begin(), report.discs.end(),
                                     [](const DiscReport& each) { return each.lockedStreams > 0; });
    if (passwordRefused)
        std::fputs("corvane verify: Invalid Password: it does not open the encrypted folders\n", stderr);
    const std::set<std::string> sharedNames = SharedNames(report.sets);
    for (const DiscReport& each : report.discs) PrintDisc(each, sharedNames);
    for (const SetReport& set : report.sets) PrintSet(set, sharedNames);
    const bool good = report.good() && !passwordRefused;
    std::printf("%s\n", good ? "Every disc given is good and every set complete." : "Verification FAILED.");
    return good ? 0 : 1;
}

}  // namespace corvane
