#pragma once
// The backup host of the command line: the job runs on the calling thread, statuses become
// lines, counters and the progress bar a live line, questions go to the terminal.

#include "backup/BackupHost.h"
#include "cli/Terminal.h"

namespace corvane {

class TerminalBackupHost final : public BackupHost {
public:
    TerminalBackupHost(Terminal& terminal, std::string recorderEntry, SourceChoice source, std::string password,
                       bool encrypt);
    ~TerminalBackupHost() override;

    void SetStatus(const std::string& text) override;
    std::string StatusText() override { return status_; }
    void ShowCounters(std::uint64_t bytesRead, std::uint64_t bytesWritten) override;
    void ShowProgress() override { progress_ = 0; }
    void SetProgress(int percent) override;
    int Progress() override { return progress_; }
    void SetCancelEnabled(bool) override {}
    void SetInputsEnabled(bool) override {}
    MessageAnswer Ask(const Message& message) override { return terminal_.Ask(message); }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    std::optional<std::string> RecorderSelection() override { return recorderEntry_; }
    std::optional<SourceChoice> SourceSelection() override { return source_; }
    std::string Password() override { return password_; }
    bool EncryptFiles() override { return encrypt_; }

private:
    void ShowLiveLine(bool force);

    Terminal& terminal_;
    std::string recorderEntry_;
    SourceChoice source_;
    std::string password_;
    bool encrypt_;
    std::string status_;
    int progress_ = 0;
};

}  // namespace corvane
