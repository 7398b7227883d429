#include "cli/TerminalBackupHost.h"

#include "extract/StoredPath.h"

namespace corvane {

TerminalBackupHost::TerminalBackupHost(Terminal& terminal, std::string recorderEntry, SourceChoice source,
                                       std::string password, bool encrypt)
    : terminal_(terminal), recorderEntry_(std::move(recorderEntry)), source_(std::move(source)),
      password_(std::move(password)), encrypt_(encrypt) {}

TerminalBackupHost::~TerminalBackupHost() {
    for (const auto& path : stagedFiles) files->RemoveFile(path);
}

void TerminalBackupHost::SetStatus(const std::string& text) {
    // Folder names reach the terminal here: their control characters are shown as '?'.
    const std::string shown = ShownStoredText(text);
    if (shown == status_) return;
    status_ = shown;
    // Folder paths change often: they go on the live line; every other status is a line.
    if (!shown.empty() && shown[0] == '/') {
        ShowLiveLine(false);
    } else {
        terminal_.Say(shown);
    }
}

void TerminalBackupHost::ShowCounters(std::uint64_t, std::uint64_t) { ShowLiveLine(false); }

void TerminalBackupHost::SetProgress(int percent) {
    progress_ = percent;
    ShowLiveLine(false);
}

void TerminalBackupHost::ShowLiveLine(bool force) {
    terminal_.Progress(std::to_string(progress_) + "%  read " + FormatCount(bytesRead) + ", stored " +
                           FormatCount(bytesWritten) + "  " + status_,
                       force);
}

}  // namespace corvane
