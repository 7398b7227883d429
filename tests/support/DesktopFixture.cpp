#include "support/DesktopFixture.h"

#include <cstdlib>
#include <filesystem>

namespace corvane::test {

namespace {

const char* const kVariables[] = {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME",
                                  "XDG_CONFIG_DIRS", "XDG_CURRENT_DESKTOP"};

const char* PlaceName(DesktopFixture::Place place) {
    switch (place) {
        case DesktopFixture::Place::UserData:
            return "user-data";
        case DesktopFixture::Place::SystemData:
            return "system-data";
        case DesktopFixture::Place::UserConfig:
            return "user-config";
        case DesktopFixture::Place::SystemConfig:
            return "system-config";
    }
    return "";
}

// A data folder holding only the system's MIME database. It keeps one path for the whole
// run: the MIME database of the process stays loaded from it across fixtures.
const std::string& MimeOnlyFolder() {
    static ScratchFolder folder;
    static const bool linked = [] {
        std::error_code ignored;
        std::filesystem::create_directory_symlink("/usr/share/mime", folder / "mime", ignored);
        return true;
    }();
    (void)linked;
    return folder.path();
}

}  // namespace

DesktopFixture::DesktopFixture() {
    for (const char* name : kVariables) {
        if (const char* value = std::getenv(name))
            saved_.emplace_back(name, value);
        else
            unset_.emplace_back(name);
    }
    for (auto place : {Place::UserData, Place::SystemData, Place::UserConfig, Place::SystemConfig})
        folder.MakeFolder(PlaceName(place));
    ::setenv("XDG_DATA_HOME", (folder / "user-data").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (folder / "system-data:" + MimeOnlyFolder()).c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (folder / "user-config").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (folder / "system-config").c_str(), 1);
    ::unsetenv("XDG_CURRENT_DESKTOP");
}

DesktopFixture::~DesktopFixture() {
    for (const auto& [name, value] : saved_) ::setenv(name.c_str(), value.c_str(), 1);
    for (const auto& name : unset_) ::unsetenv(name.c_str());
}

void DesktopFixture::AddApp(std::string_view relative, std::string_view lines, Place place) const {
    Write(place, "applications/" + std::string(relative),
          "[Desktop Entry]\nType=Application\n" + std::string(lines) + "\n");
}

std::string DesktopFixture::Write(Place place, std::string_view relative,
                                  std::string_view content) const {
    return folder.WriteFile(std::string(PlaceName(place)) + "/" + std::string(relative), content);
}

std::string DesktopFixture::AddScript(std::string_view name, std::string_view body) const {
    const std::string path = folder.WriteFile(name, "#!/bin/sh\n" + std::string(body) + "\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

}  // namespace corvane::test
