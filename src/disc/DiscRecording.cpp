#include "disc/DiscRecording.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "disc/DiscPayload.h"
#include "disc/Leftovers.h"

namespace corvane {

namespace {

using namespace std::chrono_literals;

// BurnDisc's boxes carry the program's file name as their caption.
constexpr const char* kApplicationName = "corvane";
constexpr const char* kWriteError = "Error writing disc!";
constexpr auto kPassPause = 5000ms;
constexpr std::uint64_t kMiB = 1024 * 1024;

constexpr const char* kEraseQuestion = "Erase and use this disc?";

enum class Media { Writable, HoldsData, RecorderUnavailable, Unreadable, NotWritable };

// Opens the recorder, examines the medium and closes the recorder again; why holds the cause
// when the medium cannot be used.
Media CheckMedia(BackupHost& host, IDiscRecorder& recorder, Status& why) {
    why = recorder.OpenExclusive();
    // The cause goes to the status line, beside the message that asks to try again.
    if (!why.ok()) {
        host.SetStatus(why.message());
        return Media::RecorderUnavailable;
    }
    host.SetStatus("Accessing media...");
    int mediaType = 0;
    unsigned flags = 0;
    why = recorder.QueryMediaType(mediaType, flags);
    recorder.Close();
    if (!why.ok()) {
        host.SetStatus(why.message());
        return Media::Unreadable;
    }
    if ((flags & MEDIA_WRITABLE) != 0) return Media::Writable;
    // Why the disc cannot be used goes to the status line, beside the request for another.
    if (const std::string note = recorder.MediumNote(); !note.empty()) host.SetStatus(note);
    return (flags & MEDIA_HOLDS_DATA) != 0 ? Media::HoldsData : Media::NotWritable;
}

// A disc that holds data is written only when the user answers Yes to a question of its own,
// whose default is No.
bool AllowedToErase(BackupHost& host, IDiscRecorder& recorder) {
    const Message question{recorder.MediumNote() + "\n\n" + kEraseQuestion, MessageIcon::Warning,
                           MessageButtons::YesNo, kProductTitle, true};
    if (host.Ask(question) != MessageAnswer::Yes) return false;
    recorder.AllowErase();
    return true;
}

const char* BurnComplaint(Media media) {
    switch (media) {
        case Media::RecorderUnavailable:
            return "Unable to open disc recorder!";
        case Media::Unreadable:
            return "Unable to access disc recorder!";
        default:
            return "Please insert a blank writable disc!";
    }
}

bool AskRetry(BackupHost& host, const char* text, const char* caption) {
    return host.Ask({text, MessageIcon::Warning, MessageButtons::RetryCancel, caption}) ==
           MessageAnswer::Retry;
}

// Shows the cause of a failure on the status line and keeps it for the job's end; tells it in
// a message unless that was done already.
DiscStep Fail(BackupHost& host, const std::string& cause, bool told = false) {
    host.failure = cause;
    host.SetStatus(cause);
    if (!told) host.Ask({cause, MessageIcon::Warning, MessageButtons::Ok});
    return DiscStep::Failed;
}

std::string Megabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / kMiB);
    return text;
}

// The room one disc takes while it is gathered and recorded: its staged files, at most the
// disc's capacity and no more than is left to back up (plus the program and a margin for the
// streams' own records); twice that for an image recorder, whose image is written beside
// them on the same file system.
std::uint64_t RoomForDisc(BackupHost& host, const IDiscRecorder& recorder) {
    FileInfo program, restorer;
    if (!host.files->Stat(host.programPath, program).ok()) program.size = 0;
    if (!host.files->Stat(RestorerBeside(host.programPath), restorer).ok()) restorer.size = 0;
    const double total = host.totalKB * 1024.0;
    const auto read = static_cast<double>(host.bytesRead);
    const auto left = static_cast<std::uint64_t>(total > read ? total - read : 0.0);
    std::uint64_t room = left + left / 64 + program.size + restorer.size + kMiB;
    if (recorder.Capacity() > 0) room = std::min(room, recorder.Capacity());
    return recorder.WritesImageFiles() ? 2 * room : room;
}

// Puts host.tempFolder into the recorder's staging folder and checks the room there, once the
// leftovers of a backup killed there are gone.
DiscStep PrepareStaging(BackupHost& host, const IDiscRecorder& recorder) {
    const std::string parent = recorder.StagingFolder();
    if (!parent.empty()) RemoveLeftovers(parent);
    Status made = host.tempFolder.CreateIn(parent);
    if (!made.ok()) return Fail(host, "Cannot prepare the disc: " + made.message());
    std::uint64_t free = 0;
    if (!host.files->FreeSpace(host.tempFolder.path(), free).ok()) return DiscStep::Done;  // cannot tell
    const std::uint64_t needed = RoomForDisc(host, recorder);
    if (free >= needed) return DiscStep::Done;
    const std::string folder =
        parent.empty() ? std::filesystem::path(host.tempFolder.path()).parent_path().string() : parent;
    return Fail(host, "There is not enough room in " + folder + " for the next disc: it needs " +
                          Megabytes(needed) + ", " + Megabytes(free) +
                          " are free. Free some space, or choose another folder.");
}

DiscStep StagePayload(BackupHost& host, IJolietDiscMaster& joliet) {
    Status staged = StageSelfCopy(host, joliet);
    if (staged.ok()) staged = StageAutorun(host, joliet);
    if (staged.ok()) staged = StageRestorer(host, joliet);
    if (staged.ok()) staged = StageAutorunScript(host, joliet);
    if (staged.ok()) return DiscStep::Done;
    if (staged.code() == Status::Code::Cancelled) return DiscStep::Cancelled;
    // The payload's own message has told the details.
    return Fail(host, "Cannot put the program on the disc: " + staged.message(), true);
}

}  // namespace

DiscStep PrepareDisc(BackupHost& host, IJolietDiscMaster& joliet,
                     const std::shared_ptr<IDiscRecorder>& recorder, IDiscMaster& discMaster) {
    if (!host.RecorderSelection()) return DiscStep::Cancelled;
    for (;;) {
        discMaster.SetActiveDiscRecorder(recorder);
        Status why;
        const Media media = CheckMedia(host, *recorder, why);
        const bool ready = media == Media::Writable ||
                           (media == Media::HoldsData && AllowedToErase(host, *recorder));
        if (ready) {
            // Our recorders only take blank discs, so every new disc gets the payload.
            DiscStep step = PrepareStaging(host, *recorder);
            if (step == DiscStep::Done) step = StagePayload(host, joliet);
            if (step != DiscStep::Done) return step;
        } else if (recorder->WritesImageFiles()) {
            // No disc to change: the image folder itself cannot be used.
            return Fail(host, why.message());
        } else if (!AskRetry(host, "Please insert a blank writeable disc", kProductTitle)) {
            return DiscStep::Cancelled;
        }
        // An optical drive gets time to settle between passes; an image file needs none.
        if (!recorder->WritesImageFiles()) host.clock->Sleep(kPassPause);
        if (ready) return DiscStep::Done;
    }
}

namespace {

// Records the disc (again: the disc recorded last, onto a new one), retrying a failed recording;
// eject: the drive ejects the disc once it is recorded.
DiscStep RecordOnce(BackupHost& host, IDiscMaster& discMaster, const std::shared_ptr<IDiscRecorder>& recorder,
                    bool again, bool eject) {
    int failedRecordings = 0;
    for (;;) {
        host.SetStatus("Activating disc recorder...");
        Status why;
        Media media = CheckMedia(host, *recorder, why);
        if (media != Media::Writable) {
            if (recorder->WritesImageFiles()) return Fail(host, std::string(kWriteError) + " " + why.message());
            if (!AskRetry(host, BurnComplaint(media), kApplicationName)) return DiscStep::Cancelled;
            continue;
        }
        host.SetStatus("Burning disc...");
        host.SetCancelEnabled(false);
        // Stopping an image file costs nothing; stopping a drive may ruin a write-once disc.
        host.recording = recorder->WritesImageFiles() ? 0 : BackupHost::kRecordingWrite;
        // A failed recording keeps the content where RecordDisc finds it.
        Status recorded = again && failedRecordings == 0 ? discMaster.RecordAgain(eject) : discMaster.RecordDisc(false, eject);
        const bool closed = host.recording.exchange(0) == BackupHost::kRecordingClose;
        // A drive ignores a cancel once it closes the disc: the disc is finished, and the
        // cancel must not turn it into a stopped backup.
        if (recorded.ok() && closed) host.cancelRequested = 0;
        if (host.stopAfterRecording) host.cancelRequested = 1;
        if (recorded.ok()) return DiscStep::Done;
        const std::string cause = std::string(kWriteError) + " " + recorded.message();
        // A disc whose content was not kept cannot be made again: recording on would make
        // another disc, not this one.
        if (again && failedRecordings == 0 &&
            (recorded.code() == Status::Code::NotImplemented || recorded.code() == Status::Code::InvalidArgument))
            return Fail(host, cause);
        host.SetStatus(cause);
        // A recording the user stopped would only be stopped again.
        if (host.cancelRequested) return DiscStep::Cancelled;
        if (++failedRecordings >= kRecordingAttempts) return Fail(host, cause);
    }
}

// Keeps the disc recorded last for as long as it may have to be recorded again.
class KeptRecording {
public:
    KeptRecording(IDiscMaster& master, bool keep) : master_(master) { master_.KeepRecordedDisc(keep); }
    ~KeptRecording() { master_.KeepRecordedDisc(false); }
    KeptRecording(const KeptRecording&) = delete;
    KeptRecording& operator=(const KeptRecording&) = delete;

private:
    IDiscMaster& master_;
};

}  // namespace

DiscStep BurnDisc(BackupHost& host, IDiscMaster& discMaster,
                  const std::shared_ptr<IDiscRecorder>& recorder) {
    const bool verify = static_cast<bool>(host.verifyRecordedDisc);
    const KeptRecording kept(discMaster, verify);
    // A disc to verify stays in the drive until it has been read back.
    DiscStep step = RecordOnce(host, discMaster, recorder, false, !verify);
    while (step == DiscStep::Done && verify) {
        const std::string place = recorder->RecordedDiscPlace();
        const bool readBack = !place.empty() && !host.cancelRequested;
        std::string damage;
        if (readBack) {
            host.SetCancelEnabled(true);
            damage = host.verifyRecordedDisc(place);
        } else if (place.empty()) {
            host.SetStatus("The disc was not verified: the recorder cannot read it back");
        }
        // Good, damaged or cancelled, the disc leaves the drive as it does without verifying.
        if (const Status ejected = recorder->Eject(); !ejected.ok())
            host.SetStatus("The disc was not ejected: " + ejected.message());
        if (!readBack) break;
        if (host.cancelRequested) return DiscStep::Cancelled;
        if (damage.empty()) break;
        const std::string name = recorder->WritesImageFiles()
                                     ? std::filesystem::path(place).filename().string()
                                     : "in " + recorder->GetPath();
        const std::string text = "The disc " + name + " did not verify:\n" + damage +
                                 "\n\nRetry records it again on a new disc.";
        host.SetStatus("The disc " + name + " did not verify");
        if (!AskRetry(host, text.c_str(), kApplicationName))
            return Fail(host, "The disc " + name + " did not verify", true);
        // A damaged image file is no disc of the backup: the new one takes its place. A drive's
        // device, or the user's file behind a stdio drive, stays: the user changes the disc.
        if (recorder->WritesImageFiles()) host.files->RemoveFile(place);
        step = RecordOnce(host, discMaster, recorder, true, false);
    }
    return step;
}

DiscStep ContinueOnNewDisc(BackupHost& host, IJolietDiscMaster& joliet, IDiscMaster& discMaster,
                           const std::shared_ptr<IDiscRecorder>& recorder) {
    DiscStep step = BurnDisc(host, discMaster, recorder);
    if (step != DiscStep::Done) return step;
    if (host.cancelRequested) return DiscStep::Cancelled;  // asked to stop once the disc was done
    if (host.Ask({"Please insert another disc", MessageIcon::Information,
                  MessageButtons::RetryCancel}) != MessageAnswer::Retry)
        return DiscStep::Cancelled;
    discMaster.SetActiveDiscRecorder(recorder);
    return PrepareDisc(host, joliet, recorder, discMaster);
}

}  // namespace corvane
