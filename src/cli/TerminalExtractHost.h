#pragma once
// The extractor's host on the terminal: statuses become lines, what was not restored or was
// restored under another name is named on standard error, files are counted, the overwrite
// question is answered by --overwrite or asked on the terminal.

#include <string>

#include "cli/Terminal.h"
#include "extract/ExtractHost.h"

namespace corvane {

class TerminalExtractHost final : public ExtractHost {
public:
    // overwrite: "yes", "no" or "ask".
    TerminalExtractHost(Terminal& terminal, std::string destination, std::string overwrite);

    void SetStatus(const std::string& text) override;
    void ShowProgress() override {}
    void SetProgress(int) override {}
    std::string Destination() override { return destination_; }
    MessageAnswer Ask(const Message& message) override;
    OverwriteAnswer AskOverwrite(const std::string& target) override;
    void Restored(const std::string&) override { ++restoredFiles; }
    void RestoredUnder(const std::string& shownPath, const std::string& targetPath) override;
    void NotRestored(const std::string& shownPath, const std::string& reason) override;
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}

    // Problems, each counted once: entries not restored, and messages (no destination, an
    // overwrite question nobody can answer).
    int problems() const { return notRestored + failures; }

    int restoredFiles = 0;
    int notRestored = 0;
    int failures = 0;

private:
    Terminal& terminal_;
    std::string destination_;
    std::string overwrite_;
};

}  // namespace corvane
