#include "cli/TerminalExtractHost.h"

namespace corvane {

TerminalExtractHost::TerminalExtractHost(Terminal& terminal, std::string destination, std::string overwrite)
    : terminal_(terminal), destination_(std::move(destination)), overwrite_(std::move(overwrite)) {}

void TerminalExtractHost::SetStatus(const std::string& text) {
    if (text == "Cancelled" || text == "Extracted" || text == "Error") return;
    terminal_.Progress(text);
}

MessageAnswer TerminalExtractHost::Ask(const Message& message) {
    ++failures;
    return terminal_.Ask(message);
}

void TerminalExtractHost::RestoredUnder(const std::string& shownPath, const std::string& targetPath) {
    terminal_.Ask({"corvane restore: " + shownPath + " was restored under another name, as " + targetPath +
                   " (the destination cannot hold its name, or another file of the restore has it)"});
}

void TerminalExtractHost::NotRestored(const std::string& shownPath, const std::string& reason) {
    ++notRestored;
    terminal_.Ask({"corvane restore: not restored: " + shownPath + ": " + reason});
}

OverwriteAnswer TerminalExtractHost::AskOverwrite(const std::string& target) {
    if (overwrite_ == "yes") return OverwriteAnswer::Yes;
    if (overwrite_ == "no") return OverwriteAnswer::No;
    if (!terminal_.interactive()) {
        terminal_.Ask({target + " exists: give --overwrite yes or no to decide without a terminal"});
        ++failures;
        return OverwriteAnswer::Cancel;
    }
    return terminal_.Ask({target + " exists. Replace it?", MessageIcon::Question, MessageButtons::YesNo}) ==
                   MessageAnswer::Yes
               ? OverwriteAnswer::Yes
               : OverwriteAnswer::No;
}

}  // namespace corvane
