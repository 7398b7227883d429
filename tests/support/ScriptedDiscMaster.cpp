#include "support/ScriptedDiscMaster.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "platform/FileLayer.h"

namespace corvane::test {

std::vector<std::string> DiscImage::names() const {
    std::vector<std::string> result;
    for (const auto& file : files) result.push_back(file.name);
    return result;
}

const DiscFile* DiscImage::find(const std::string& name) const {
    for (const auto& file : files)
        if (file.name == name) return &file;
    return nullptr;
}

class ScriptedDiscMaster::Recorder final : public IDiscRecorder {
public:
    Recorder(ScriptedDiscMaster& master, std::string path)
        : master_(master), path_(std::move(path)) {}

    const std::string& path() const { return path_; }

    std::string GetPath() override {
        master_.Call("GetPath");
        return path_;
    }
    Status OpenExclusive() override { return master_.Call("OpenExclusive"); }
    Status QueryMediaType(int& mediaType, unsigned& flags) override {
        Status s = master_.Call("QueryMediaType");
        if (!s.ok()) return s;
        mediaType = 0;
        flags = MEDIA_BLANK | MEDIA_WRITABLE;
        if (!master_.media_.empty()) {
            flags = master_.media_.front();
            master_.media_.pop_front();
        }
        return s;
    }
    std::string MediumNote() const override { return master_.mediumNote_; }
    void AllowErase() override { master_.Call("AllowErase"); }
    Status Close() override { return master_.Call("Close"); }

private:
    ScriptedDiscMaster& master_;
    std::string path_;
};

class ScriptedDiscMaster::RecorderList final : public IEnumDiscRecorders {
public:
    RecorderList(ScriptedDiscMaster& master) : master_(master) {}

    std::shared_ptr<IDiscRecorder> Next() override {
        master_.Call("Next");
        if (next_ >= master_.recorders_.size()) return nullptr;
        return master_.recorders_[next_++];
    }

private:
    ScriptedDiscMaster& master_;
    std::size_t next_ = 0;
};

ScriptedDiscMaster::ScriptedDiscMaster() { AddRecorder("/dev/sr0"); }

std::shared_ptr<IDiscRecorder> ScriptedDiscMaster::AddRecorder(const std::string& path) {
    recorders_.push_back(std::make_shared<Recorder>(*this, path));
    return recorders_.back();
}

void ScriptedDiscMaster::Fail(const std::string& call, int times, Status::Code code) {
    for (int i = 0; i < times; ++i) failures_[call].push_back(code);
}

Status ScriptedDiscMaster::Call(const std::string& entry) {
    log_.push_back(entry);
    auto found = failures_.find(entry.substr(0, entry.find(' ')));
    if (found == failures_.end() || found->second.empty()) return Status::Ok();
    Status::Code code = found->second.front();
    found->second.pop_front();
    return Status(code, "Scripted failure of " + entry);
}

Status ScriptedDiscMaster::Open() { return Call("Open"); }

Status ScriptedDiscMaster::SetActiveDiscMasterFormat(IJolietDiscMaster*& joliet) {
    Status s = Call("SetActiveDiscMasterFormat");
    joliet = s.ok() ? this : nullptr;
    return s;
}

Status ScriptedDiscMaster::ProgressAdvise(IDiscMasterProgressEvents* sink, std::uint32_t& cookie) {
    Status s = Call("ProgressAdvise");
    if (!s.ok()) return s;
    cookie = nextCookie_++;
    sinks_[cookie] = sink;
    return s;
}

Status ScriptedDiscMaster::ProgressUnadvise(std::uint32_t cookie) {
    Status s = Call("ProgressUnadvise " + std::to_string(cookie));
    if (!s.ok()) return s;
    if (sinks_.erase(cookie) == 0) return Status(Status::Code::NotFound, "Unknown cookie");
    return s;
}

Status ScriptedDiscMaster::EnumDiscRecorders(std::unique_ptr<IEnumDiscRecorders>& recorders) {
    std::this_thread::sleep_for(enumDelay_);
    Status s = Call("EnumDiscRecorders");
    if (s.ok()) recorders = std::make_unique<RecorderList>(*this);
    return s;
}

Status ScriptedDiscMaster::SetActiveDiscRecorder(const std::shared_ptr<IDiscRecorder>& recorder) {
    auto* ours = dynamic_cast<Recorder*>(recorder.get());
    Status s = Call("SetActiveDiscRecorder " + (ours ? ours->path() : std::string("?")));
    if (!s.ok()) return s;
    if (!ours) return Status(Status::Code::InvalidArgument, "Not a recorder of this master");
    active_ = recorder;
    return s;
}

Status ScriptedDiscMaster::RecordDisc(bool simulate, bool ejectAfterBurn) {
    Status s =
        Call(std::string("RecordDisc ") + (simulate ? "1" : "0") + (ejectAfterBurn ? " 1" : " 0"));
    if (!s.ok()) return s;
    if (!active_) return Status(Status::Code::Unavailable, "No active recorder");
    s = Record();
    if (!s.ok()) return s;
    // A simulated recording leaves the image as it was.
    if (!simulate) recorded_.push_back(std::exchange(pending_, {}));
    return s;
}

Status ScriptedDiscMaster::Record() {
    for (const auto& [cookie, sink] : sinks_) sink->NotifyPreparingBurn(progressBlocks_);
    for (int block = 1; block <= progressBlocks_; ++block) {
        if (duringRecording_) duringRecording_(block);
        for (const auto& [cookie, sink] : sinks_)
            if (sink->QueryCancel()) return Status(Status::Code::Cancelled, "Recording cancelled");
        for (const auto& [cookie, sink] : sinks_) sink->NotifyBlockProgress(block, progressBlocks_);
    }
    // A drive closing its disc does not ask whether to cancel: the disc is finished.
    for (const auto& [cookie, sink] : sinks_) sink->NotifyClosingDisc(0);
    if (duringRecording_) duringRecording_(progressBlocks_ + 1);
    for (const auto& [cookie, sink] : sinks_) sink->NotifyBurnComplete(Status::Ok());
    return Status::Ok();
}

Status ScriptedDiscMaster::Close() { return Call("CloseDiscMaster"); }

Status ScriptedDiscMaster::AddData(const StagedFile& file, bool overwrite) {
    Status s = Call("AddData " + file.name + (overwrite ? " overwrite" : ""));
    if (!s.ok()) return s;
    if (std::ranges::find(refusedNames_, file.name) != refusedNames_.end())
        return Status(Status::Code::NoSpace, file.name + " does not fit");
    auto& files = pending_.files;
    auto existing = std::ranges::find(files, file.name, &DiscFile::name);
    if (existing != files.end() && !overwrite)
        return Status(Status::Code::AlreadyExists, file.name + " is already on the disc");

    // The bytes are taken now: the caller may delete its staging file right afterwards.
    DiscFile added{file.name, {}, file.executable};
    std::unique_ptr<File> in;
    s = DefaultFileSystem().OpenRead(file.path, in);
    if (!s.ok()) return s;
    char buffer[65536];
    for (std::size_t got = 0;;) {
        s = in->Read(buffer, sizeof buffer, got);
        if (!s.ok()) return s;
        if (got == 0) break;
        added.bytes.append(buffer, got);
    }

    std::uint64_t used = added.bytes.size();
    for (const auto& f : files)
        if (f.name != file.name) used += f.bytes.size();
    if (used > capacity_) return Status(Status::Code::NoSpace, "The disc is full");
    if (existing != files.end()) {
        existing->bytes = std::move(added.bytes);
    } else {
        files.push_back(std::move(added));
    }
    return Status::Ok();
}

}  // namespace corvane::test
