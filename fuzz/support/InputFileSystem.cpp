#include "support/InputFileSystem.h"

#include <algorithm>
#include <cstring>

namespace corvane::fuzz {

namespace {

constexpr std::int64_t kInputTime = 1230215400;  // 2008-12-25 14:30 UTC

class MemoryFile final : public File {
  public:
    MemoryFile(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    Status Read(void* buffer, std::size_t n, std::size_t& got) override {
        got = position_ < size_ ? std::min<std::uint64_t>(n, size_ - position_) : 0;
        if (got > 0) std::memcpy(buffer, data_ + position_, got);
        position_ += got;
        return Status::Ok();
    }
    Status Write(const void*, std::size_t) override { return Refused(); }
    Status Seek(std::int64_t offset, SeekFrom from, std::uint64_t* newPosition) override {
        const std::int64_t base = from == SeekFrom::Start     ? 0
                                  : from == SeekFrom::Current ? static_cast<std::int64_t>(position_)
                                                              : static_cast<std::int64_t>(size_);
        std::int64_t target = 0;
        if (__builtin_add_overflow(base, offset, &target) || target < 0)
            return Status(Status::Code::InvalidArgument, "Cannot seek before the start of the input");
        position_ = static_cast<std::uint64_t>(target);  // past the end reads nothing, as a file
        if (newPosition) *newPosition = position_;
        return Status::Ok();
    }
    Status Length(std::uint64_t& length) override {
        length = size_;
        return Status::Ok();
    }
    Status Truncate(std::uint64_t) override { return Refused(); }
    Status Close() override { return Status::Ok(); }

  private:
    static Status Refused() { return Status(Status::Code::AccessDenied, "The input is read-only"); }

    const std::uint8_t* data_;
    std::size_t size_;
    std::uint64_t position_ = 0;
};

}  // namespace

InputFileSystem::InputFileSystem(std::string path, FileSystem* below)
    : path_(std::move(path)), folder_(path_.substr(0, path_.find_last_of('/'))), below_(below) {}

void InputFileSystem::SetInput(const std::uint8_t* data, std::size_t size) {
    data_ = data;
    size_ = size;
    ++generation_;  // a new input is a changed file, as a real file system would say
}

Status InputFileSystem::Missing(const std::string& path) const {
    return Status(Status::Code::NotFound, "No such file: " + path);
}

Status InputFileSystem::ReadOnly(const std::string& path) const {
    return Status(Status::Code::AccessDenied, "Cannot change " + path + ": it is the input");
}

Status InputFileSystem::OpenRead(const std::string& path, std::unique_ptr<File>& file) {
    if (path == path_) {
        file = std::make_unique<MemoryFile>(data_, size_);
        return Status::Ok();
    }
    if (path == folder_)
        return Status(Status::Code::InvalidArgument, "Cannot open " + path + ": it is a folder");
    return below_ ? below_->OpenRead(path, file) : Missing(path);
}

Status InputFileSystem::OpenWrite(const std::string& path, std::unique_ptr<File>& file) {
    if (IsOurs(path)) return ReadOnly(path);
    return below_ ? below_->OpenWrite(path, file) : ReadOnly(path);
}

Status InputFileSystem::ListFolder(const std::string& path, std::vector<FolderEntry>& entries) {
    entries.clear();
    if (path == folder_) {
        FileInfo info;
        Stat(path_, info);
        entries.push_back({path_.substr(folder_.size() + 1), info});
        return Status::Ok();
    }
    if (path == path_)
        return Status(Status::Code::InvalidArgument, "Cannot list " + path + ": it is a file");
    return below_ ? below_->ListFolder(path, entries) : Missing(path);
}

Status InputFileSystem::Stat(const std::string& path, FileInfo& info) {
    if (IsOurs(path)) {
        info = FileInfo{};
        info.kind = path == path_ ? FileInfo::Kind::File : FileInfo::Kind::Folder;
        info.size = path == path_ ? size_ : 0;
        info.created = info.modified = kInputTime;
        info.changed = generation_;
        return Status::Ok();
    }
    return below_ ? below_->Stat(path, info) : Missing(path);
}

Status InputFileSystem::CreateFolder(const std::string& path) {
    if (IsOurs(path))
        return path == folder_ ? Status(Status::Code::AlreadyExists, path + " exists") : ReadOnly(path);
    return below_ ? below_->CreateFolder(path) : ReadOnly(path);
}

Status InputFileSystem::OpenWriteBelow(const std::string& top, const std::string& relative,
                                       std::unique_ptr<File>& file) {
    if (IsOurs(top + "/" + relative)) return ReadOnly(top + "/" + relative);
    return below_ ? below_->OpenWriteBelow(top, relative, file) : ReadOnly(top + "/" + relative);
}

Status InputFileSystem::CreateFoldersBelow(const std::string& top, const std::string& relative) {
    if (IsOurs(top + "/" + relative)) return ReadOnly(top + "/" + relative);
    return below_ ? below_->CreateFoldersBelow(top, relative) : ReadOnly(top + "/" + relative);
}

Status InputFileSystem::RemoveFile(const std::string& path) {
    if (IsOurs(path)) return ReadOnly(path);
    return below_ ? below_->RemoveFile(path) : ReadOnly(path);
}

Status InputFileSystem::SetModifiedTime(const std::string& path, std::int64_t modified) {
    if (IsOurs(path)) return ReadOnly(path);
    return below_ ? below_->SetModifiedTime(path, modified) : ReadOnly(path);
}

Status InputFileSystem::Rename(const std::string& from, const std::string& to) {
    if (IsOurs(from)) return ReadOnly(from);
    if (IsOurs(to)) return ReadOnly(to);
    return below_ ? below_->Rename(from, to) : ReadOnly(from);
}

}  // namespace corvane::fuzz
