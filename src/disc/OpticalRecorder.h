#pragma once
// An optical drive found by libburn's scan, known by its device path ("/dev/sr0").

#include <string>
#include <vector>

#include "disc/LibraryRecorder.h"

namespace corvane {

class OpticalRecorder final : public LibraryRecorder {
  public:
    explicit OpticalRecorder(std::string device);

    std::string GetPath() override { return device_; }
    std::string StagingFolder() const override;
    Status OpenExclusive() override;
    // MEDIA_WRITABLE | MEDIA_BLANK for a blank disc, MEDIA_RW for an erasable one. Also
    // measures the room on the disc.
    Status QueryMediaType(int& mediaType, unsigned& flags) override;
    Status Close() override;

    // Until a disc has been looked at: a CD's.
    MediumLimits Limits() const override { return limits_; }
    // Records onto a blank disc, then ejects it when asked.
    Status Record(DiscImage& image, const std::string& backupName, bool simulate, bool eject,
                  RecordingProgress& progress) override;

  private:
    Status MeasureMedium(int& profile);

    std::string device_;
    GrabbedDrive drive_;
    MediumLimits limits_;
};

// The device paths of the optical drives libburn finds; none on a machine without drives.
// Scanning needs every drive closed.
std::vector<std::string> ScanOpticalDrives();

}  // namespace corvane
