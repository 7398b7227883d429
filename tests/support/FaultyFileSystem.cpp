#include "support/FaultyFileSystem.h"

#include <utility>

namespace corvane::test {

namespace {

Status Injected(const Fault& fault, const std::string& path) {
    return Status(fault.code, "Injected fault on " + path);
}

class FaultyFile final : public File {
public:
    FaultyFile(std::unique_ptr<File> real, std::string path, const Fault* readFault,
               const Fault* writeFault, const Fault* closeFault, std::function<void()> afterFirstRead)
        : real_(std::move(real)), path_(std::move(path)), readFault_(readFault), writeFault_(writeFault),
          closeFault_(closeFault), afterFirstRead_(std::move(afterFirstRead)) {}

    Status Read(void* buffer, std::size_t n, std::size_t& got) override {
        got = 0;
        if (readFault_) {
            const std::uint64_t done = readFault_->kind == Fault::Kind::ReadBeyond ? position_ : read_;
            if (done >= readFault_->afterBytes) return Injected(*readFault_, path_);
            n = std::min<std::uint64_t>(n, readFault_->afterBytes - done);
        }
        Status s = real_->Read(buffer, n, got);
        read_ += got;
        position_ += got;
        if (got > 0 && afterFirstRead_) std::exchange(afterFirstRead_, nullptr)();
        return s;
    }
    Status Write(const void* buffer, std::size_t n) override {
        if (writeFault_ && written_ + n > writeFault_->afterBytes) {
            std::size_t allowed = static_cast<std::size_t>(writeFault_->afterBytes - std::min(written_, writeFault_->afterBytes));
            if (allowed > 0) real_->Write(buffer, allowed);
            written_ += allowed;
            return Injected(*writeFault_, path_);
        }
        written_ += n;
        return real_->Write(buffer, n);
    }
    Status Seek(std::int64_t offset, SeekFrom from, std::uint64_t* newPosition) override {
        Status s = real_->Seek(offset, from, &position_);
        if (newPosition) *newPosition = position_;
        return s;
    }
    Status Length(std::uint64_t& length) override { return real_->Length(length); }
    Status Truncate(std::uint64_t length) override { return real_->Truncate(length); }
    Status Examine(FileInfo& info) override { return real_->Examine(info); }
    Status Close() override {
        Status s = real_->Close();
        if (s.ok() && closeFault_) return Injected(*closeFault_, path_);
        return s;
    }

private:
    std::unique_ptr<File> real_;
    std::string path_;
    const Fault* readFault_;
    const Fault* writeFault_;
    const Fault* closeFault_;
    std::function<void()> afterFirstRead_;
    std::uint64_t read_ = 0;
    std::uint64_t position_ = 0;
    std::uint64_t written_ = 0;
};

}  // namespace

const Fault* FaultyFileSystem::Find(Fault::Kind kind, const std::string& path) const {
    for (const auto& f : faults_)
        if (f.kind == kind && path.find(f.pathContains) != std::string::npos) return &f;
    return nullptr;
}

std::unique_ptr<File> FaultyFileSystem::Wrap(std::unique_ptr<File> file, const std::string& path,
                                             std::function<void()> afterFirstRead) const {
    const Fault* r = Find(Fault::Kind::ReadAfter, path);
    if (!r) r = Find(Fault::Kind::ReadBeyond, path);
    const Fault* w = Find(Fault::Kind::WriteAfter, path);
    const Fault* c = Find(Fault::Kind::Close, path);
    if (!r && !w && !c && !afterFirstRead) return file;
    return std::make_unique<FaultyFile>(std::move(file), path, r, w, c, std::move(afterFirstRead));
}

Status FaultyFileSystem::OpenRead(const std::string& path, std::unique_ptr<File>& file) {
    if (const Fault* f = Find(Fault::Kind::OpenRead, path)) return Injected(*f, path);
    Status s = real_.OpenRead(path, file);
    if (s.ok()) file = Wrap(std::move(file), path);
    return s;
}

Status FaultyFileSystem::OpenSource(const std::string& path, const std::string& root, std::unique_ptr<File>& file) {
    if (const Fault* f = Find(Fault::Kind::OpenRead, path)) return Injected(*f, path);
    Status s = real_.OpenSource(path, root, file);
    if (!s.ok()) return s;
    std::function<void()> afterFirstRead;
    if (whileReading) afterFirstRead = [this, path] { whileReading(path); };
    file = Wrap(std::move(file), path, std::move(afterFirstRead));
    return s;
}

Status FaultyFileSystem::OpenWrite(const std::string& path, std::unique_ptr<File>& file) {
    if (const Fault* f = Find(Fault::Kind::OpenWrite, path)) return Injected(*f, path);
    Status s = real_.OpenWrite(path, file);
    if (s.ok()) file = Wrap(std::move(file), path);
    return s;
}

Status FaultyFileSystem::ListFolder(const std::string& path, std::vector<FolderEntry>& entries) {
    if (const Fault* f = Find(Fault::Kind::List, path)) return Injected(*f, path);
    Status s = real_.ListFolder(path, entries);
    if (s.ok() && afterListing) afterListing(path);
    return s;
}

Status FaultyFileSystem::Stat(const std::string& path, FileInfo& info) {
    if (const Fault* f = Find(Fault::Kind::Stat, path)) return Injected(*f, path);
    return real_.Stat(path, info);
}

Status FaultyFileSystem::CreateFolder(const std::string& path) {
    if (const Fault* f = Find(Fault::Kind::CreateFolder, path)) return Injected(*f, path);
    return real_.CreateFolder(path);
}

Status FaultyFileSystem::OpenWriteBelow(const std::string& top, const std::string& relative,
                                        std::unique_ptr<File>& file) {
    const std::string path = top + "/" + relative;
    if (const Fault* f = Find(Fault::Kind::OpenWrite, path)) return Injected(*f, path);
    Status s = real_.OpenWriteBelow(top, relative, file);
    if (s.ok()) file = Wrap(std::move(file), path);
    return s;
}

Status FaultyFileSystem::CreateFoldersBelow(const std::string& top, const std::string& relative) {
    const std::string path = top + "/" + relative;
    if (const Fault* f = Find(Fault::Kind::CreateFolder, path)) return Injected(*f, path);
    return real_.CreateFoldersBelow(top, relative);
}

Status FaultyFileSystem::FreeSpace(const std::string& path, std::uint64_t& bytes) {
    for (const auto& [pathContains, reported] : freeSpace_) {
        if (path.find(pathContains) != std::string::npos) {
            bytes = reported;
            return Status::Ok();
        }
    }
    return real_.FreeSpace(path, bytes);
}

}  // namespace corvane::test
