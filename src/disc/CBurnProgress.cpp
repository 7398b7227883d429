#include "disc/CBurnProgress.h"

#include <cstdint>

namespace corvane {

namespace {

constexpr const char* kBurningText = "Burning The Disc...";

Status NotHandled() { return Status(Status::Code::NotImplemented, "Notification not handled"); }

}  // namespace

// The flag was a 32-bit word of which only the lowest byte was read as the answer.
bool CBurnProgress::QueryCancel() { return (host_.cancelRequested.load() & 0xFF) != 0; }

Status CBurnProgress::NotifyPnPActivity() { return NotHandled(); }

Status CBurnProgress::NotifyAddProgress(int, int) { return NotHandled(); }

Status CBurnProgress::NotifyBlockProgress(int completedBlocks, int totalBlocks) {
    // Written once per recording, not on every block.
    if (host_.StatusText() != kBurningText) host_.SetStatus(kBurningText);
    int percent = 0;
    if (completedBlocks > 0 && totalBlocks > 0) {
        // 64-bit so that a large medium's block count times 100 cannot overflow.
        percent = static_cast<int>(std::int64_t{completedBlocks} * 100 / totalBlocks);
    }
    host_.SetProgress(percent);
    return Status::Ok();
}

Status CBurnProgress::NotifyTrackProgress(int, int) { return NotHandled(); }

Status CBurnProgress::NotifyPreparingBurn(int) {
    host_.SetStatus("Preparing to burn...");
    return Status::Ok();
}

Status CBurnProgress::NotifyClosingDisc(int) {
    if (host_.recording) host_.recording = BackupHost::kRecordingClose;
    host_.SetStatus("Closing disc...");
    return Status::Ok();
}

// The recording's own result is reported by whoever called RecordDisc.
Status CBurnProgress::NotifyBurnComplete(const Status&) {
    host_.SetStatus("Completed!");
    return Status::Ok();
}

Status CBurnProgress::NotifyEraseComplete(const Status&) { return NotHandled(); }

Status CBurnProgress::NotifyPreparingMedium(const std::string& status, int percent) {
    if (host_.StatusText() != status) host_.SetStatus(status);
    host_.SetProgress(percent);
    return Status::Ok();
}

}  // namespace corvane
