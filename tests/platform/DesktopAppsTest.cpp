// Which applications open which files, read from desktop entries and association lists in a
// desktop of the test's own.

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/DesktopApps.h"
#include "support/DesktopFixture.h"

namespace corvane {
namespace {

using test::DesktopFixture;
using Place = DesktopFixture::Place;

std::vector<std::string> NamesOf(const std::vector<DesktopApp>& apps) {
    std::vector<std::string> names;
    for (const auto& app : apps) names.push_back(app.name);
    return names;
}

std::string App(const char* name, const char* types, const char* extra = "") {
    return std::string("Name=") + name + "\nExec=" + name + " %f\nMimeType=" + types + "\n" + extra;
}

TEST(DesktopApps, ListsTheDefaultFirstThenInOrderOfPreference) {
    DesktopFixture desktop;
    desktop.AddApp("editor.desktop", App("Editor", "text/plain;"));
    desktop.AddApp("editor.desktop", App("Old Editor", "text/plain;"), Place::SystemData);
    desktop.AddApp("viewer.desktop", App("Viewer", "text/plain;"));
    desktop.AddApp("suite/writer.desktop", App("Writer", "text/plain;", "Terminal=true"));
    desktop.AddApp("gone.desktop", App("Gone", "text/plain;", "Hidden=true"));
    desktop.AddApp("quiet.desktop", App("Quiet", "text/plain;", "NoDisplay=true"));
    desktop.AddApp("masked.desktop", "Hidden=true");
    desktop.AddApp("masked.desktop", App("Masked", "text/plain;"), Place::SystemData);
    desktop.AddApp("added.desktop", App("Added", "image/png;"), Place::SystemData);
    desktop.AddApp("noexec.desktop", "Name=No Exec\nMimeType=text/plain;", Place::SystemData);
    desktop.Write(Place::UserConfig, "mimeapps.list",
                  "[Default Applications]\ntext/plain=uninstalled.desktop;suite-writer.desktop;\n"
                  "[Added Associations]\ntext/plain=added.desktop;\n"
                  "[Removed Associations]\ntext/plain=viewer.desktop;\n");

    EXPECT_EQ(NamesOf(AppsFor("text/plain")),
              (std::vector<std::string>{"Writer", "Added", "Editor"}));
    const auto chosen = DefaultAppFor("text/plain");
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->id, "suite-writer.desktop");
    EXPECT_TRUE(chosen->terminal);
}

TEST(DesktopApps, FindsTheDefaultAsTheAssociationListsSayInTheirOrder) {
    struct File {
        Place place;
        const char* relative;
        const char* content;
    };
    struct Case {
        const char* what;
        std::vector<File> files;
        const char* mimeType;
        const char* expected;  // "" for none
        const char* desktops = nullptr;
    } cases[] = {
        {"no lists: the first that declares the type", {}, "text/plain", "a.desktop"},
        {"added association before declarations",
         {{Place::UserConfig, "mimeapps.list", "[Added Associations]\ntext/plain=c.desktop\n"}},
         "text/plain",
         "c.desktop"},
        {"user config before system config",
         {{Place::UserConfig, "mimeapps.list", "[Default Applications]\ntext/plain=b.desktop\n"},
          {Place::SystemConfig, "mimeapps.list", "[Default Applications]\ntext/plain=c.desktop\n"}},
         "text/plain",
         "b.desktop"},
        {"system config before the data folders' lists",
         {{Place::SystemConfig, "mimeapps.list", "[Default Applications]\ntext/plain=c.desktop\n"},
          {Place::UserData, "applications/mimeapps.list",
           "[Default Applications]\ntext/plain=b.desktop\n"}},
         "text/plain",
         "c.desktop"},
        {"the desktop's own list before the plain one",
         {{Place::UserConfig, "mimeapps.list", "[Default Applications]\ntext/plain=b.desktop\n"},
          {Place::UserConfig, "gnome-mimeapps.list",
           "[Default Applications]\ntext/plain=c.desktop\n"}},
         "text/plain",
         "c.desktop",
         "Test:GNOME"},
        {"a parent type's default",
         {{Place::UserConfig, "mimeapps.list", "[Default Applications]\ntext/plain=b.desktop\n"}},
         "text/x-csrc",
         "b.desktop"},
        {"a list naming the type by an alias",
         {{Place::UserConfig, "mimeapps.list", "[Default Applications]\ntext/x-c=c.desktop\n"}},
         "text/x-csrc",
         "c.desktop"},
        {"a NoDisplay entry may be the default",
         {{Place::UserConfig, "mimeapps.list",
           "[Default Applications]\ntext/plain=quiet.desktop\n"}},
         "text/plain",
         "quiet.desktop"},
        {"nothing opens the type", {}, "image/jpeg", ""},
    };
    for (const auto& c : cases) {
        DesktopFixture desktop;
        desktop.AddApp("a.desktop", App("A", "text/plain;"));
        desktop.AddApp("b.desktop", App("B", "text/plain;"));
        desktop.AddApp("c.desktop", App("C", "image/png;"), Place::SystemData);
        desktop.AddApp("quiet.desktop", App("Quiet", "text/plain;", "NoDisplay=true"));
        for (const auto& f : c.files) desktop.Write(f.place, f.relative, f.content);
        if (c.desktops) ::setenv("XDG_CURRENT_DESKTOP", c.desktops, 1);

        const auto chosen = DefaultAppFor(c.mimeType);
        EXPECT_EQ(chosen ? chosen->id : "", c.expected) << c.what;
        const auto apps = AppsFor(c.mimeType);
        EXPECT_EQ(apps.empty() ? "" : apps.front().id, c.expected) << c.what << ": listed first";
    }
}

TEST(DesktopApps, ReadsEntriesWithTheirEscapes) {
    DesktopFixture desktop;
    desktop.AddApp("odd.desktop",
                   "Name=My\\sViewer\nIcon=my-viewer\nExec=sh -c \"cat \\\\\"$1\\\\\"\" sh %f\n"
                   "MimeType=text/x-c;\n# a comment=here\n[Other Group]\nName=Wrong");
    const auto apps = AppsFor("text/x-csrc");
    ASSERT_EQ(apps.size(), 1u);
    EXPECT_EQ(apps[0].name, "My Viewer");
    EXPECT_EQ(apps[0].icon, "my-viewer");
    EXPECT_EQ(apps[0].exec, "sh -c \"cat \\\"$1\\\"\" sh %f");
    EXPECT_EQ(apps[0].mimeTypes, std::vector<std::string>{"text/x-csrc"}) << "alias resolved";

    std::vector<std::string> arguments;
    ASSERT_TRUE(ExecArguments(apps[0], "/tmp/a b", arguments).ok());
    EXPECT_EQ(arguments, (std::vector<std::string>{"sh", "-c", "cat \"$1\"", "sh", "/tmp/a b"}));
}

TEST(DesktopApps, ExpandsFieldCodesIntoOneArgumentEach) {
    const std::string path = "/tmp/my \"odd\" file's.txt";
    const std::string url = "file:///tmp/my%20%22odd%22%20file's.txt";
    struct Case {
        const char* exec;
        std::vector<std::string> expected;  // empty: refused
        bool terminal = false;
    } cases[] = {
        {"viewer %f", {"viewer", path}},
        {"viewer --open=%f --zoom=100%%", {"viewer", "--open=" + path, "--zoom=100%"}},
        {"\"/opt/My Viewer/viewer\" %i %c %k %F", {"/opt/My Viewer/viewer", path}},
        {"viewer %u", {"viewer", url}},
        {"viewer %U", {"viewer", url}},
        {"viewer \"%f\"", {"viewer", path}},
        {"viewer \"\" %f", {"viewer", "", path}},
        {"viewer", {"viewer", path}},
        {"viewer --new-window", {"viewer", "--new-window", path}},
        {"viewer \"unclosed %f", {}},
        {"%i", {}},
        {"vim %f", {"x-terminal-emulator", "-e", "vim", path}, true},
    };
    for (const auto& c : cases) {
        DesktopApp app;
        app.name = "Viewer";
        app.exec = c.exec;
        app.terminal = c.terminal;
        std::vector<std::string> arguments;
        const Status s = ExecArguments(app, path, arguments);
        if (c.expected.empty()) {
            EXPECT_EQ(s.code(), Status::Code::InvalidArgument) << c.exec;
        } else {
            EXPECT_TRUE(s.ok()) << c.exec << ": " << s.message();
            EXPECT_EQ(arguments, c.expected) << c.exec;
        }
    }
}

}  // namespace
}  // namespace corvane
