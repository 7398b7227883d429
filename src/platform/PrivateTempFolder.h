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

    // Creates the folder under $TMPDIR (or /tmp) on first use; once made, wherever it is, it is
    // kept.
    Status Create();
    // Makes sure the folder is a hidden one (".corvane-<pid>-XXXXXX") in parent, which is made
    // when missing; a folder made elsewhere before is removed with its contents. An empty
    // parent stands for $TMPDIR, as Create.
    Status CreateIn(const std::string& parent);
    // The folder's path, without a trailing slash; empty before Create.
    const std::string& path() const { return path_; }
    // Removes the folder and its contents; Create may be called again afterwards.
    void Remove();

private:
    std::string path_;
    std::string parent_;  // as given to CreateIn; empty for $TMPDIR
};

}  // namespace corvane
