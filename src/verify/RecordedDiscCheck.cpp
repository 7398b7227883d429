#include "verify/RecordedDiscCheck.h"

#include <algorithm>

#include "disc/ImageFileSystem.h"
#include "extract/StoredPath.h"
#include "verify/DiscVerifier.h"

namespace corvane {

namespace {

// At most this many damaged items are named in the question; the rest are counted.
constexpr std::size_t kNamedDamage = 8;

std::string Describe(const DiscReport& report) {
    std::string text;
    std::size_t shown = 0;
    for (const DiscDamage& damage : report.damage) {
        if (shown++ == kNamedDamage) {
            text += "and " + std::to_string(report.damage.size() - kNamedDamage) + " more\n";
            break;
        }
        std::string item = damage.stream;
        if (!damage.file.empty()) item += (item.empty() ? "" : ": ") + damage.file;
        text += (item.empty() ? "" : ShownStoredText(item) + ": ") + damage.why + "\n";
    }
    if (!text.empty()) text.pop_back();
    return text;
}

}  // namespace

std::function<std::string(const std::string& place)> RecordedDiscCheck(BackupHost& host) {
    return [&host](const std::string& place) {
        host.SetStatus("Verifying disc...");
        host.SetProgress(0);
        std::uint64_t total = 0, done = 0;
        VerifyProgress progress;
        progress.cancel = &host.cancelRequested;
        progress.startDisc = [&](const std::string&, std::uint64_t bytes) { total = bytes; };
        progress.advance = [&](std::uint64_t bytes) {
            done += bytes;
            if (total) host.SetProgress(static_cast<int>(std::min<std::uint64_t>(100, done * 100 / total)));
        };
        // The place is one disc image whatever its name: a drive's device, a stdio drive's file.
        ImageFileSystem files(*host.files, {place});
        const DiscReport report = VerifyDisc(files, place, nullptr, nullptr, progress);
        host.SetProgress(100);
        return Describe(report);
    };
}

}  // namespace corvane
