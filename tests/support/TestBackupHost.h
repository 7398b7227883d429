#pragma once
// A backup host for tests: records every display call and message in order, answers
// messages from a script, returns scripted selections and password, and waits on an
// InstantClock. Single-threaded: read what it recorded after the code under test returns.

#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/BackupHost.h"
#include "support/InstantClock.h"

namespace corvane::test {

class TestBackupHost final : public BackupHost {
public:
    // The test programs have no portable restorer beside them: the notice that the discs will
    // not carry it is counted as given (DiscPayloadTest asks for it).
    TestBackupHost() {
        clock = &instantClock;
        restorerMissingTold = true;
    }

    void SetStatus(const std::string& text) override;
    std::string StatusText() override { return status; }
    void ShowCounters(std::uint64_t read, std::uint64_t written) override;
    void ShowProgress() override;
    void SetProgress(int percent) override;
    int Progress() override { return progress; }
    void SetCancelEnabled(bool enabled) override;
    void SetInputsEnabled(bool enabled) override;
    MessageAnswer Ask(const Message& message) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    std::optional<std::string> RecorderSelection() override { return recorderSelection; }
    std::optional<SourceChoice> SourceSelection() override { return sourceSelection; }
    std::string Password() override { return password; }
    bool EncryptFiles() override { return encrypt; }

    // The rest of every log entry that starts with prefix, in order:
    // Entries("SetStatus ") lists the status texts.
    std::vector<std::string> Entries(std::string_view prefix) const;

    // Every call in order, as text: "SetStatus Accessing media...", "ShowCounters 4096 4096",
    // "ShowProgress", "SetProgress 25", "SetCancelEnabled 0", "SetInputsEnabled 1",
    // "Ask <text>", "BeginWaitCursor", "EndWaitCursor".
    std::vector<std::string> log;
    // Called after each log entry, for instance to press Cancel part-way through.
    std::function<void(const std::string& entry)> onLog;
    // Every message asked, whole.
    std::vector<Message> messages;

    // Script: answers to messages in turn, then defaultAnswer.
    std::deque<MessageAnswer> answers;
    MessageAnswer defaultAnswer = MessageAnswer::Cancel;
    std::optional<std::string> recorderSelection = "/dev/sr0";
    std::optional<SourceChoice> sourceSelection;
    std::string password;
    bool encrypt = false;

    // Current state of the displays.
    std::string status;
    int progress = 0;
    bool progressShown = false;
    bool cancelEnabled = true;
    bool inputsEnabled = true;
    int waitCursorDepth = 0;

    InstantClock instantClock;

private:
    void Log(std::string entry);
};

}  // namespace corvane::test
