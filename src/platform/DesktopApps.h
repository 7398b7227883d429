#pragma once
// The desktop's applications and which of them open which kind of file, as desktop entries
// (applications/ below $XDG_DATA_HOME and $XDG_DATA_DIRS) and mimeapps.list files (in the
// XDG config folders, then those applications/ folders) declare it. Read afresh on every
// call, so a change the user makes shows at the next Open.

#include <optional>
#include <string>
#include <vector>

#include "platform/Status.h"

namespace corvane {

struct DesktopApp {
    std::string id;    // desktop file id: "org.example.Viewer.desktop"
    std::string name;  // Name
    std::string exec;  // Exec, field codes unexpanded
    std::string icon;  // Icon: a theme icon name or a file path
    std::vector<std::string> mimeTypes;
    bool noDisplay = false;
    bool terminal = false;  // a program for a terminal: started in one
};

// The file's MIME type from its name and its content: "inode/directory" for a folder,
// "application/octet-stream" when nothing matches.
std::string MimeTypeOf(const std::string& path);

// The application that opens mimeType (or, failing that, a parent type such as text/plain for
// C source): the first installed one named under [Default Applications], else the most
// preferred associated one.
std::optional<DesktopApp> DefaultAppFor(const std::string& mimeType);

// Every application that opens mimeType or one of its parent types, the default first, then
// in order of preference. Entries marked Hidden or NoDisplay are left out (except the default).
std::vector<DesktopApp> AppsFor(const std::string& mimeType);

// The program and its arguments that open path with app: field codes expanded (%f %F to the
// path, %u %U to its file: URL, each one argument whatever it holds; %% to %; others dropped),
// the path appended when Exec takes no file. No shell is involved. A terminal program is
// run by the desktop's terminal emulator (x-terminal-emulator -e).
Status ExecArguments(const DesktopApp& app, const std::string& path,
                     std::vector<std::string>& arguments);

// Starts app on path as a process of its own; the program does not wait for it. NotFound when
// the program is missing, AccessDenied when it may not be run.
Status Launch(const DesktopApp& app, const std::string& path);

}  // namespace corvane
