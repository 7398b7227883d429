#pragma once

#include <string>
#include <vector>

namespace corvane {

extern const char* const kRestoreUsage;

// corvane restore PATH... --to DEST [--only PATH] [--password-file F] [--overwrite yes|no|ask]
int RunRestoreCommand(const std::vector<std::string>& args);

}  // namespace corvane
