#pragma once
// A recorder that writes every disc as an ISO image file into a folder, with the capacity of a
// chosen medium. Its "disc" is always blank: the next image file, which does not exist yet.

#include "disc/FolderLock.h"
#include "disc/LibraryRecorder.h"
#include "disc/RecorderPath.h"

namespace corvane {

class ImageRecorder final : public LibraryRecorder {
  public:
    explicit ImageRecorder(ImageRecorderPath spec) : spec_(std::move(spec)) {}

    std::string GetPath() override { return MakeImageRecorderPath(spec_); }
    bool WritesImageFiles() const override { return true; }
    // The image folder: a disc's staged files and its image share one file system, so the
    // staged streams are hard-linked rather than copied.
    std::string StagingFolder() const override { return spec_.folder; }
    // Creates the folder when it is missing (its parent must exist) and locks it against other
    // recordings.
    Status OpenExclusive() override;
    // MEDIA_WRITABLE | MEDIA_BLANK when the folder can be written into.
    Status QueryMediaType(int& mediaType, unsigned& flags) override;
    Status Close() override;

    MediumLimits Limits() const override { return {spec_.capacity, 0}; }
    // Writes "<backup name> disc NN.iso"; a simulation reads the whole image but writes nothing.
    Status Record(DiscImage& image, const std::string& backupName, bool simulate, bool eject,
                  RecordingProgress& progress) override;
    // The image file written last.
    std::string RecordedDiscPlace() const override { return recorded_; }

  private:
    Status RecordFile(DiscImage& image, const std::string& backupName, RecordingProgress& progress);

    ImageRecorderPath spec_;
    FolderLock lock_;
    std::string recorded_;
};

}  // namespace corvane
