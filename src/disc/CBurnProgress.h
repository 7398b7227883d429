#pragma once
// The progress sink handed to the disc master while a backup runs: turns its notifications
// into status texts and progress-bar positions of the backup's host, and answers whether to
// stop from the host's cancelRequested flag.

#include "backup/BackupHost.h"
#include "disc/DiscMaster.h"

namespace corvane {

class CBurnProgress final : public IDiscMasterProgressEvents {
public:
    explicit CBurnProgress(BackupHost& host) : host_(host) {}

    bool QueryCancel() override;
    Status NotifyPnPActivity() override;
    Status NotifyAddProgress(int completedSteps, int totalSteps) override;
    Status NotifyBlockProgress(int completedBlocks, int totalBlocks) override;
    Status NotifyTrackProgress(int currentTrack, int totalTracks) override;
    Status NotifyPreparingBurn(int estimatedSeconds) override;
    Status NotifyClosingDisc(int estimatedSeconds) override;
    Status NotifyBurnComplete(const Status& result) override;
    Status NotifyEraseComplete(const Status& result) override;
    Status NotifyPreparingMedium(const std::string& status, int percent) override;

private:
    BackupHost& host_;
};

}  // namespace corvane
