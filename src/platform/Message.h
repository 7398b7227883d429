#pragma once
// A question or notice for the user, as workers and dialogs raise it. Each front end shows it
// its own way: a message box in the windows, a line and a prompt on the terminal.

#include <string>
#include <vector>

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

// A heading and, one a line below it, up to mostShown of lines and how many more there are: a
// message that names many things stays on the screen.
inline std::string ListedLines(const std::string& heading, const std::vector<std::string>& lines,
                               std::size_t mostShown = 20) {
    std::string text = heading;
    for (std::size_t i = 0; i < lines.size() && i < mostShown; ++i) text += "\n" + lines[i];
    if (lines.size() > mostShown) text += "\n(and " + std::to_string(lines.size() - mostShown) + " more)";
    return text;
}

}  // namespace corvane
