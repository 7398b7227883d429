#pragma once
// A folder only this user can enter, made afresh for one window or command and removed with
// everything in it when the owner goes away. Temporary files never get predictable names
// in a shared folder.

#include <string>

#include "platform/Status.h"

namespace corvane {

class PrivateTempFolder {
public:
    PrivateTempFolder() = default;
    ~PrivateTempFolder();
    PrivateTempFolder(const PrivateTempFolder&) = delete;
    PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;

    // Creates the folder under $TMPDIR (or /tmp) on first use.
    Status Create();
    // The folder's path, without a trailing slash; empty before Create.
    const std::string& path() const { return path_; }
    // Removes the folder and its contents; Create may be called again afterwards.
    void Remove();

private:
    std::string path_;
};

}  // namespace corvane
