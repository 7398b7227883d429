#pragma once
// The disc layer as the backup sees it: a disc master that collects files for one disc image
// at a time and records it on the active recorder, the recorders it knows, and the progress
// sink it reports to. The real implementation builds ISO 9660 images with Joliet and Rock
// Ridge names and writes them to optical drives or to image files; a scripted fake stands in
// for it in tests.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Status.h"

namespace corvane {

// Media flags reported by IDiscRecorder::QueryMediaType.
inline constexpr unsigned MEDIA_BLANK = 0x1;
inline constexpr unsigned MEDIA_RW = 0x2;
inline constexpr unsigned MEDIA_WRITABLE = 0x4;
// The medium holds data that recording would erase: it is reported writable only once the user
// agreed (IDiscRecorder::AllowErase).
inline constexpr unsigned MEDIA_HOLDS_DATA = 0x8;

// Receives progress while a disc is recorded and answers whether to stop. Methods are called
// on the thread that called RecordDisc, while the disc layer is busy: they must not call back
// into it. A method the sink does not handle answers NotImplemented.
class IDiscMasterProgressEvents {
public:
    virtual ~IDiscMasterProgressEvents() = default;
    virtual bool QueryCancel() = 0;
    virtual Status NotifyPnPActivity() = 0;
    virtual Status NotifyAddProgress(int completedSteps, int totalSteps) = 0;
    virtual Status NotifyBlockProgress(int completedBlocks, int totalBlocks) = 0;
    virtual Status NotifyTrackProgress(int currentTrack, int totalTracks) = 0;
    virtual Status NotifyPreparingBurn(int estimatedSeconds) = 0;
    virtual Status NotifyClosingDisc(int estimatedSeconds) = 0;
    virtual Status NotifyBurnComplete(const Status& result) = 0;
    virtual Status NotifyEraseComplete(const Status& result) = 0;
    // The medium is being formatted or erased before recording: status is the text to show.
    virtual Status NotifyPreparingMedium(const std::string& /*status*/, int /*percent*/) {
        return Status(Status::Code::NotImplemented, "Notification not handled");
    }
};

class IDiscRecorder {
public:
    virtual ~IDiscRecorder() = default;
    // The recorder's device path: "/dev/sr0" for an optical drive, MakeImageRecorderPath's
    // text (RecorderPath.h) for an image-file recorder.
    virtual std::string GetPath() = 0;
    // True for a recorder that writes image files: no drive needs time to settle.
    virtual bool WritesImageFiles() const { return false; }
    // Where the files of a disc wait until it is recorded: beside the images for an image-file
    // recorder (the image is written there too), in the user's cache folder for a drive, never
    // a whole disc in the often small $TMPDIR. Empty: $TMPDIR.
    virtual std::string StagingFolder() const { return {}; }
    // The bytes one disc holds, once a medium has been examined; 0 while not known.
    virtual std::uint64_t Capacity() const { return 0; }
    virtual Status OpenExclusive() = 0;
    // mediaType is informational; flags hold MEDIA_* bits. Needs the recorder open.
    virtual Status QueryMediaType(int& mediaType, unsigned& flags) = 0;
    // Why the medium the last QueryMediaType examined cannot be used, or what data it holds;
    // empty when there is nothing to say.
    virtual std::string MediumNote() const { return {}; }
    // The user said "Erase and use this disc" of the medium the last QueryMediaType examined:
    // its data may be erased by the next recording, as long as that medium is still in.
    virtual void AllowErase() {}
    // Where the disc recorded last can be read back: an image file, the device of a drive that
    // kept its disc in, the file behind a stdio drive. ImageFileSystem reads it as one disc
    // image whatever its name. Empty when it cannot be read back, as for a drive that ejected it.
    virtual std::string RecordedDiscPlace() const { return {}; }
    // Ejects the disc that a recording without eject left in the drive; nothing to do where
    // there is no tray.
    virtual Status Eject() { return Status::Ok(); }
    virtual Status Close() = 0;
};

class IEnumDiscRecorders {
public:
    virtual ~IEnumDiscRecorders() = default;
    // The next recorder, or nullptr when the list is exhausted.
    virtual std::shared_ptr<IDiscRecorder> Next() = 0;
};

// One file for the root of the disc: its name there and the staging file with its bytes.
// everyDisc marks the files every disc of a backup carries (the program, the autorun file):
// a file that does not fit a disc holding only those is too large for any disc.
// executable marks the programs: Rock Ridge mode 0755 on the disc, every other file 0444.
// reserve: the bytes of the file that will close the disc (the backup's catalogue) once this
// one is on it; room for it is kept from then on, so the closing file always fits.
struct StagedFile {
    std::string name;
    std::string path;
    bool everyDisc = false;
    bool executable = false;
    std::uint64_t reserve = 0;
};

class IJolietDiscMaster {
public:
    virtual ~IJolietDiscMaster() = default;
    // Takes the staged file's bytes into the disc's own staging area, so the caller may delete
    // its file right afterwards (and must not rewrite it in place: the disc may share its bytes
    // through a hard link). Fails with NoSpace when the image would no longer fit the medium
    // ("disc full"), TooLarge when the file would not fit even a disc holding only the everyDisc
    // files, AlreadyExists when the name is taken and overwrite is false.
    virtual Status AddData(const StagedFile& file, bool overwrite) = 0;
};

class IDiscMaster {
public:
    virtual ~IDiscMaster() = default;
    virtual Status Open() = 0;
    // Makes the Joliet format active; joliet stays owned by the master.
    virtual Status SetActiveDiscMasterFormat(IJolietDiscMaster*& joliet) = 0;
    // The sink is not owned; it must outlive ProgressUnadvise.
    virtual Status ProgressAdvise(IDiscMasterProgressEvents* sink, std::uint32_t& cookie) = 0;
    virtual Status ProgressUnadvise(std::uint32_t cookie) = 0;
    virtual Status EnumDiscRecorders(std::unique_ptr<IEnumDiscRecorders>& recorders) = 0;
    virtual Status SetActiveDiscRecorder(const std::shared_ptr<IDiscRecorder>& recorder) = 0;
    // Records everything added since the last recording onto the active recorder's disc,
    // reporting to the advised sinks, then starts a new empty image. Called with the recorder
    // closed. A recording abandoned because a sink asked to cancel fails with Cancelled.
    virtual Status RecordDisc(bool simulate, bool ejectAfterBurn) = 0;
    // While keep is true, the content of the disc recorded last (its staging area included) is
    // kept until the next recording, for RecordAgain; false lets it go at once.
    virtual void KeepRecordedDisc(bool /*keep*/) {}
    // Records the content of the disc recorded last once more, onto the medium now in the
    // active recorder: a disc that did not verify is made again on a new one. NotImplemented
    // where it was not kept.
    virtual Status RecordAgain(bool /*ejectAfterBurn*/) {
        return Status(Status::Code::NotImplemented, "This disc layer cannot record a disc again");
    }
    virtual Status Close() = 0;
};

}  // namespace corvane
