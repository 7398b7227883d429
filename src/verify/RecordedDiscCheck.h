#pragma once
// The check of a disc right after the backup recorded it: read back and verified as
// corvane verify would, with "Verifying disc..." and its progress shown through the host.

#include <functional>
#include <string>

#include "backup/BackupHost.h"

namespace corvane {

// A BackupHost::verifyRecordedDisc for host: "" for a good disc, else a line per damaged item.
std::function<std::string(const std::string& place)> RecordedDiscCheck(BackupHost& host);

}  // namespace corvane
