#pragma once
// Stands in for message boxes in widget tests: records every message and answers it through
// a script. Installed for its lifetime; the prompt it replaced comes back after it.

#include <functional>
#include <vector>

#include "platform/Prompt.h"

namespace corvane::test {

class ScriptedPrompt final : public Prompt {
public:
    ScriptedPrompt() : previous_(&CurrentPrompt()) { SetPrompt(this); }
    ~ScriptedPrompt() override { SetPrompt(previous_); }

    MessageAnswer Show(QWidget*, const Message& message) override {
        messages.push_back(message);
        if (answer) return answer(message);
        return message.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& m : messages) texts.push_back(m.text);
        return texts;
    }

    // Runs on the GUI thread while the message is "shown".
    std::function<MessageAnswer(const Message&)> answer;
    std::vector<Message> messages;

private:
    Prompt* previous_;
};

}  // namespace corvane::test
