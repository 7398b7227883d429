#pragma once
// The real file system with one thing changed, for what a real disc does but a test folder
// cannot be made to do: list its files in another order, or hold a scan in the middle as a
// slow disc would.

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>

#include "platform/FileLayer.h"

namespace corvane::test {

// Passes every call to the real file system.
class ForwardingFileSystem : public FileSystem {
  public:
    Status OpenRead(const std::string& path, std::unique_ptr<File>& file) override {
        return real_.OpenRead(path, file);
    }
    Status OpenWrite(const std::string& path, std::unique_ptr<File>& file) override {
        return real_.OpenWrite(path, file);
    }
    Status ListFolder(const std::string& path, std::vector<FolderEntry>& entries) override {
        return real_.ListFolder(path, entries);
    }
    Status Stat(const std::string& path, FileInfo& info) override { return real_.Stat(path, info); }
    bool SameEntry(const std::string& a, const std::string& b) override { return real_.SameEntry(a, b); }
    Status CreateFolder(const std::string& path) override { return real_.CreateFolder(path); }
    Status OpenWriteBelow(const std::string& top, const std::string& relative, std::unique_ptr<File>& file) override {
        return real_.OpenWriteBelow(top, relative, file);
    }
    Status CreateFoldersBelow(const std::string& top, const std::string& relative) override {
        return real_.CreateFoldersBelow(top, relative);
    }
    Status RemoveFile(const std::string& path) override { return real_.RemoveFile(path); }
    Status Rename(const std::string& from, const std::string& to) override { return real_.Rename(from, to); }
    Status SetModifiedTime(const std::string& path, std::int64_t modified) override {
        return real_.SetModifiedTime(path, modified);
    }

  private:
    FileSystem& real_ = DefaultFileSystem();
};

// Lists every folder sorted by name as text ("x 10.cvn" before "x 2.cvn"), or the reverse.
class NameOrderedListing final : public ForwardingFileSystem {
  public:
    explicit NameOrderedListing(bool descending) : descending_(descending) {}

    Status ListFolder(const std::string& path, std::vector<FolderEntry>& entries) override {
        Status s = ForwardingFileSystem::ListFolder(path, entries);
        std::sort(entries.begin(), entries.end(),
                  [this](const FolderEntry& a, const FolderEntry& b) {
                      return descending_ ? a.name > b.name : a.name < b.name;
                  });
        return s;
    }

  private:
    bool descending_;
};

// Opening a path that contains heldPaths waits until Release.
class GatedFileSystem final : public ForwardingFileSystem {
  public:
    explicit GatedFileSystem(std::string heldPaths) : heldPaths_(std::move(heldPaths)) {}
    ~GatedFileSystem() override { Release(); }

    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

    // Returns once a reader waits at the gate (or it has been released).
    void WaitUntilHeld() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return held_ || released_; });
    }

    Status OpenRead(const std::string& path, std::unique_ptr<File>& file) override {
        if (path.find(heldPaths_) != std::string::npos) {
            std::unique_lock<std::mutex> lock(mutex_);
            held_ = true;
            changed_.notify_all();
            changed_.wait(lock, [&] { return released_; });
        }
        return ForwardingFileSystem::OpenRead(path, file);
    }

  private:
    std::string heldPaths_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool released_ = false;
};

}  // namespace corvane::test
