#pragma once
// The one way the program touches files: reading sources and streams, writing staging files
// and restored files. PosixFileSystem is the real one; tests wrap it to fail on demand.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Status.h"

namespace corvane {

enum class SeekFrom { Start, Current, End };

struct FileInfo {
    enum class Kind { File, Folder, Other };  // Other: devices, sockets, links to folders
    Kind kind = Kind::File;
    std::uint64_t size = 0;
    std::int64_t created = 0;   // seconds since 1970-01-01 UTC (birth time, else change time)
    std::int64_t modified = 0;  // last-write time, same unit
    // Status change time in nanoseconds (0 where unknown): it moves with every change to the
    // file, so it tells a file rewritten in place from the one seen before.
    std::int64_t changed = 0;

    bool isFolder() const { return kind == Kind::Folder; }
    bool isFile() const { return kind == Kind::File; }
};

class File {
public:
    virtual ~File() = default;
    // Reads up to n bytes; got is 0 only at the end of the file.
    virtual Status Read(void* buffer, std::size_t n, std::size_t& got) = 0;
    // Writes all n bytes or fails.
    virtual Status Write(const void* buffer, std::size_t n) = 0;
    virtual Status Seek(std::int64_t offset, SeekFrom from, std::uint64_t* newPosition = nullptr) = 0;
    virtual Status Length(std::uint64_t& length) = 0;
    virtual Status Truncate(std::uint64_t length) = 0;
    // Flushes and closes; reports errors that only show up then (a full disk).
    virtual Status Close() = 0;
    // What the open file is like now: its size and times, as of this call. Files that cannot
    // tell answer NotImplemented.
    virtual Status Examine(FileInfo& info);

    // Reads until n bytes or the end of the file: got < n means the file ended.
    Status ReadFull(void* buffer, std::size_t n, std::size_t& got);
};

struct FolderEntry {
    std::string name;
    FileInfo info;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    virtual Status OpenRead(const std::string& path, std::unique_ptr<File>& file) = 0;
    // Opens a file of a backup source (the folder root and everything below it) for reading,
    // only when it is a regular file: never a FIFO, socket or device, and without waiting on
    // one swapped in after the folder was listed. A link is followed only to a regular file
    // inside root, and the file at its end is opened without following a link again; a link
    // that leads outside root, to a folder or nowhere is refused. The message of a refusal says
    // why ("it is a link that leads outside the source"). File systems that hold no sources
    // answer NotImplemented.
    virtual Status OpenSource(const std::string& path, const std::string& root, std::unique_ptr<File>& file);
    // Creates the file, or empties it when it exists.
    virtual Status OpenWrite(const std::string& path, std::unique_ptr<File>& file) = 0;
    // Entries in the order the file system lists them, without "." and "..".
    virtual Status ListFolder(const std::string& path, std::vector<FolderEntry>& entries) = 0;
    virtual Status Stat(const std::string& path, FileInfo& info) = 0;
    // Whether paths a and b name one entry: a file system that ignores case finds one file
    // under "Readme.txt" and "README.TXT". False when either is missing. This one compares
    // what Stat says of both; file systems that can tell for sure answer themselves.
    virtual bool SameEntry(const std::string& a, const std::string& b);
    // Creates one folder; AlreadyExists when a folder of that name is there.
    virtual Status CreateFolder(const std::string& path) = 0;
    // As OpenWrite and as creating a folder with its missing ancestors, for a path relative
    // to the folder top that never leaves it: no step below top, nor the file itself, is
    // followed when it is a symbolic link (top itself may be reached through links). A link
    // where a folder or the file should be is a failure.
    virtual Status OpenWriteBelow(const std::string& top, const std::string& relative, std::unique_ptr<File>& file) = 0;
    virtual Status CreateFoldersBelow(const std::string& top, const std::string& relative) = 0;
    // While a holder keeps them (calls with true and false in pairs), OpenWriteBelow and
    // CreateFoldersBelow may keep the folders they walked through open and start the next walk
    // from the deepest one it shares: a restore makes folders and their files one after
    // another. Once nobody keeps them, nothing stays open, so the destination can be unmounted.
    virtual void KeepWalkedFolders(bool keep) { (void)keep; }
    virtual Status RemoveFile(const std::string& path) = 0;
    // Sets the last-write time of the entry itself, also when it is a symbolic link.
    virtual Status SetModifiedTime(const std::string& path, std::int64_t modified) = 0;
    // Gives a file a new name in the same file system, replacing a file of that name at once.
    virtual Status Rename(const std::string& from, const std::string& to) = 0;
    // The bytes an unprivileged user may still write on the file system that holds path.
    // NotImplemented where the file system cannot tell.
    virtual Status FreeSpace(const std::string& path, std::uint64_t& bytes);
    // Damage met while reading that reading worked around, so that it is told although nothing
    // was lost: one line each ("X is damaged: why"). None where a file system meets none.
    virtual std::vector<std::string> DamageNotes() { return {}; }
};

class PosixFileSystem final : public FileSystem {
public:
    Status OpenRead(const std::string& path, std::unique_ptr<File>& file) override;
    Status OpenSource(const std::string& path, const std::string& root, std::unique_ptr<File>& file) override;
    Status OpenWrite(const std::string& path, std::unique_ptr<File>& file) override;
    Status ListFolder(const std::string& path, std::vector<FolderEntry>& entries) override;
    Status Stat(const std::string& path, FileInfo& info) override;
    bool SameEntry(const std::string& a, const std::string& b) override;
    Status CreateFolder(const std::string& path) override;
    Status OpenWriteBelow(const std::string& top, const std::string& relative, std::unique_ptr<File>& file) override;
    Status CreateFoldersBelow(const std::string& top, const std::string& relative) override;
    void KeepWalkedFolders(bool keep) override;
    Status RemoveFile(const std::string& path) override;
    Status SetModifiedTime(const std::string& path, std::int64_t modified) override;
    Status Rename(const std::string& from, const std::string& to) override;
    Status FreeSpace(const std::string& path, std::uint64_t& bytes) override;

    PosixFileSystem() = default;
    ~PosixFileSystem() override;
    PosixFileSystem(const PosixFileSystem&) = delete;
    PosixFileSystem& operator=(const PosixFileSystem&) = delete;

private:
    void ForgetWalkedFolders();
    // Walks, under walkedMutex_, to the folder relative below top (with create, making the
    // missing ones) from the deepest folder the last walk below top passed, and keeps the
    // folders on the way open; folder stays theirs. No link below top is followed.
    Status Walk(const std::string& top, std::string_view relative, bool create, int& folder);
    // Runs step, a walk below top and what follows it, once more from top when it started
    // from kept folders and found one removed; then lets go of them unless they are kept.
    Status AgainIfStale(const std::string& top, const std::function<Status()>& step);

    std::mutex walkedMutex_;
    int walkedKeepers_ = 0;
    // The folders the last walk below walkedTop_ passed, open while kept: walkedFds_[0] is
    // walkedTop_ and walkedFds_[i] the folder after walkedSteps_[0..i).
    std::string walkedTop_;
    std::vector<std::string> walkedSteps_;
    std::vector<int> walkedFds_;
};

// The process-wide real file system.
FileSystem& DefaultFileSystem();

}  // namespace corvane
