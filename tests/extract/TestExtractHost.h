#pragma once
// An extract host for tests: records what the extractor shows, answers the overwrite prompt
// from a script and may request cancel from within a progress update.

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "extract/ExtractHost.h"

namespace corvane::test {

class TestExtractHost final : public ExtractHost {
  public:
    explicit TestExtractHost(std::string destinationText)
        : destination(std::move(destinationText)) {
        lastDestination = &remembered;
    }
    ~TestExtractHost() override { EXPECT_EQ(waitDepth, 0) << "wait cursor left on"; }

    void SetStatus(const std::string& text) override { statuses.push_back(text); }
    void ShowProgress() override { ++progressShown; }
    void SetProgress(int percent) override {
        // Filed under the status line of the moment: the file being written.
        progressUnder[status()].push_back(percent);
        if (onProgress) onProgress(*this, percent);
    }
    std::string Destination() override { return destination; }
    MessageAnswer Ask(const Message& message) override {
        messages.push_back(message);
        return MessageAnswer::Ok;
    }
    OverwriteAnswer AskOverwrite(const std::string& targetPath) override {
        prompts.push_back(targetPath);
        if (onPrompt) onPrompt(*this);
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected overwrite prompt for " << targetPath;
            return OverwriteAnswer::Cancel;
        }
        OverwriteAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void Restored(const std::string& targetPath) override { restored.push_back(targetPath); }
    void RestoredUnder(const std::string& shownPath, const std::string& targetPath) override {
        renamed.emplace_back(shownPath, targetPath);
    }
    void NotRestored(const std::string& shownPath, const std::string& reason) override {
        notRestored.emplace_back(shownPath, reason);
    }
    void BeginWaitCursor() override { ++waitDepth; }
    void EndWaitCursor() override { --waitDepth; }

    std::string status() const { return statuses.empty() ? std::string() : statuses.back(); }

    std::string destination;
    std::deque<OverwriteAnswer> answers;
    std::function<void(TestExtractHost&, int)> onProgress;
    std::function<void(TestExtractHost&)> onPrompt;

    std::vector<std::string> statuses;
    std::vector<Message> messages;
    std::vector<std::string> prompts;
    std::vector<std::string> restored;                               // targets, in order
    std::vector<std::pair<std::string, std::string>> renamed;        // shown, target
    std::vector<std::pair<std::string, std::string>> notRestored;    // shown, reason
    std::map<std::string, std::vector<int>> progressUnder;
    int progressShown = 0;
    int waitDepth = 0;
    std::string remembered;
};

}  // namespace corvane::test
