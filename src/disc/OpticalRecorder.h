#pragma once
// An optical drive found by libburn's scan, known by its device path ("/dev/sr0"), or a stdio
// pseudo-drive over a file ("stdio:/path/disc.iso") that stands in for one.

#include <optional>
#include <string>
#include <vector>

#include "disc/LibraryRecorder.h"
#include "disc/MediaDecision.h"

namespace corvane {

class OpticalRecorder final : public LibraryRecorder {
  public:
    explicit OpticalRecorder(std::string device);

    std::string GetPath() override { return device_; }
    std::string StagingFolder() const override;
    Status OpenExclusive() override;
    // From DecideMedia: MEDIA_WRITABLE | MEDIA_BLANK for a medium that can be written (after
    // formatting, if need be), MEDIA_HOLDS_DATA for one holding data (writable too once the
    // user allowed erasing it), MEDIA_RW for an erasable or overwritable one; no flag for one
    // refused. Also measures the room on the disc.
    Status QueryMediaType(int& mediaType, unsigned& flags) override;
    std::string MediumNote() const override { return decision_.reason; }
    void AllowErase() override;
    Status Close() override;

    // Until a disc has been looked at: a CD's.
    MediumLimits Limits() const override { return limits_; }
    // Formats a new medium, or erases one the user allowed to, records, then ejects the disc
    // when asked. A medium refused by DecideMedia is left alone, with the reason.
    Status Record(DiscImage& image, const std::string& backupName, bool simulate, bool eject,
                  RecordingProgress& progress) override;
    // The device of a disc recorded without eject ("/dev/sr0"), or the file behind a stdio
    // drive; empty after an eject or a failed recording.
    std::string RecordedDiscPlace() const override { return recorded_; }
    Status Eject() override;

  private:
    Status Examine(MediumState& medium);
    Status MeasureMedium(int& profile);
    Status Prepare(const MediaDecision& decision, const MediumState& medium,
                   RecordingProgress& progress);

    std::string device_;
    GrabbedDrive drive_;
    MediumLimits limits_;
    MediaDecision decision_;
    // The medium examined last, and the one the user allowed to erase.
    std::optional<MediumState> examined_;
    std::optional<MediumState> erasable_;
    // The backup this recorder recorded last: a disc of it put back in is refused at once.
    std::string lastBackup_;
    std::string recorded_;
};

// The device paths of the optical drives libburn finds; none on a machine without drives.
// Scanning needs every drive closed.
std::vector<std::string> ScanOpticalDrives();

}  // namespace corvane
