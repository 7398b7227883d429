#pragma once
// A desktop of its own for one test: the XDG data and config folders of this process point
// into a scratch folder for the fixture's lifetime, so only the desktop entries and
// association lists a test writes exist. The system's MIME database stays visible.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/ScratchFolder.h"

namespace corvane::test {

class DesktopFixture {
  public:
    enum class Place { UserData, SystemData, UserConfig, SystemConfig };

    DesktopFixture();
    ~DesktopFixture();
    DesktopFixture(const DesktopFixture&) = delete;
    DesktopFixture& operator=(const DesktopFixture&) = delete;

    // Writes a desktop entry: "[Desktop Entry]", "Type=Application", then lines, as
    // applications/<relative> of a data folder.
    void AddApp(std::string_view relative, std::string_view lines,
                Place place = Place::UserData) const;
    // Writes a file into one of the folders (a mimeapps.list, say); returns its path.
    std::string Write(Place place, std::string_view relative, std::string_view content) const;

    // An executable shell script in the scratch folder; returns its path.
    std::string AddScript(std::string_view name, std::string_view body) const;

    ScratchFolder folder;

  private:
    std::vector<std::pair<std::string, std::string>> saved_;  // name, value
    std::vector<std::string> unset_;
};

}  // namespace corvane::test
