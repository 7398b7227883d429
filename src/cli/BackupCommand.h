#pragma once

#include <string>
#include <vector>

namespace corvane {

extern const char* const kBackupUsage;

// corvane backup SOURCE (--recorder NAME | --images DIR) [--capacity SIZE]
//                [--password-file F] [--yes]
int RunBackupCommand(const std::vector<std::string>& args);

}  // namespace corvane
