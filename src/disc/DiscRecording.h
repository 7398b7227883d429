#pragma once
// The steps every disc of a backup goes through: PrepareDisc waits for a blank writable disc,
// makes room for it and stages the payload on it; BurnDisc records what was staged;
// ContinueOnNewDisc does both when a disc is full. They run on the backup's worker thread and
// ask the user through the host when the disc is not ready.

#include <memory>

#include "backup/BackupHost.h"
#include "disc/DiscMaster.h"

namespace corvane {

// Recordings of one disc BurnDisc attempts before it gives up.
inline constexpr int kRecordingAttempts = 3;

// How a step ended. Failed: the cause has been told (a message, the status line and
// host.failure); Cancelled: the user stopped, or no recorder is selected.
enum class DiscStep { Done, Cancelled, Failed };

// Done once a blank writable disc is in the recorder, the staging folder (host.tempFolder, in
// the recorder's StagingFolder) has room for the disc and the payload is staged. An image
// folder that cannot be made or written, too little room or a payload that cannot be staged
// fail; an optical drive without a usable disc asks to insert one.
DiscStep PrepareDisc(BackupHost& host, IJolietDiscMaster& joliet,
                     const std::shared_ptr<IDiscRecorder>& recorder, IDiscMaster& discMaster);

// Done once the staged image is recorded and the disc ejected. With host.verifyRecordedDisc the
// disc is read back before it is ejected; one that does not verify is named, and Retry records
// it again on a new disc. Fails after kRecordingAttempts failed recordings, with the last one's
// cause; Cancelled when the user gave up or stopped the recording. Leaves Cancel disabled once
// recording has begun.
DiscStep BurnDisc(BackupHost& host, IDiscMaster& discMaster,
                  const std::shared_ptr<IDiscRecorder>& recorder);

// The disc is full: records it, asks for another one and prepares that. Every disc asked for
// is a new one, so there is no limit to how many a backup uses.
DiscStep ContinueOnNewDisc(BackupHost& host, IJolietDiscMaster& joliet, IDiscMaster& discMaster,
                           const std::shared_ptr<IDiscRecorder>& recorder);

}  // namespace corvane
