#include "disc/BurnRecording.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "disc/DiscImage.h"
#include "disc/IsoBurn.h"
#include "disc/PacedImageSource.h"

namespace corvane {

namespace {

using Clock = std::chrono::steady_clock;
// The drive's state and progress are asked this often while it records (libburn's own tools ask
// about once a second); each answer may wait for the window to show it.
constexpr auto kPollInterval = std::chrono::milliseconds(100);
// How often the drive is looked at for going idle, and the end of libburn's write thread
// once it is.
constexpr auto kEndPollInterval = std::chrono::milliseconds(10);
// After its end message the write thread still lets go of the drive; a job started before
// that would be refused.
constexpr auto kThreadLetGo = std::chrono::milliseconds(50);
// How long a write that looked refused is watched for a write thread. A write that started is
// waited for until its thread has ended (about half a second after the drive went idle was
// measured after a cancel): the thread uses the drive and the job until then.
constexpr auto kRefusedWriteWait = std::chrono::seconds(2);
constexpr int kWriteThreadEnded = 0x20178;  // "Write thread on drive N ended"

bool IsWriting(burn::burn_drive_status state) {
    return state == burn::BURN_DRIVE_WRITING || state == burn::BURN_DRIVE_WRITING_SYNC;
}

bool IsClosing(burn::burn_drive_status state) {
    return state == burn::BURN_DRIVE_CLOSING_TRACK || state == burn::BURN_DRIVE_CLOSING_SESSION ||
           state == burn::BURN_DRIVE_WRITING_LEADOUT;
}

bool AnyAtLeast(const std::vector<LibraryMessage>& messages, bool fromBurn,
                LibrarySeverity severity) {
    return std::any_of(messages.begin(), messages.end(), [&](const LibraryMessage& m) {
        return m.fromBurn == fromBurn && m.severity >= severity;
    });
}

// Moves the queued messages into messages; true once libburn's write thread has ended.
bool CollectMessages(std::vector<LibraryMessage>& messages) {
    bool ended = false;
    for (auto& message : DiscLibrary::TakeMessages()) {
        if (message.fromBurn && message.code == kWriteThreadEnded) ended = true;
        messages.push_back(std::move(message));
    }
    return ended;
}

// The parts of one libburn write job, freed together.
struct WriteJob {
    burn::burn_disc* disc = burn::burn_disc_create();
    burn::burn_session* session = burn::burn_session_create();
    burn::burn_track* track = burn::burn_track_create();
    burn::burn_write_opts* options = nullptr;
    burn::burn_source* source = nullptr;

    void Free() {
        if (options) burn::burn_write_opts_free(options);
        burn::burn_disc_free(disc);
        burn::burn_session_free(session);
        burn::burn_track_free(track);
        if (source) burn::burn_source_free(source);  // joins libisofs's image writer thread
    }
};

}  // namespace

GrabbedDrive::~GrabbedDrive() { Release(false); }

Status GrabbedDrive::Grab(const std::string& address) {
    DiscLibrary::Lock lock;
    Release(false);
    if (!DiscLibrary::Ready())
        return Status(Status::Code::Unavailable, "The disc recording library is not available");
    DiscLibrary::TakeMessages();
    std::string writable = address;  // the C interface lacks const
    if (burn::burn_drive_scan_and_grab(&info_, writable.data(), 1) == 1) return Status::Ok();
    info_ = nullptr;
    std::string why = DescribeMessages(DiscLibrary::TakeMessages(), LibrarySeverity::Sorry);
    return Status(Status::Code::Unavailable,
                  "Cannot open the recorder " + address + (why.empty() ? "" : ": " + why));
}

void GrabbedDrive::Release(bool eject) {
    DiscLibrary::Lock lock;
    if (!info_) return;
    burn::burn_drive_release(info_[0].drive, eject ? 1 : 0);
    burn::burn_drive_info_free(info_);
    info_ = nullptr;
}

burn::burn_drive* GrabbedDrive::drive() const { return info_ ? info_[0].drive : nullptr; }

Status WriteImage(GrabbedDrive& drive, DiscImage& image, std::uint32_t tailBlocks, bool simulate,
                  RecordingProgress& progress, std::uint64_t& bytes) {
    DiscLibrary::Lock lock;
    burn::burn_drive* d = drive.drive();
    if (!d) return Status(Status::Code::Unavailable, "The recorder is not open");
    DiscLibrary::TakeMessages();  // earlier messages are not this recording's

    ::burn_source* isoSource = nullptr;
    Status status = image.CreateBurnSource(tailBlocks, false, isoSource);
    if (!status.ok()) return status;
    WriteJob job;
    job.source = PacedImageSource(AsBurn(isoSource));
    if (!job.source) {
        job.Free();
        return Status(Status::Code::IoError, "Out of memory for the disc image");
    }
    off_t size = job.source->get_size(job.source);
    bytes = size > 0 ? static_cast<std::uint64_t>(size) : 0;
    const int total = static_cast<int>(bytes / 2048);

    burn::burn_disc_add_session(job.disc, job.session, BURN_POS_END);
    burn::burn_track_define_data(job.track, 0, 0, 1, BURN_MODE1);
    burn::burn_track_set_source(job.track, job.source);
    burn::burn_session_add_track(job.session, job.track, BURN_POS_END);
    job.options = burn::burn_write_opts_new(d);
    burn::burn_write_opts_set_perform_opc(job.options, 0);
    burn::burn_write_opts_set_multi(job.options, 0);
    burn::burn_write_opts_set_underrun_proof(job.options, 1);
    burn::burn_write_opts_set_simulate(job.options, simulate ? 1 : 0);
    char reasons[BURN_REASONS_LEN] = "";
    if (burn::burn_write_opts_auto_write_type(job.options, job.disc, reasons, 0) ==
        burn::BURN_WRITE_NONE) {
        job.Free();
        return Status(Status::Code::IoError,
                      std::string("The recorder cannot write this disc: ") + reasons);
    }

    burn::burn_disc_write(job.options, job.disc);  // runs on libburn's write thread
    // A write that libburn refuses returns with the drive idle and says why at SORRY or above;
    // a write that started has made the drive busy or has ended already.
    std::vector<LibraryMessage> messages;
    bool ended = CollectMessages(messages);
    bool looksRefused = !ended &&
                        burn::burn_drive_get_status(d, nullptr) == burn::BURN_DRIVE_IDLE &&
                        AnyAtLeast(messages, true, LibrarySeverity::Sorry);

    bool cancelled = false;
    bool closing = false;
    int reported = -1;
    burn::burn_progress state{};
    burn::burn_drive_status phase;
    while ((phase = burn::burn_drive_get_status(d, &state)) != burn::BURN_DRIVE_IDLE) {
        // Once the disc is being closed a cancel is ignored: the data is on it, and stopping
        // now would only leave a write-once disc unreadable.
        if (!cancelled && !closing) {
            int done = IsClosing(phase)   ? total
                       : IsWriting(phase) ? std::clamp(state.sector, 0, total)
                                          : 0;
            if (done > reported) {
                reported = done;
                progress.Blocks(done, total);
            }
            if (IsClosing(phase) && !closing) {
                progress.Closing();
                closing = true;
            }
            cancelled = progress.CancelRequested();
        }
        // Asked again on every poll: a cancel that comes while the write thread starts is lost.
        if (cancelled) burn::burn_drive_cancel(d);
        // Ends early when the drive goes idle: the end of a recording is not waited for longer.
        for (auto slept = Clock::duration::zero();
             slept < kPollInterval && burn::burn_drive_get_status(d, nullptr) != burn::BURN_DRIVE_IDLE;
             slept += kEndPollInterval)
            std::this_thread::sleep_for(kEndPollInterval);
    }

    // The drive goes idle before the write thread has let go of the job: only once it says it
    // has ended may the job be freed or another one started.
    auto deadline = Clock::now() + kRefusedWriteWait;
    for (;;) {
        if (CollectMessages(messages)) ended = true;
        if (ended || (looksRefused && Clock::now() >= deadline)) break;
        std::this_thread::sleep_for(kEndPollInterval);
    }
    if (ended) std::this_thread::sleep_for(kThreadLetGo);
    bool wroteWell = burn::burn_drive_wrote_well(d) == 1;
    job.Free();
    CollectMessages(messages);  // the image writer's, now that it has been joined

    // A cancel that came after the last poll but before success is reported still counts:
    // the user asked for no disc, and an image file is then removed.
    if (!cancelled && !closing) cancelled = progress.CancelRequested();
    if (cancelled) return Status(Status::Code::Cancelled, "The recording was cancelled");
    if (!ended || !wroteWell || AnyAtLeast(messages, false, LibrarySeverity::Mishap)) {
        std::string why = DescribeMessages(messages, LibrarySeverity::Sorry);
        return Status(Status::Code::IoError,
                      "Writing the disc failed" + (why.empty() ? "" : ": " + why));
    }
    if (reported < total) progress.Blocks(total, total);
    if (!closing) progress.Closing();
    return Status::Ok();
}

}  // namespace corvane
