#pragma once
// "corvane verify": checks discs of backups against their catalogue and tells whether the
// set is complete.

#include <string>
#include <vector>

namespace corvane {

int RunVerifyCommand(const std::vector<std::string>& args);

}  // namespace corvane
