#include "platform/DesktopApps.h"

#include <unistd.h>

#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "platform/KeyFile.h"

namespace corvane {

namespace {

namespace fs = std::filesystem;

constexpr const char* kEntryGroup = "Desktop Entry";
constexpr const char* kDefaults = "Default Applications";
constexpr const char* kAdded = "Added Associations";
constexpr const char* kRemoved = "Removed Associations";
constexpr const char* kAnyFile = "application/octet-stream";

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The absolute folders of a ':'-separated list; fallback when the variable is unset or empty.
std::vector<std::string> FoldersFrom(const char* variable, const std::string& fallback) {
    std::string text = Environment(variable);
    if (text.empty()) text = fallback;
    std::vector<std::string> folders;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(':', start);
        if (end == std::string::npos) end = text.size();
        std::string folder = text.substr(start, end - start);
        if (!folder.empty() && folder.front() == '/') folders.push_back(folder);
        start = end + 1;
    }
    return folders;
}

// Most important first: the user's folder, then the system's.
std::vector<std::string> DataFolders() {
    std::vector<std::string> folders =
        FoldersFrom("XDG_DATA_HOME", Environment("HOME") + "/.local/share");
    for (std::string& folder : FoldersFrom("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))
        folders.push_back(std::move(folder));
    return folders;
}

std::vector<std::string> ConfigFolders() {
    std::vector<std::string> folders =
        FoldersFrom("XDG_CONFIG_HOME", Environment("HOME") + "/.config");
    for (std::string& folder : FoldersFrom("XDG_CONFIG_DIRS", "/etc/xdg"))
        folders.push_back(std::move(folder));
    return folders;
}

// The names the running desktop goes by, lower case, as desktop-specific lists are named.
std::vector<std::string> DesktopNames() {
    std::vector<std::string> names;
    std::string name;
    for (char c : Environment("XDG_CURRENT_DESKTOP") + ":") {
        if (c != ':') {
            name += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        } else if (!name.empty()) {
            names.push_back(name);
            name.clear();
        }
    }
    return names;
}

// A MIME type's canonical name first, then its aliases: the names a list may use for it.
using TypeNames = std::vector<std::string>;

TypeNames NamesOf(const QMimeType& type) {
    TypeNames names{type.name().toStdString()};
    for (const QString& alias : type.aliases()) names.push_back(alias.toStdString());
    return names;
}

// The type and its parents. Every file is an application/octet-stream, so that parent would
// offer every hex viewer for every file: it counts only for itself.
std::vector<TypeNames> TypesToTry(const std::string& mimeType) {
    QMimeDatabase db;
    const QMimeType type = db.mimeTypeForName(QString::fromStdString(mimeType));
    if (!type.isValid()) return {{mimeType}};
    std::vector<TypeNames> types{NamesOf(type)};
    for (const QString& ancestor : type.allAncestors()) {
        if (ancestor != QLatin1String(kAnyFile))
            types.push_back(NamesOf(db.mimeTypeForName(ancestor)));
    }
    return types;
}

struct AppRecord {
    DesktopApp app;
    bool hidden = false;  // deleted: hides entries of the same id in later folders
};

// Reads one desktop entry; false when it describes no application that can be started.
bool ReadEntry(const std::string& path, const std::string& id, QMimeDatabase& db,
               AppRecord& record) {
    KeyFile file;
    if (!file.Load(path) || file.Value(kEntryGroup, "Type") != "Application") return false;
    record.hidden = file.Flag(kEntryGroup, "Hidden");
    DesktopApp& app = record.app;
    app.id = id;
    app.name = file.Value(kEntryGroup, "Name");
    app.exec = file.Value(kEntryGroup, "Exec");
    app.icon = file.Value(kEntryGroup, "Icon");
    app.noDisplay = file.Flag(kEntryGroup, "NoDisplay");
    app.terminal = file.Flag(kEntryGroup, "Terminal");
    for (const std::string& declared : file.List(kEntryGroup, "MimeType")) {
        const QMimeType type = db.mimeTypeForName(QString::fromStdString(declared));
        app.mimeTypes.push_back(type.isValid() ? type.name().toStdString() : declared);
    }
    return record.hidden || (!app.name.empty() && !app.exec.empty());
}

struct MimeAppsList {
    KeyFile file;
    bool desktopSpecific = false;  // such lists only name defaults
};

// The installed applications and the association lists, most important first.
class Catalog {
  public:
    Catalog() {
        LoadApps();
        LoadLists();
    }

    const DesktopApp* Installed(const std::string& id) const {
        const auto found = apps_.find(id);
        return found == apps_.end() || found->second.hidden ? nullptr : &found->second.app;
    }

    // The first installed default of the type, else of its parents; else the most preferred
    // associated application.
    const DesktopApp* DefaultFor(const std::vector<TypeNames>& types) const {
        for (const TypeNames& type : types) {
            for (const MimeAppsList& list : lists_) {
                for (const std::string& id : Listed(list, kDefaults, type)) {
                    if (const DesktopApp* app = Installed(id)) return app;
                }
            }
        }
        const auto associated = AssociatedWith(types);
        return associated.empty() ? nullptr : associated.front();
    }

    // For each type in turn: every list's defaults and added associations, skipping those an
    // earlier list removed, then the applications that declare the type themselves.
    std::vector<const DesktopApp*> AssociatedWith(const std::vector<TypeNames>& types) const {
        std::vector<const DesktopApp*> result;
        std::set<std::string> taken;
        auto add = [&](const std::string& id) {
            const DesktopApp* app = Installed(id);
            if (app && taken.insert(id).second) result.push_back(app);
        };
        for (const TypeNames& type : types) {
            std::set<std::string> removed;
            for (const MimeAppsList& list : lists_) {
                for (const std::string& id : Listed(list, kDefaults, type))
                    if (!removed.count(id)) add(id);
                if (list.desktopSpecific) continue;
                for (const std::string& id : Listed(list, kAdded, type))
                    if (!removed.count(id)) add(id);
                for (const std::string& id : Listed(list, kRemoved, type)) removed.insert(id);
            }
            for (const std::string& id : order_) {
                const auto& declared = apps_.at(id).app.mimeTypes;
                if (!removed.count(id) &&
                    std::find(declared.begin(), declared.end(), type.front()) != declared.end())
                    add(id);
            }
        }
        return result;
    }

  private:
    // Desktop file ids are the paths below applications/ with '/' as '-'. Within a folder the
    // ids are taken in sorted order, so the choice among equals does not depend on the disk.
    void LoadApps() {
        QMimeDatabase db;
        for (const std::string& folder : DataFolders()) {
            const fs::path root = fs::path(folder) / "applications";
            std::vector<std::pair<std::string, std::string>> found;  // id, path
            std::error_code error;
            for (fs::recursive_directory_iterator
                     it(root, fs::directory_options::skip_permission_denied, error),
                 end;
                 !error && it != end; it.increment(error)) {
                if (it->path().extension() != ".desktop" || !it->is_regular_file(error)) continue;
                std::string id = it->path().lexically_relative(root).string();
                std::replace(id.begin(), id.end(), '/', '-');
                found.emplace_back(std::move(id), it->path().string());
            }
            std::sort(found.begin(), found.end());
            for (const auto& [id, path] : found) {
                AppRecord record;
                if (apps_.count(id) || !ReadEntry(path, id, db, record)) continue;
                apps_.emplace(id, std::move(record));
                order_.push_back(id);
            }
        }
    }

    void LoadLists() {
        auto load = [this](const std::string& path, bool desktopSpecific) {
            MimeAppsList list;
            list.desktopSpecific = desktopSpecific;
            if (list.file.Load(path)) lists_.push_back(std::move(list));
        };
        std::vector<std::string> folders = ConfigFolders();
        for (const std::string& folder : DataFolders()) folders.push_back(folder + "/applications");
        const std::vector<std::string> desktops = DesktopNames();
        for (const std::string& folder : folders) {
            for (const std::string& desktop : desktops)
                load(folder + "/" + desktop + "-mimeapps.list", true);
            load(folder + "/mimeapps.list", false);
        }
    }

    static std::vector<std::string> Listed(const MimeAppsList& list, const char* group,
                                           const TypeNames& type) {
        std::vector<std::string> ids;
        for (const std::string& name : type) {
            for (std::string& id : list.file.List(group, name)) ids.push_back(std::move(id));
        }
        return ids;
    }

    std::map<std::string, AppRecord> apps_;
    std::vector<std::string> order_;  // ids in the order their folders come
    std::vector<MimeAppsList> lists_;
};

// The program to start: a name is looked up in $PATH, a path must exist and be executable.
Status FindProgram(const std::string& program, std::string& found) {
    if (program.find('/') == std::string::npos) {
        found = QStandardPaths::findExecutable(QString::fromStdString(program)).toStdString();
        if (found.empty())
            return Status(Status::Code::NotFound, "the program " + program + " is not installed");
        return Status::Ok();
    }
    if (::access(program.c_str(), F_OK) != 0 || ::access(program.c_str(), X_OK) != 0)
        return Status::FromErrno(errno, program);
    found = program;
    return Status::Ok();
}

}  // namespace

std::string MimeTypeOf(const std::string& path) {
    QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFile(QString::fromStdString(path));
    return type.isValid() ? type.name().toStdString() : kAnyFile;
}

std::optional<DesktopApp> DefaultAppFor(const std::string& mimeType) {
    const Catalog catalog;
    const DesktopApp* app = catalog.DefaultFor(TypesToTry(mimeType));
    if (!app) return std::nullopt;
    return *app;
}

std::vector<DesktopApp> AppsFor(const std::string& mimeType) {
    const Catalog catalog;
    const std::vector<TypeNames> types = TypesToTry(mimeType);
    std::vector<DesktopApp> apps;
    const DesktopApp* chosen = catalog.DefaultFor(types);
    if (chosen) apps.push_back(*chosen);
    for (const DesktopApp* app : catalog.AssociatedWith(types)) {
        if (app != chosen && !app->noDisplay) apps.push_back(*app);
    }
    return apps;
}

Status ExecArguments(const DesktopApp& app, const std::string& path,
                     std::vector<std::string>& arguments) {
    arguments.clear();
    const std::string url =
        QUrl::fromLocalFile(QString::fromStdString(path)).toEncoded().toStdString();
    const std::string& exec = app.exec;
    std::string current;
    bool started = false;  // current holds an argument, perhaps an empty quoted one
    bool quoted = false;   // current had quotes: kept even when empty
    bool inQuotes = false;
    bool fileGiven = false;
    auto finish = [&] {
        // An argument that was only a dropped field code (%i) is no argument.
        if (started && (!current.empty() || quoted)) arguments.push_back(current);
        current.clear();
        started = quoted = false;
    };
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        const bool hasNext = i + 1 < exec.size();
        if (inQuotes) {
            if (c == '"') {
                inQuotes = false;
                continue;
            }
            if (c == '\\' && hasNext && std::strchr("\"`$\\", exec[i + 1])) {
                current += exec[++i];
                continue;
            }
        } else if (c == ' ' || c == '\t' || c == '\n') {
            finish();
            continue;
        } else if (c == '"') {
            inQuotes = quoted = started = true;
            continue;
        } else if (c == '\\' && hasNext) {
            started = true;
            current += exec[++i];
            continue;
        }
        started = true;
        if (c != '%' || !hasNext) {
            current += c;
            continue;
        }
        switch (exec[++i]) {
            case '%':
                current += '%';
                break;
            case 'f':
            case 'F':
                current += path;
                fileGiven = true;
                break;
            case 'u':
            case 'U':
                current += url;
                fileGiven = true;
                break;
            default:
                break;  // %i %c %k and the deprecated codes: nothing to give here
        }
    }
    if (inQuotes)
        return Status(Status::Code::InvalidArgument,
                      app.name + ": the command line has an unclosed quote: " + exec);
    finish();
    if (arguments.empty())
        return Status(Status::Code::InvalidArgument, app.name + ": the command line is empty");
    if (!fileGiven) arguments.push_back(path);
    if (app.terminal) arguments.insert(arguments.begin(), {"x-terminal-emulator", "-e"});
    return Status::Ok();
}

Status Launch(const DesktopApp& app, const std::string& path) {
    std::vector<std::string> arguments;
    Status s = ExecArguments(app, path, arguments);
    if (!s.ok()) return s;
    std::string program;
    s = FindProgram(arguments.front(), program);
    if (!s.ok()) return Status(s.code(), app.name + ": " + s.message());
    QStringList rest;
    for (std::size_t i = 1; i < arguments.size(); ++i) rest << QString::fromStdString(arguments[i]);
    QProcess process;
    process.setProgram(QString::fromStdString(program));
    process.setArguments(rest);
    if (!process.startDetached())
        return Status(Status::Code::IoError, app.name + ": " + process.errorString().toStdString());
    return Status::Ok();
}

}  // namespace corvane
