#pragma once
// One backup from "Burn" to the last disc: checks the selections, names the backup, connects
// to the disc layer, finds the chosen recorder, measures the source, asks for confirmation,
// archives the whole drive over as many discs as it takes and records the last one. The
// window, the command line and the tests run this same job through their BackupHost.

#include <functional>
#include <memory>
#include <string>

#include "backup/BackupHost.h"
#include "disc/DiscMaster.h"

namespace corvane {

struct BackupJobServices {
    // A new disc master for the job; nullptr when the disc layer is not available.
    std::function<std::shared_ptr<IDiscMaster>()> createDiscMaster;
    // The list entry a recorder's device path shows as; empty when it is not listed.
    std::function<std::string(const std::string& devicePath)> recorderEntryText;
};

enum class BackupOutcome {
    NotStarted,      // a selection was missing or the recorder was not accessible
    Cancelled,       // the user said no or stopped the job
    Failed,          // a disc could not be written or recorded; host.failure says why when known
    Incomplete,      // recorded, but some files or folders had to be left out
    Completed,
};

BackupOutcome RunBackupJob(BackupHost& host, const BackupJobServices& services);

// Counts the files below a folder and their size in kilobytes (their bytes summed, then
// converted), into host.fileCount and host.totalKB.
void MeasureFolder(BackupHost& host, const std::string& folderPath);

}  // namespace corvane
