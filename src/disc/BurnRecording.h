#pragma once
// Recording one disc image through libburn, onto an optical drive ("/dev/sr0") or onto a stdio
// pseudo-drive that writes a file ("stdio:/home/u/Corvane Discs/x.iso").

#include <cstdint>
#include <string>

#include "disc/DiscLibrary.h"
#include "platform/Status.h"

namespace burn {
struct burn_drive;
struct burn_drive_info;
}  // namespace burn

namespace corvane {

class DiscImage;

// What a recording reports while it runs, and whether it should stop.
class RecordingProgress {
  public:
    virtual ~RecordingProgress() = default;
    virtual void Blocks(int completed, int total) = 0;
    virtual void Closing() = 0;
    // The medium is being formatted or erased before the recording: status is the text to show.
    virtual void PreparingMedium(const std::string& status, int percent) = 0;
    virtual bool CancelRequested() = 0;
};

// A drive opened by its libburn address; released when it goes.
class GrabbedDrive {
  public:
    GrabbedDrive() = default;
    ~GrabbedDrive();
    GrabbedDrive(const GrabbedDrive&) = delete;
    GrabbedDrive& operator=(const GrabbedDrive&) = delete;

    Status Grab(const std::string& address);
    // Lets the drive go, ejecting the disc when asked; nothing when not grabbed.
    void Release(bool eject);
    bool grabbed() const { return info_ != nullptr; }
    burn::burn_drive* drive() const;

  private:
    DiscLibrary::User library_;
    burn::burn_drive_info* info_ = nullptr;
};

// Writes the image onto the grabbed drive as one closed session and returns once libburn's
// write thread has ended. simulate: the drive goes through the motions without writing. Fails
// with Cancelled when progress asked to stop, whatever libburn says of the write afterwards.
// bytes receives the size of the image.
Status WriteImage(GrabbedDrive& drive, DiscImage& image, std::uint32_t tailBlocks, bool simulate,
                  RecordingProgress& progress, std::uint64_t& bytes);

}  // namespace corvane
