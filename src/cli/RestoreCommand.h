#pragma once

#include <string>
#include <vector>

namespace corvane {

// corvane restore PLACE... --to DEST [--only PATH] [--password-file F] [--overwrite yes|no|ask]
//                 [--names CODEPAGE]
int RunRestoreCommand(const std::vector<std::string>& args);

}  // namespace corvane
