#pragma once
// The application object: built once, before any window, it holds what both roles share and
// runs the start-up that picks the role.

#include <QFont>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/ImageList.h"

namespace corvane {

class CBackupApp {
public:
    CBackupApp();
    ~CBackupApp();
    CBackupApp(const CBackupApp&) = delete;
    CBackupApp& operator=(const CBackupApp&) = delete;

    // Start-up: single-instance guard, shared pictures, role choice, then the role's window
    // runs until it closes. Returns the process exit code.
    int InitInstance();

    // The shared pictures: folder, disc, stick, locked folder, in this order.
    void LoadFixedImages();

    // The imageList index of the desktop's icon for a file type, added on first use and cached
    // by key: the text after the last '.', or for "exe" the executable's own name. Always a
    // valid index.
    int LookupFileIcon(std::string path);

    std::string lastDestination;  // last extraction destination, for this run only
    QFont dialogFont;             // the name line of the properties dialog
    ImageList imageList;
    std::vector<std::string> iconKeys;  // icon cache, compared ignoring case
    std::vector<int> iconImages;        // imageList index for each key
    const std::array<std::uint8_t, 256>& byteTable;
};

// The one application object; only valid while it exists.
CBackupApp& theApp();

}  // namespace corvane
