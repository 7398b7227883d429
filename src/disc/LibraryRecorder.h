#pragma once
// What the disc master needs of its recorders beyond IDiscRecorder: the room on the medium and
// a way to record an image onto it.

#include <string>

#include "disc/BurnRecording.h"
#include "disc/DiscImage.h"
#include "disc/DiscMaster.h"

namespace corvane {

class LibraryRecorder : public IDiscRecorder {
  public:
    virtual MediumLimits Limits() const = 0;
    std::uint64_t Capacity() const override { return Limits().capacity; }
    // Records the image as the next disc of the named backup. Called with the recorder closed
    // and the library locked.
    virtual Status Record(DiscImage& image, const std::string& backupName, bool simulate,
                          bool eject, RecordingProgress& progress) = 0;
};

}  // namespace corvane
