#pragma once
// "corvane list": the backups in folders of backup streams, printed as the restore window's
// tree, fully expanded.

#include <optional>
#include <string>
#include <vector>

#include "archive/BackupKey.h"

namespace corvane {

int RunListCommand(const std::vector<std::string>& args);

// What the list command does once its options are read.
// Encrypted backups are opened with keys (null: a ring of its own), to which password is added.
int ListPlaces(const std::vector<std::string>& places, const std::optional<std::string>& password,
               KeyRing* keys = nullptr);

}  // namespace corvane
