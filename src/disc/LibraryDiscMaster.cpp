#include "disc/LibraryDiscMaster.h"

#include "disc/ImageFileName.h"
#include "disc/ImageRecorder.h"
#include "disc/OpticalRecorder.h"

namespace corvane {

namespace {

class RecorderList final : public IEnumDiscRecorders {
  public:
    explicit RecorderList(std::vector<std::shared_ptr<IDiscRecorder>> recorders)
        : recorders_(std::move(recorders)) {}
    std::shared_ptr<IDiscRecorder> Next() override {
        return next_ < recorders_.size() ? recorders_[next_++] : nullptr;
    }

  private:
    std::vector<std::shared_ptr<IDiscRecorder>> recorders_;
    std::size_t next_ = 0;
};

// Passes a recording's progress to every advised sink; any sink may cancel.
class SinkProgress final : public RecordingProgress {
  public:
    explicit SinkProgress(std::vector<IDiscMasterProgressEvents*> sinks)
        : sinks_(std::move(sinks)) {}
    void Blocks(int completed, int total) override {
        for (auto* sink : sinks_) sink->NotifyBlockProgress(completed, total);
    }
    void Closing() override {
        for (auto* sink : sinks_) sink->NotifyClosingDisc(0);
    }
    void PreparingMedium(const std::string& status, int percent) override {
        for (auto* sink : sinks_) sink->NotifyPreparingMedium(status, percent);
    }
    bool CancelRequested() override {
        bool cancel = false;
        for (auto* sink : sinks_) cancel = sink->QueryCancel() || cancel;
        return cancel;
    }

  private:
    std::vector<IDiscMasterProgressEvents*> sinks_;
};

}  // namespace

Status LibraryDiscMaster::Open() {
    if (!DiscLibrary::Ready())
        return Status(Status::Code::Unavailable, "The disc libraries could not be started");
    open_ = true;
    return Status::Ok();
}

Status LibraryDiscMaster::SetActiveDiscMasterFormat(IJolietDiscMaster*& joliet) {
    joliet = nullptr;
    Status status = CheckOpen();
    if (status.ok()) joliet = this;
    return status;
}

Status LibraryDiscMaster::ProgressAdvise(IDiscMasterProgressEvents* sink, std::uint32_t& cookie) {
    if (!sink) return Status(Status::Code::InvalidArgument, "No progress sink");
    cookie = nextCookie_++;
    sinks_[cookie] = sink;
    return Status::Ok();
}

Status LibraryDiscMaster::ProgressUnadvise(std::uint32_t cookie) {
    if (sinks_.erase(cookie) == 0) return Status(Status::Code::NotFound, "No sink has that cookie");
    return Status::Ok();
}

Status LibraryDiscMaster::EnumDiscRecorders(std::unique_ptr<IEnumDiscRecorders>& recorders) {
    Status status = CheckOpen();
    if (!status.ok()) return status;
    std::vector<std::shared_ptr<IDiscRecorder>> list;
    for (const auto& spec : options_.imageRecorders)
        list.push_back(std::make_shared<ImageRecorder>(spec));
    if (options_.scanOpticalDrives)
        for (auto& device : ScanOpticalDrives())
            list.push_back(std::make_shared<OpticalRecorder>(device));
    recorders = std::make_unique<RecorderList>(std::move(list));
    return Status::Ok();
}

Status LibraryDiscMaster::SetActiveDiscRecorder(const std::shared_ptr<IDiscRecorder>& recorder) {
    Status status = CheckOpen();
    if (!status.ok()) return status;
    auto ours = std::dynamic_pointer_cast<LibraryRecorder>(recorder);
    if (!ours) return Status(Status::Code::InvalidArgument, "Not a recorder of this disc layer");
    recorder_ = std::move(ours);
    return Status::Ok();
}

Status LibraryDiscMaster::AddData(const StagedFile& file, bool overwrite) {
    Status status = CheckOpen();
    if (!status.ok()) return status;
    if (!recorder_) return Status(Status::Code::InvalidArgument, "No recorder is active");
    return CurrentDisc().Add(file, overwrite, recorder_->Limits());
}

Status LibraryDiscMaster::RecordDisc(bool simulate, bool ejectAfterBurn) {
    Status status = CheckOpen();
    if (!status.ok()) return status;
    if (!recorder_) return Status(Status::Code::InvalidArgument, "No recorder is active");
    DiscLibrary::Lock lock;
    DiscImage& disc = CurrentDisc();
    status = disc.CheckFits(recorder_->Limits());
    if (!status.ok()) return status;

    std::string backupName = DiscBackupName(disc.names());
    disc.SetVolumeId(backupName);
    std::vector<IDiscMasterProgressEvents*> sinks = Sinks();
    for (auto* sink : sinks) sink->NotifyPreparingBurn(0);
    SinkProgress progress(sinks);
    status = recorder_->Record(disc, backupName, simulate, ejectAfterBurn, progress);
    for (auto* sink : sinks) sink->NotifyBurnComplete(status);
    if (status.ok() && !simulate) {
        recorded_.reset();
        if (keepRecorded_) recorded_ = std::move(disc_);
        disc_.reset();
    }
    return status;
}

void LibraryDiscMaster::KeepRecordedDisc(bool keep) {
    keepRecorded_ = keep;
    if (!keep) recorded_.reset();
}

Status LibraryDiscMaster::RecordAgain(bool ejectAfterBurn) {
    if (!recorded_) return Status(Status::Code::InvalidArgument, "No disc was recorded to record again");
    if (disc_ && !disc_->names().empty())
        return Status(Status::Code::InvalidArgument, "Files of the next disc were added already");
    disc_ = std::move(recorded_);
    return RecordDisc(false, ejectAfterBurn);
}

Status LibraryDiscMaster::Close() {
    disc_.reset();
    recorded_.reset();
    recorder_.reset();
    sinks_.clear();
    open_ = false;
    return Status::Ok();
}

Status LibraryDiscMaster::CheckOpen() const {
    if (open_) return Status::Ok();
    return Status(Status::Code::Unavailable, "The disc master is not open");
}

DiscImage& LibraryDiscMaster::CurrentDisc() {
    if (!disc_) disc_ = std::make_unique<DiscImage>(recorder_ ? recorder_->StagingFolder() : "");
    return *disc_;
}

std::vector<IDiscMasterProgressEvents*> LibraryDiscMaster::Sinks() const {
    std::vector<IDiscMasterProgressEvents*> sinks;
    for (const auto& [cookie, sink] : sinks_) sinks.push_back(sink);
    return sinks;
}

}  // namespace corvane
