#pragma once
// "corvane list": the backups in folders of backup streams, printed as the restore window's
// tree, fully expanded.

#include <string>
#include <vector>

namespace corvane {

int RunListCommand(const std::vector<std::string>& args);

}  // namespace corvane
