#include "disc/OpticalRecorder.h"

#include <chrono>
#include <thread>

#include "disc/DiscLayer.h"
#include "disc/IsoBurn.h"

namespace corvane {

namespace {

constexpr std::uint32_t kCdTailBlocks = 150;  // the 300 KB run-out that CD readers need
constexpr auto kScanPoll = std::chrono::milliseconds(100);

bool IsCdProfile(int profile) { return profile >= 0x08 && profile <= 0x0a; }

Status NotOpen() { return Status(Status::Code::Unavailable, "The recorder is not open"); }

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
    Status status = MeasureMedium(mediaType);
    if (!status.ok()) return status;
    burn::burn_drive* d = drive_.drive();
    if (burn::burn_disc_get_status(d) == burn::BURN_DISC_BLANK)
        flags |= MEDIA_WRITABLE | MEDIA_BLANK;
    if (burn::burn_disc_erasable(d)) flags |= MEDIA_RW;
    return Status::Ok();
}

Status OpticalRecorder::Close() {
    drive_.Release(false);
    return Status::Ok();
}

Status OpticalRecorder::Record(DiscImage& image, const std::string& /*backupName*/, bool simulate,
                               bool eject, RecordingProgress& progress) {
    DiscLibrary::Lock lock;
    Status status = OpenExclusive();
    int profile = 0;
    if (status.ok()) status = MeasureMedium(profile);
    if (status.ok() && burn::burn_disc_get_status(drive_.drive()) != burn::BURN_DISC_BLANK)
        status = Status(Status::Code::Unavailable, "The disc in " + device_ + " is not blank");
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
    drive_.Release(status.ok() && eject);
    return status;
}

Status OpticalRecorder::MeasureMedium(int& profile) {
    burn::burn_drive* d = drive_.drive();
    char name[80] = "";
    if (burn::burn_disc_get_profile(d, &profile, name) != 1) profile = 0;
    burn::burn_write_opts* options = burn::burn_write_opts_new(d);
    if (!options) return Status(Status::Code::IoError, "Cannot inquire the disc in " + device_);
    off_t room = burn::burn_disc_available_space(d, options);
    burn::burn_write_opts_free(options);
    limits_.capacity = room > 0 ? static_cast<std::uint64_t>(room) : 0;
    limits_.tailBlocks = IsCdProfile(profile) ? kCdTailBlocks : 0;
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
