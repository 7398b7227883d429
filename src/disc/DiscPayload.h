#pragma once
// What makes every disc restore itself: a copy of the running program as "corvane.exe" and
// an "autorun.inf" that starts it. Each is staged as a file in the host's private temporary
// folder (listed in stagedFiles) and added to the disc image in the root; the program with
// mode 0755, so that a mounted disc can run it.

#include "backup/BackupHost.h"
#include "disc/DiscMaster.h"

namespace corvane {

// The autorun file, byte for byte.
inline constexpr const char* kAutorunText = "[AutoRun]\r\nOPEN=corvane.exe\r\n";

// Both return Ok when the file was added to the image, Cancelled when cancelRequested stopped
// the copy (nothing added, no message), and any other failure after telling the user through
// host.Ask: a file that could not be staged completely is never added.
Status StageSelfCopy(BackupHost& host, IJolietDiscMaster& joliet);
Status StageAutorun(BackupHost& host, IJolietDiscMaster& joliet);

}  // namespace corvane
