#pragma once
// The real file system with faults on demand: an open that fails, a read error part way
// through a file, a disk that fills up. Faults match paths that contain a given text.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/FileLayer.h"

namespace corvane::test {

struct Fault {
    // ReadBeyond: reading at or past the byte afterBytes of the file fails, as in an unreadable
    // area of a device; a read that reaches it stops short there first.
    enum class Kind { OpenRead, OpenWrite, List, Stat, CreateFolder, ReadAfter, WriteAfter, Close, ReadBeyond };
    Kind kind;
    std::string pathContains;
    std::uint64_t afterBytes = 0;  // ReadAfter / WriteAfter: bytes that still succeed; ReadBeyond: where
    Status::Code code = Status::Code::IoError;
};

class FaultyFileSystem final : public FileSystem {
public:
    explicit FaultyFileSystem(FileSystem& real = DefaultFileSystem()) : real_(real) {}

    void Add(Fault fault) { faults_.push_back(std::move(fault)); }
    void Clear() { faults_.clear(); }
    // FreeSpace of a path that contains pathContains answers bytes: a nearly full disk.
    void ReportFreeSpace(std::string pathContains, std::uint64_t bytes) {
        freeSpace_.emplace_back(std::move(pathContains), bytes);
    }
    // Runs after every successful listing, with the folder's path: a test changes the tree
    // there, between a folder being listed and its files being read.
    std::function<void(const std::string& folder)> afterListing;
    // Runs once the first bytes of a source file were read, with its path: a test changes the
    // file there, while it is being read.
    std::function<void(const std::string& path)> whileReading;

    Status OpenRead(const std::string& path, std::unique_ptr<File>& file) override;
    // Fails on OpenRead faults too: a source is a file read like any other.
    Status OpenSource(const std::string& path, const std::string& root, std::unique_ptr<File>& file) override;
    Status OpenWrite(const std::string& path, std::unique_ptr<File>& file) override;
    Status ListFolder(const std::string& path, std::vector<FolderEntry>& entries) override;
    Status Stat(const std::string& path, FileInfo& info) override;
    bool SameEntry(const std::string& a, const std::string& b) override { return real_.SameEntry(a, b); }
    Status CreateFolder(const std::string& path) override;
    // Faults of OpenWrite and CreateFolder apply to top/relative.
    Status OpenWriteBelow(const std::string& top, const std::string& relative, std::unique_ptr<File>& file) override;
    Status CreateFoldersBelow(const std::string& top, const std::string& relative) override;
    Status RemoveFile(const std::string& path) override { return real_.RemoveFile(path); }
    Status Rename(const std::string& from, const std::string& to) override { return real_.Rename(from, to); }
    Status SetModifiedTime(const std::string& path, std::int64_t modified) override {
        return real_.SetModifiedTime(path, modified);
    }
    Status FreeSpace(const std::string& path, std::uint64_t& bytes) override;

private:
    const Fault* Find(Fault::Kind kind, const std::string& path) const;
    std::unique_ptr<File> Wrap(std::unique_ptr<File> file, const std::string& path,
                               std::function<void()> afterFirstRead = nullptr) const;

    FileSystem& real_;
    std::vector<Fault> faults_;
    std::vector<std::pair<std::string, std::uint64_t>> freeSpace_;
};

}  // namespace corvane::test
