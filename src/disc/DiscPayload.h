#pragma once
// What makes every disc restore itself: a copy of the running program as "corvane.exe", an
// "autorun.inf" that starts it, the portable restorer "corvane-restore" (found beside the
// running program) and an "autorun.sh" for Linux desktops. Each is staged as a file in the
// host's private temporary folder (listed in stagedFiles) and added to the disc image in the
// root; the programs and the script with mode 0755, so that a mounted disc can run them.

#include "backup/BackupHost.h"
#include "disc/DiscMaster.h"

namespace corvane {

// The autorun file, byte for byte.
inline constexpr const char* kAutorunText = "[AutoRun]\r\nOPEN=corvane.exe\r\n";

// The script a Linux desktop runs from the disc's root when the user agrees: the disc's own
// program when it runs on this machine, else the installed one, else the portable restorer's
// guided restore in a terminal, else how to run the restorer.
extern const char* const kAutorunScript;

// The portable restorer that goes with `program`: "corvane-restore" in the folder of the
// executable `program` names (a link such as /proc/self/exe is followed).
std::string RestorerBeside(const std::string& program);

// All return Ok when the file was added to the image, Cancelled when cancelRequested stopped
// the copy (nothing added, no message), and any other failure after telling the user through
// host.Ask: a file that could not be staged completely is never added.
Status StageSelfCopy(BackupHost& host, IJolietDiscMaster& joliet);
Status StageAutorun(BackupHost& host, IJolietDiscMaster& joliet);
Status StageAutorunScript(BackupHost& host, IJolietDiscMaster& joliet);
// A restorer that is not there is no failure: the user is told once per host, that is per
// window or command (host.restorerMissingTold), that the discs will not carry it, and Ok is
// returned.
Status StageRestorer(BackupHost& host, IJolietDiscMaster& joliet);

}  // namespace corvane
