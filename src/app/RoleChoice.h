#pragma once
// The program's role follows the drive of the current folder: started from an optical disc
// it restores, started anywhere else it backs up.

#include <string>

namespace corvane {

enum class Role { Backup, Restore };

// Decides the role for a current folder, given the system root that holds proc/ ("/" on a
// live system). An empty folder (it could not be read) means the backup role.
Role ChooseRole(const std::string& currentFolder, const std::string& systemRoot = "/");

// The current folder, or an empty string when it cannot be read.
std::string CurrentFolder();

}  // namespace corvane
