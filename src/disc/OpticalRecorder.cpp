#include "disc/OpticalRecorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "disc/DiscLayer.h"
#include "disc/IsoBurn.h"

namespace corvane {

namespace {

constexpr std::uint32_t kCdTailBlocks = 150;  // the 300 KB run-out that CD readers need
constexpr auto kScanPoll = std::chrono::milliseconds(100);
// Formatting and blanking take minutes; libburn's tools look at them about once a second.
constexpr auto kMediumWorkPoll = std::chrono::milliseconds(500);
constexpr int kStdioFile = 0xffff;
constexpr const char* kStdioPrefix = "stdio:";
constexpr off_t kDescriptorAddress = 16 * 2048;  // the ISO 9660 primary volume descriptor

bool IsCdProfile(int profile) { return profile >= 0x08 && profile <= 0x0a; }
bool IsBdProfile(int profile) { return profile >= 0x40 && profile <= 0x43; }

Status NotOpen() { return Status(Status::Code::Unavailable, "The recorder is not open"); }

bool IsStdioDrive(const std::string& device) { return device.rfind(kStdioPrefix, 0) == 0; }

// Where a disc in the drive is read: the file behind a stdio drive, else the device itself.
std::string ReadablePlace(const std::string& device) {
    return IsStdioDrive(device) ? device.substr(std::strlen(kStdioPrefix)) : device;
}

// libburn writes a disc with SCSI commands that pass by the kernel's cache of the device, so
// blocks read through the device before the recording (the desktop's look at the disc when it
// was inserted, an earlier disc in the same drive) would be read back instead of what the disc
// holds now. They are dropped. A failed open is left to the read-back, which then says why.
void DropCachedBlocks(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

DiscState StateOf(burn::burn_disc_status status) {
    switch (status) {
        case burn::BURN_DISC_BLANK:
            return DiscState::Blank;
        case burn::BURN_DISC_APPENDABLE:
            return DiscState::Appendable;
        case burn::BURN_DISC_FULL:
            return DiscState::Full;
        case burn::BURN_DISC_EMPTY:
            return DiscState::Empty;
        default:
            return DiscState::Unusable;
    }
}

bool SameMedium(const MediumState& a, const MediumState& b) {
    return a.profile == b.profile && a.state == b.state && a.volumeId == b.volumeId;
}

// The room a medium will have once it is blanked or formatted, which libburn reports as none
// before.
std::uint64_t NominalCapacity(int profile) {
    if (IsCdProfile(profile)) return kCdCapacity;
    return IsBdProfile(profile) ? kBdCapacity : kDvdCapacity;
}

}  // namespace

OpticalRecorder::OpticalRecorder(std::string device)
    : device_(std::move(device)), limits_{kCdCapacity, kCdTailBlocks} {}

std::string OpticalRecorder::StagingFolder() const { return CacheFolder(); }

Status OpticalRecorder::OpenExclusive() {
    if (drive_.grabbed()) return Status::Ok();
    return drive_.Grab(device_);
}

Status OpticalRecorder::QueryMediaType(int& mediaType, unsigned& flags) {
    DiscLibrary::Lock lock;
    flags = 0;
    mediaType = 0;
    if (!drive_.grabbed()) return NotOpen();
    MediumState medium;
    Status status = Examine(medium);
    if (!status.ok()) return status;
    mediaType = medium.profile;
    examined_ = medium;
    decision_ = DecideMedia(medium, lastBackup_);
    switch (decision_.action) {
        case MediaAction::Write:
            flags |= MEDIA_WRITABLE | MEDIA_BLANK;
            break;
        case MediaAction::FormatThenWrite:
            flags |= MEDIA_WRITABLE | MEDIA_BLANK;
            if (limits_.capacity == 0) limits_.capacity = NominalCapacity(medium.profile);
            break;
        case MediaAction::AskToErase:
            flags |= MEDIA_HOLDS_DATA;
            if (erasable_ && SameMedium(*erasable_, medium)) flags |= MEDIA_WRITABLE;
            if (decision_.blankFirst) limits_.capacity = NominalCapacity(medium.profile);
            break;
        case MediaAction::Refuse:
            break;
    }
    if (medium.erasable) flags |= MEDIA_RW;
    return Status::Ok();
}

void OpticalRecorder::AllowErase() { erasable_ = examined_; }

Status OpticalRecorder::Close() {
    drive_.Release(false);
    return Status::Ok();
}

Status OpticalRecorder::Record(DiscImage& image, const std::string& backupName, bool simulate,
                               bool eject, RecordingProgress& progress) {
    DiscLibrary::Lock lock;
    recorded_.clear();
    Status status = OpenExclusive();
    MediumState medium;
    if (status.ok()) status = Examine(medium);
    MediaDecision decision = DecideMedia(medium, backupName);
    if (status.ok() && decision.action == MediaAction::Refuse)
        status = Status(Status::Code::Unavailable,
                        "The disc in " + device_ + " cannot be used: " + decision.reason);
    if (status.ok() && decision.action == MediaAction::AskToErase &&
        !(erasable_ && SameMedium(*erasable_, medium)))
        status = Status(Status::Code::Unavailable, "The disc in " + device_ +
                                                       " is not erased without your consent: " +
                                                       decision.reason);
    if (status.ok() && !simulate) status = Prepare(decision, medium, progress);
    int profile = 0;
    if (status.ok()) status = MeasureMedium(profile);
    std::uint64_t size = 0;
    if (status.ok()) status = image.ExactSize(limits_.tailBlocks, size);
    if (status.ok() && size > limits_.capacity)
        status =
            Status(Status::Code::NoSpace, "The disc in " + device_ + " is too small for the image");
    std::uint64_t bytes = 0;
    // The drive's own best speed, as libburn's tools ask for by default.
    if (status.ok()) burn::burn_drive_set_speed(drive_.drive(), 0, 0);
    if (status.ok())
        status = WriteImage(drive_, image, limits_.tailBlocks, simulate, progress, bytes);
    if (status.ok() && !simulate) {
        lastBackup_ = backupName;
        erasable_.reset();
    }
    drive_.Release(status.ok() && eject);
    if (status.ok() && !simulate && !eject) {
        // A stdio drive's file was written through the kernel's cache: what it holds is there.
        if (!IsStdioDrive(device_)) DropCachedBlocks(device_);
        recorded_ = ReadablePlace(device_);
    }
    return status;
}

Status OpticalRecorder::Eject() {
    recorded_.clear();
    Status status = OpenExclusive();
    if (status.ok()) drive_.Release(true);
    return status;
}

// What the drive reports of its medium, and the volume its first blocks hold.
Status OpticalRecorder::Examine(MediumState& medium) {
    medium = {};
    DiscLibrary::TakeMessages();  // earlier ones are not about this medium
    Status status = MeasureMedium(medium.profile);
    if (!status.ok()) return status;
    burn::burn_drive* d = drive_.drive();
    medium.state = StateOf(burn::burn_disc_get_status(d));
    medium.erasable = burn::burn_disc_erasable(d) == 1;
    int formatStatus = 0;
    off_t formatSize = 0;
    unsigned blockLength = 0;
    int formats = 0;
    medium.unformatted =
        burn::burn_disc_get_formats(d, &formatStatus, &formatSize, &blockLength, &formats) == 1 &&
        formatStatus == BURN_FORMAT_IS_UNFORMATTED;
    medium.driveSays = DescribeMessages(DiscLibrary::TakeMessages(), LibrarySeverity::Warning);
    if (medium.state == DiscState::Empty || medium.state == DiscState::Unusable)
        return Status::Ok();
    unsigned char block[2048];
    off_t got = 0;
    // bit1: a blank medium has nothing to read, which is no error; bit2: no retries.
    if (burn::burn_read_data(d, kDescriptorAddress, reinterpret_cast<char*>(block), sizeof block,
                             &got, 2 | 4) == 1)
        medium.volumeId = VolumeIdOfDescriptor(block, static_cast<std::size_t>(got));
    DiscLibrary::TakeMessages();  // a failed look at a blank medium is no one's business
    return Status::Ok();
}

Status OpticalRecorder::MeasureMedium(int& profile) {
    burn::burn_drive* d = drive_.drive();
    char name[80] = "";
    if (burn::burn_disc_get_profile(d, &profile, name) != 1) profile = 0;
    burn::burn_write_opts* options = burn::burn_write_opts_new(d);
    if (!options) {
        const std::string why = DescribeMessages(DiscLibrary::TakeMessages(), LibrarySeverity::Sorry);
        return Status(Status::Code::IoError, "Cannot inquire the disc in " + device_ + (why.empty() ? "" : ": " + why));
    }
    off_t room = burn::burn_disc_available_space(d, options);
    burn::burn_write_opts_free(options);
    limits_.capacity = room > 0 ? static_cast<std::uint64_t>(room) : 0;
    limits_.tailBlocks = IsCdProfile(profile) ? kCdTailBlocks : 0;
    return Status::Ok();
}

// Formats a new medium or blanks a written rewritable one, as the decision says, and waits
// until the drive is done. An overwritable medium needs neither: it is written over (a file
// behind a stdio drive is emptied first, since libburn does not shorten it).
Status OpticalRecorder::Prepare(const MediaDecision& decision, const MediumState& medium,
                                RecordingProgress& progress) {
    const bool format = decision.action == MediaAction::FormatThenWrite;
    if (!format && !(decision.action == MediaAction::AskToErase)) return Status::Ok();
    if (!format && !decision.blankFirst) {
        if (medium.profile == kStdioFile && IsStdioDrive(device_) &&
            ::truncate(ReadablePlace(device_).c_str(), 0) != 0)
            return Status::FromErrno(errno, "Cannot empty " + device_);
        return Status::Ok();
    }
    burn::burn_drive* d = drive_.drive();
    const std::string text = format ? "Formatting disc..." : "Erasing disc...";
    DiscLibrary::TakeMessages();
    progress.PreparingMedium(text, 0);
    if (format) {
        burn::burn_disc_format(d, 0, 0);  // libburn picks the format the medium needs
    } else {
        burn::burn_disc_erase(d, 1);  // fast: the table of contents only
    }
    // Neither can be cancelled: control is with the drive until it is done.
    burn::burn_progress state{};
    while (burn::burn_drive_get_status(d, &state) != burn::BURN_DRIVE_IDLE) {
        int percent = state.sectors > 0 ? static_cast<int>(std::int64_t{state.sector} * 100 / state.sectors) : 0;
        progress.PreparingMedium(text, percent);
        std::this_thread::sleep_for(kMediumWorkPoll);
    }
    std::vector<LibraryMessage> messages = DiscLibrary::TakeMessages();
    if (burn::burn_drive_wrote_well(d) != 1) {
        std::string why = DescribeMessages(messages, LibrarySeverity::Sorry);
        return Status(Status::Code::IoError, std::string(format ? "Formatting" : "Erasing") +
                                                 " the disc in " + device_ + " failed" +
                                                 (why.empty() ? "" : ": " + why));
    }
    progress.PreparingMedium(text, 100);
    return Status::Ok();
}

std::vector<std::string> ScanOpticalDrives() {
    DiscLibrary::User library;
    DiscLibrary::Lock lock;
    std::vector<std::string> devices;
    if (!DiscLibrary::Ready()) return devices;
    burn::burn_drive_info* list = nullptr;
    unsigned int count = 0;
    int result = 0;
    // The scan runs on a libburn thread; 0 means it has not finished yet. libburn asks to be
    // called until it has: a drive that takes long to answer is waited for.
    while ((result = burn::burn_drive_scan(&list, &count)) == 0) std::this_thread::sleep_for(kScanPoll);
    if (result < 0) return devices;
    for (unsigned int i = 0; i < count; ++i) {
        char address[BURN_DRIVE_ADR_LEN];
        if (burn::burn_drive_d_get_adr(list[i].drive, address) > 0) devices.emplace_back(address);
        burn::burn_drive_info_forget(&list[i], 0);
    }
    burn::burn_drive_info_free(list);
    return devices;
}

}  // namespace corvane
