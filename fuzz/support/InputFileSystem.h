#pragma once
// The fuzz input as one read-only file in memory at a fixed path, laid over another file
// system: the input and its folder are answered from memory, every other path goes to the file
// system below, or is NotFound when there is none. No disk access per input.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/FileLayer.h"

namespace corvane::fuzz {

class InputFileSystem final : public FileSystem {
  public:
    // path is absolute, like "/input/USB 0812251430 0.cvn"; below may be null.
    explicit InputFileSystem(std::string path, FileSystem* below = nullptr);

    // The bytes stay owned by the caller and must outlive every file opened on them.
    void SetInput(const std::uint8_t* data, std::size_t size);
    const std::string& path() const { return path_; }

    Status OpenRead(const std::string& path, std::unique_ptr<File>& file) override;
    Status OpenWrite(const std::string& path, std::unique_ptr<File>& file) override;
    Status ListFolder(const std::string& path, std::vector<FolderEntry>& entries) override;
    Status Stat(const std::string& path, FileInfo& info) override;
    Status CreateFolder(const std::string& path) override;
    Status OpenWriteBelow(const std::string& top, const std::string& relative, std::unique_ptr<File>& file) override;
    Status CreateFoldersBelow(const std::string& top, const std::string& relative) override;
    Status RemoveFile(const std::string& path) override;
    Status SetModifiedTime(const std::string& path, std::int64_t modified) override;
    Status Rename(const std::string& from, const std::string& to) override;

  private:
    bool IsOurs(const std::string& path) const { return path == path_ || path == folder_; }
    Status Missing(const std::string& path) const;
    Status ReadOnly(const std::string& path) const;

    std::string path_;
    std::string folder_;  // the folder that holds the input, listed with it alone
    FileSystem* below_;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::int64_t generation_ = 0;  // the input's change time: one step per input
};

}  // namespace corvane::fuzz
