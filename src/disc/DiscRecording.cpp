#include "disc/DiscRecording.h"

#include <chrono>

#include "disc/DiscPayload.h"

namespace corvane {

namespace {

using namespace std::chrono_literals;

// BurnDisc's boxes carry the program's file name as their caption.
constexpr const char* kApplicationName = "corvane";
constexpr auto kPassPause = 5000ms;

enum class Media { Writable, RecorderUnavailable, Unreadable, NotWritable };

// Opens the recorder, examines the medium and closes the recorder again.
Media CheckMedia(BackupHost& host, IDiscRecorder& recorder) {
    if (!recorder.OpenExclusive().ok()) return Media::RecorderUnavailable;
    host.SetStatus("Accessing media...");
    int mediaType = 0;
    unsigned flags = 0;
    Status query = recorder.QueryMediaType(mediaType, flags);
    recorder.Close();
    if (!query.ok()) return Media::Unreadable;
    return (flags & MEDIA_WRITABLE) != 0 ? Media::Writable : Media::NotWritable;
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

}  // namespace

bool PrepareDisc(BackupHost& host, IJolietDiscMaster& joliet,
                 const std::shared_ptr<IDiscRecorder>& recorder, IDiscMaster& discMaster) {
    if (!host.RecorderSelection()) return false;
    for (;;) {
        discMaster.SetActiveDiscRecorder(recorder);
        const bool ready = CheckMedia(host, *recorder) == Media::Writable;
        if (ready) {
            // Our recorders only take blank discs, so every new disc gets the payload.
            if (!StageSelfCopy(host, joliet).ok()) return false;
            if (!StageAutorun(host, joliet).ok()) return false;
        } else if (!AskRetry(host, "Please insert a blank writeable disc", kProductTitle)) {
            return false;
        }
        // An optical drive gets time to settle between passes; an image file needs none.
        if (!recorder->WritesImageFiles()) host.clock->Sleep(kPassPause);
        if (ready) return true;
    }
}

bool BurnDisc(BackupHost& host, IDiscMaster& discMaster,
              const std::shared_ptr<IDiscRecorder>& recorder) {
    int failedRecordings = 0;
    for (;;) {
        host.SetStatus("Activating disc recorder...");
        Media media = CheckMedia(host, *recorder);
        if (media != Media::Writable) {
            if (!AskRetry(host, BurnComplaint(media), kApplicationName)) return false;
            continue;
        }
        host.SetStatus("Burning disc...");
        host.SetCancelEnabled(false);
        if (discMaster.RecordDisc(false, true).ok()) {
            host.SetStatus("Completed Successfully!");
            return true;
        }
        host.SetStatus("Error writing disc!");
        // A recording the user stopped would only be stopped again.
        if (host.cancelRequested || ++failedRecordings >= kRecordingAttempts) return false;
    }
}

}  // namespace corvane
