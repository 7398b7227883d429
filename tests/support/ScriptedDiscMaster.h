#pragma once
// A disc layer for tests: records every call made to the master, its Joliet format, its
// recorder list and its recorders, in order, as text in one log, and plays back scripted
// results. It keeps the files of every disc it "recorded", bytes and all.
//
// Log entries: "Open", "SetActiveDiscMasterFormat", "ProgressAdvise", "ProgressUnadvise 1",
// "EnumDiscRecorders", "Next", "SetActiveDiscRecorder /dev/sr0", "RecordDisc 0 1",
// "CloseDiscMaster"; "AddData <name>" (with " overwrite" when asked to overwrite); of the
// recorders "GetPath", "OpenExclusive", "QueryMediaType", "AllowErase", "Close". Used from one thread at a time.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "disc/DiscMaster.h"

namespace corvane::test {

struct DiscFile {
    std::string name;
    std::string bytes;
    bool executable = false;  // given mode 0755 on the disc
};

// The files added to one disc image, in the order they were added.
struct DiscImage {
    std::vector<DiscFile> files;

    std::vector<std::string> names() const;
    // nullptr when no file of that name was added.
    const DiscFile* find(const std::string& name) const;
};

class ScriptedDiscMaster final : public IDiscMaster, public IJolietDiscMaster {
public:
    // Starts with one recorder, "/dev/sr0".
    ScriptedDiscMaster();

    // --- Script ---
    // The next `times` calls of the method logged as `call` ("OpenExclusive", "RecordDisc",
    // "AddData", "QueryMediaType", "ProgressAdvise", ...) fail with `code`, before anything
    // else is looked at.
    void Fail(const std::string& call, int times = 1, Status::Code code = Status::Code::IoError);
    // Flags reported by the next QueryMediaType calls, one per call; once the queue is empty
    // every medium is blank and writable.
    void QueueMedia(unsigned flags) { media_.push_back(flags); }
    // What every recorder says of its medium (IDiscRecorder::MediumNote).
    void SetMediumNote(const std::string& note) { mediumNote_ = note; }
    // AddData of this name is always refused with NoSpace.
    void RefuseName(const std::string& name) { refusedNames_.push_back(name); }
    // Bytes one disc holds; AddData beyond them is refused with NoSpace. The payload counts.
    void SetCapacity(std::uint64_t bytes) { capacity_ = bytes; }
    // Blocks reported during each RecordDisc: preparing, then before each block QueryCancel
    // (a true answer fails the recording with Cancelled), block n of total, closing, complete.
    void SetProgressBlocks(int total) { progressBlocks_ = total; }
    // How long EnumDiscRecorders takes, as a slow drive scan does.
    void SetEnumDelay(std::chrono::milliseconds delay) { enumDelay_ = delay; }
    // Called with each block's number during RecordDisc, before the sinks are asked to cancel,
    // and with the block count plus one while the disc is closed.
    void SetDuringRecording(std::function<void(int block)> hook) { duringRecording_ = std::move(hook); }
    // Another recorder, listed after the ones before.
    std::shared_ptr<IDiscRecorder> AddRecorder(const std::string& path);

    // --- What happened ---
    const std::vector<std::string>& log() const { return log_; }
    std::shared_ptr<IDiscRecorder> recorder(std::size_t index = 0) const {
        return recorders_.at(index);
    }
    // Discs recorded successfully, in order.
    const std::vector<DiscImage>& recordedDiscs() const { return recorded_; }
    // What has been added since the last successful recording.
    const DiscImage& pendingImage() const { return pending_; }

    // --- IDiscMaster ---
    Status Open() override;
    Status SetActiveDiscMasterFormat(IJolietDiscMaster*& joliet) override;
    Status ProgressAdvise(IDiscMasterProgressEvents* sink, std::uint32_t& cookie) override;
    Status ProgressUnadvise(std::uint32_t cookie) override;
    Status EnumDiscRecorders(std::unique_ptr<IEnumDiscRecorders>& recorders) override;
    Status SetActiveDiscRecorder(const std::shared_ptr<IDiscRecorder>& recorder) override;
    Status RecordDisc(bool simulate, bool ejectAfterBurn) override;
    Status Close() override;

    // --- IJolietDiscMaster ---
    Status AddData(const StagedFile& file, bool overwrite) override;

private:
    class Recorder;
    class RecorderList;

    // Logs the call and answers its scripted failure, if any.
    Status Call(const std::string& entry);
    Status Record();

    std::vector<std::string> log_;
    std::map<std::string, std::deque<Status::Code>> failures_;
    std::deque<unsigned> media_;
    std::string mediumNote_;
    std::vector<std::string> refusedNames_;
    std::uint64_t capacity_ = UINT64_MAX;
    int progressBlocks_ = 3;
    std::function<void(int)> duringRecording_;
    std::chrono::milliseconds enumDelay_{0};

    std::vector<std::shared_ptr<IDiscRecorder>> recorders_;
    std::shared_ptr<IDiscRecorder> active_;
    std::map<std::uint32_t, IDiscMasterProgressEvents*> sinks_;
    std::uint32_t nextCookie_ = 1;
    DiscImage pending_;
    std::vector<DiscImage> recorded_;
};

}  // namespace corvane::test
