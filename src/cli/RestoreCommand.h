#pragma once

#include <optional>
#include <string>
#include <vector>

#include "archive/BackupKey.h"

namespace corvane {

// corvane restore PLACE... --to DEST [--only PATH] [--password-file F] [--overwrite yes|no|ask]
//                 [--names CODEPAGE]
int RunRestoreCommand(const std::vector<std::string>& args);

// What the restore command does once its options are read.
struct RestoreRequest {
    std::vector<std::string> places;
    std::string destination;
    std::string only;  // a folder or file from the drive's root; "" for everything
    std::optional<std::string> password;
    std::string overwrite = "ask";  // yes, no or ask
    // The keys of encrypted backups, shared by the steps of one restore so that a key is
    // derived once (null: the restore makes its own).
    KeyRing* keys = nullptr;
};
int RestoreFromPlaces(const RestoreRequest& request);

// What the backups in the places hold for a restore of only ("" for everything).
struct BackupContent {
    bool isProtected = false;       // some folder has a password
    bool holdsOnly = false;         // only names a folder or file (a protected one counts)
    bool opensEveryFolder = false;  // the password opens every folder only takes
};
BackupContent LookAtBackup(const std::vector<std::string>& places, const std::string& only,
                           const std::optional<std::string>& password, KeyRing* keys = nullptr);

}  // namespace corvane
