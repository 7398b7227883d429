#pragma once
// The one place where dialogs and workers show message boxes. Tests install a scripted
// prompt that records each message and plays back answers.

#include <QWidget>

#include "platform/Message.h"

namespace corvane {

class Prompt {
public:
    virtual ~Prompt() = default;
    // Shows the message and returns the user's answer. Called on the GUI thread.
    virtual MessageAnswer Show(QWidget* owner, const Message& message) = 0;
};

// The prompt in force: message boxes unless a test installed another.
Prompt& CurrentPrompt();
// Installs a prompt (nullptr restores the message boxes); the caller keeps ownership.
void SetPrompt(Prompt* prompt);

// Shows a message through the current prompt from any thread: a worker's call blocks until
// the GUI thread has the answer.
MessageAnswer Ask(QWidget* owner, const Message& message);

}  // namespace corvane
