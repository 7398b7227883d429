#pragma once
// The real file system seen from a scratch folder as "/": destinations at the root can be
// tried, and a path that escapes the destination still lands in the scratch folder, where the
// test finds it. Notes the paths opened for writing.

#include <string>
#include <vector>

#include "platform/FileLayer.h"

namespace corvane::test {

class RootedFileSystem final : public FileSystem {
  public:
    explicit RootedFileSystem(std::string root) : root_(std::move(root)) {}

    Status OpenRead(const std::string& path, std::unique_ptr<File>& file) override {
        return real_.OpenRead(root_ + path, file);
    }
    Status OpenWrite(const std::string& path, std::unique_ptr<File>& file) override {
        written.push_back(path);
        return real_.OpenWrite(root_ + path, file);
    }
    Status ListFolder(const std::string& path, std::vector<FolderEntry>& entries) override {
        return real_.ListFolder(root_ + path, entries);
    }
    Status Stat(const std::string& path, FileInfo& info) override {
        return real_.Stat(root_ + path, info);
    }
    Status CreateFolder(const std::string& path) override {
        return real_.CreateFolder(root_ + path);
    }
    Status OpenWriteBelow(const std::string& top, const std::string& relative, std::unique_ptr<File>& file) override {
        written.push_back(top.ends_with('/') ? top + relative : top + "/" + relative);
        return real_.OpenWriteBelow(root_ + top, relative, file);
    }
    Status CreateFoldersBelow(const std::string& top, const std::string& relative) override {
        return real_.CreateFoldersBelow(root_ + top, relative);
    }
    Status RemoveFile(const std::string& path) override { return real_.RemoveFile(root_ + path); }
    Status Rename(const std::string& from, const std::string& to) override { return real_.Rename(root_ + from, root_ + to); }
    Status SetModifiedTime(const std::string& path, std::int64_t modified) override {
        return real_.SetModifiedTime(root_ + path, modified);
    }

    std::vector<std::string> written;

  private:
    std::string root_;
    FileSystem& real_ = DefaultFileSystem();
};

}  // namespace corvane::test
