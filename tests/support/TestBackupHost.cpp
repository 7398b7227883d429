#include "support/TestBackupHost.h"

namespace corvane::test {

void TestBackupHost::Log(std::string entry) {
    log.push_back(std::move(entry));
    if (onLog) onLog(log.back());
}

void TestBackupHost::SetStatus(const std::string& text) {
    status = text;
    Log("SetStatus " + text);
}

void TestBackupHost::ShowCounters(std::uint64_t read, std::uint64_t written) {
    Log("ShowCounters " + std::to_string(read) + " " + std::to_string(written));
}

void TestBackupHost::ShowProgress() {
    progressShown = true;
    Log("ShowProgress");
}

void TestBackupHost::SetProgress(int percent) {
    progress = percent;
    Log("SetProgress " + std::to_string(percent));
}

void TestBackupHost::SetCancelEnabled(bool enabled) {
    cancelEnabled = enabled;
    Log(enabled ? "SetCancelEnabled 1" : "SetCancelEnabled 0");
}

void TestBackupHost::SetInputsEnabled(bool enabled) {
    inputsEnabled = enabled;
    Log(enabled ? "SetInputsEnabled 1" : "SetInputsEnabled 0");
}

MessageAnswer TestBackupHost::Ask(const Message& message) {
    messages.push_back(message);
    MessageAnswer answer = defaultAnswer;
    if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
    }
    Log("Ask " + message.text);
    return answer;
}

void TestBackupHost::BeginWaitCursor() {
    ++waitCursorDepth;
    Log("BeginWaitCursor");
}

void TestBackupHost::EndWaitCursor() {
    --waitCursorDepth;
    Log("EndWaitCursor");
}

std::vector<std::string> TestBackupHost::Entries(std::string_view prefix) const {
    std::vector<std::string> found;
    for (const auto& entry : log)
        if (entry.starts_with(prefix)) found.push_back(entry.substr(prefix.size()));
    return found;
}

}  // namespace corvane::test
