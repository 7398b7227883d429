#pragma once
// A question or notice for the user, as workers and dialogs raise it. Each front end shows it
// its own way: a message box in the windows, a line and a prompt on the terminal.

#include <string>

namespace corvane {

enum class MessageIcon { Information, Warning, Error, Question };
enum class MessageButtons { Ok, YesNo, RetryCancel };
enum class MessageAnswer { Ok, Yes, No, Retry, Cancel };

inline constexpr const char* kProductTitle = "Corvane";

struct Message {
    std::string text;
    MessageIcon icon = MessageIcon::Warning;
    MessageButtons buttons = MessageButtons::Ok;
    std::string caption = kProductTitle;
    // A Yes/No question whose default button is No: pressing Enter does not say yes.
    bool defaultNo = false;
};

}  // namespace corvane
