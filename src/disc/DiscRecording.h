#pragma once
// The two steps every disc of a backup goes through: PrepareDisc waits for a blank writable
// disc and stages the payload on it, BurnDisc records what was staged. Both run on the
// backup's worker thread and ask the user through the host when the disc is not ready.

#include <memory>

#include "backup/BackupHost.h"
#include "disc/DiscMaster.h"

namespace corvane {

// Recordings BurnDisc attempts before it gives up.
inline constexpr int kRecordingAttempts = 3;

// True once a blank writable disc is in the recorder and the payload is staged for it; false
// when no recorder is selected, the user cancelled, or the payload could not be staged (the
// user has been told why).
bool PrepareDisc(BackupHost& host, IJolietDiscMaster& joliet,
                 const std::shared_ptr<IDiscRecorder>& recorder, IDiscMaster& discMaster);

// True once the staged image is recorded (and the disc ejected); false when the user gave up,
// or after kRecordingAttempts failed recordings, or after one that failed while
// cancelRequested was set. Leaves Cancel disabled once recording has begun.
bool BurnDisc(BackupHost& host, IDiscMaster& discMaster,
              const std::shared_ptr<IDiscRecorder>& recorder);

}  // namespace corvane
