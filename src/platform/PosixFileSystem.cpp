#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "platform/FileLayer.h"

namespace corvane {

Status File::ReadFull(void* buffer, std::size_t n, std::size_t& got) {
    got = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (got < n) {
        std::size_t part = 0;
        Status s = Read(bytes + got, n - got, part);
        if (!s.ok()) return s;
        if (part == 0) break;
        got += part;
    }
    return Status::Ok();
}

Status File::Examine(FileInfo&) { return Status(Status::Code::NotImplemented, "Cannot examine an open file here"); }

Status FileSystem::OpenSource(const std::string& path, const std::string&, std::unique_ptr<File>&) {
    return Status(Status::Code::NotImplemented, "Cannot read " + path + " as a backup source");
}

bool FileSystem::SameEntry(const std::string& a, const std::string& b) {
    FileInfo atA, atB;
    if (!Stat(a, atA).ok() || !Stat(b, atB).ok()) return false;
    return atA.kind == atB.kind && atA.size == atB.size && atA.modified == atB.modified &&
           atA.changed == atB.changed && atA.created == atB.created;
}

Status FileSystem::FreeSpace(const std::string& path, std::uint64_t& bytes) {
    bytes = 0;
    return Status(Status::Code::NotImplemented, "The free space of " + path + " is not known");
}

namespace {

void FillInfo(const struct statx& stx, FileInfo& info) {
    info.size = stx.stx_size;
    info.modified = stx.stx_mtime.tv_sec;
    info.created = (stx.stx_mask & STATX_BTIME) ? stx.stx_btime.tv_sec : stx.stx_mtime.tv_sec;
    info.changed = stx.stx_ctime.tv_sec * std::int64_t{1000000000} + stx.stx_ctime.tv_nsec;
    info.kind = S_ISDIR(stx.stx_mode) ? FileInfo::Kind::Folder
                : S_ISREG(stx.stx_mode) ? FileInfo::Kind::File
                                        : FileInfo::Kind::Other;
}

class PosixFile final : public File {
public:
    PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixFile() override {
        if (fd_ >= 0) ::close(fd_);
    }

    Status Read(void* buffer, std::size_t n, std::size_t& got) override {
        got = 0;
        for (;;) {
            ssize_t r = ::read(fd_, buffer, n);
            if (r >= 0) {
                got = static_cast<std::size_t>(r);
                return Status::Ok();
            }
            if (errno != EINTR) return Status::FromErrno(errno, "Cannot read " + path_);
        }
    }

    Status Write(const void* buffer, std::size_t n) override {
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        while (n > 0) {
            ssize_t w = ::write(fd_, bytes, n);
            if (w < 0) {
                if (errno == EINTR) continue;
                return Status::FromErrno(errno, "Cannot write " + path_);
            }
            bytes += w;
            n -= static_cast<std::size_t>(w);
        }
        return Status::Ok();
    }

    Status Seek(std::int64_t offset, SeekFrom from, std::uint64_t* newPosition) override {
        int whence = from == SeekFrom::Start ? SEEK_SET : from == SeekFrom::Current ? SEEK_CUR : SEEK_END;
        off_t pos = ::lseek(fd_, static_cast<off_t>(offset), whence);
        if (pos < 0) return Status::FromErrno(errno, "Cannot seek in " + path_);
        if (newPosition) *newPosition = static_cast<std::uint64_t>(pos);
        return Status::Ok();
    }

    Status Length(std::uint64_t& length) override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return Status::FromErrno(errno, "Cannot examine " + path_);
        length = static_cast<std::uint64_t>(st.st_size);
        return Status::Ok();
    }

    Status Truncate(std::uint64_t length) override {
        if (::ftruncate(fd_, static_cast<off_t>(length)) != 0)
            return Status::FromErrno(errno, "Cannot truncate " + path_);
        return Status::Ok();
    }

    Status Examine(FileInfo& info) override {
        struct statx stx {};
        if (::statx(fd_, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0)
            return Status::FromErrno(errno, "Cannot examine " + path_);
        FillInfo(stx, info);
        return Status::Ok();
    }

    Status Close() override {
        if (fd_ < 0) return Status::Ok();
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0 && errno != EINTR) return Status::FromErrno(errno, "Cannot close " + path_);
        return Status::Ok();
    }

private:
    int fd_;
    std::string path_;
};

Status InfoAt(int dirfd, const char* name, const std::string& shown, FileInfo& info) {
    // The entry itself first: one call for all but links, which are then followed.
    struct statx stx {};
    if (::statx(dirfd, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0)
        return Status::FromErrno(errno, "Cannot examine " + shown);
    if (S_ISLNK(stx.stx_mode)) {
        info = FileInfo{};
        info.kind = FileInfo::Kind::Other;
        if (::statx(dirfd, name, 0, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0) {
            // A dangling link is still an entry of its folder, just not one we can copy.
            if (errno == ENOENT) return Status::Ok();
            return Status::FromErrno(errno, "Cannot examine " + shown);
        }
        // A link to a folder is not descended into: it could lead in circles.
        if (S_ISDIR(stx.stx_mode)) return Status::Ok();
    }
    FillInfo(stx, info);
    return Status::Ok();
}

// A path's folder and last name: "/a/b" gives "/a" and "b", "/a" gives "/" and "a".
std::pair<std::string, std::string> FolderAndName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// Whether folder lists name spelled exactly so.
bool Lists(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    bool listed = false;
    while (const dirent* entry = ::readdir(dir))
        if (name == entry->d_name) {
            listed = true;
            break;
        }
    ::closedir(dir);
    return listed;
}

// What an entry that is not a regular file is, for the reason it is left out.
std::string KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISLNK(mode)) return "a link";
    return "not a regular file";
}

Status NotRegular(const std::string& what) { return Status(Status::Code::InvalidArgument, "it is " + what); }

// The real path of a folder or file, every link followed: 0, or the errno value of the failure.
int RealPath(const std::string& path, std::string& real) {
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) return errno;
    real = resolved;
    return 0;
}

bool IsInside(const std::string& path, const std::string& folder) {
    if (folder == "/") return true;
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

// Where the link at path leads, when it leads to a regular file inside root.
Status FollowSourceLink(const std::string& path, const std::string& root, std::string& target) {
    std::string realRoot;
    if (int error = RealPath(root, realRoot)) return Status::FromErrno(error, "Cannot resolve " + root);
    if (int error = RealPath(path, target)) {
        if (error == ENOENT) return NotRegular("a link that leads nowhere");
        if (error == ELOOP) return NotRegular("a link that leads round in a circle");
        return Status::FromErrno(error, "Cannot follow the link " + path);
    }
    if (!IsInside(target, realRoot)) return Status(Status::Code::AccessDenied, "it is a link that leads outside the source");
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) return Status::FromErrno(errno, "Cannot examine " + target);
    if (!S_ISREG(st.st_mode)) return NotRegular("a link to " + KindOf(st.st_mode));
    return Status::Ok();
}

std::string Below(const std::string& top, std::string_view relative) {
    std::string path = top;
    if (path.empty() || path.back() != '/') path += '/';
    path += relative;
    return path;
}

// Why the entry name in the folder dirfd could not be used as a folder or a file: a link or
// another kind of entry is named as such, anything else by its error.
Status NotUsable(int dirfd, const char* name, int error, const std::string& path, const char* doing) {
    struct stat st {};
    if (::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        return Status(Status::Code::InvalidArgument, std::string(doing) + " " + path + ": it is a symbolic link");
    if (error == EISDIR)
        return Status(Status::Code::AlreadyExists, std::string(doing) + " " + path + ": a folder has that name");
    if (error == ENOTDIR && ::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
        return Status(Status::Code::InvalidArgument, std::string(doing) + " " + path + ": a file has that name");
    return Status::FromErrno(error, std::string(doing) + " " + path);
}

// Makes (with create) and opens the folder step in the open folder dirfd, never through a
// link; path names it in messages. next is the open folder on success.
Status StepInto(int dirfd, const std::string& step, const std::string& path, bool create, int& next) {
    if (create && ::mkdirat(dirfd, step.c_str(), 0755) != 0 && errno != EEXIST) {
        const int error = errno;
        return NotUsable(dirfd, step.c_str(), error, path, "Cannot create folder");
    }
    next = ::openat(dirfd, step.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next >= 0) return Status::Ok();
    const int error = errno;
    return NotUsable(dirfd, step.c_str(), error, path, create ? "Cannot create folder" : "Cannot open folder");
}

// The folder names of a relative path, empty ones left out.
std::vector<std::string> StepsOf(std::string_view relative) {
    std::vector<std::string> steps;
    std::size_t end = 0;
    for (std::size_t start = 0; start < relative.size(); start = end + 1) {
        end = std::min(relative.find('/', start), relative.size());
        if (end > start) steps.emplace_back(relative.substr(start, end - start));
    }
    return steps;
}

}  // namespace

Status PosixFileSystem::OpenRead(const std::string& path, std::unique_ptr<File>& file) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Status::FromErrno(errno, "Cannot open " + path);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return Status(Status::Code::InvalidArgument, "Cannot open " + path + ": it is a folder");
    }
    file = std::make_unique<PosixFile>(fd, path);
    return Status::Ok();
}

Status PosixFileSystem::OpenSource(const std::string& path, const std::string& root, std::unique_ptr<File>& file) {
    // Devices are refused before they are opened: opening one can already do something.
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return Status::FromErrno(errno, "Cannot open " + path);
    std::string target = path;
    if (S_ISLNK(st.st_mode)) {
        Status s = FollowSourceLink(path, root, target);
        if (!s.ok()) return s;
    } else if (!S_ISREG(st.st_mode)) {
        return NotRegular(KindOf(st.st_mode));
    }
    // Not waiting on a FIFO, and not following a link, that took the file's place since.
    int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ELOOP) return NotRegular("a link now (it was replaced while the backup ran)");
        if (errno == ENXIO) return NotRegular("a socket");
        return Status::FromErrno(errno, "Cannot open " + path);
    }
    if (::fstat(fd, &st) != 0) {
        Status s = Status::FromErrno(errno, "Cannot examine " + path);
        ::close(fd);
        return s;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return NotRegular(KindOf(st.st_mode));
    }
    // Reads block again. Of the flags F_SETFL can change, only O_NONBLOCK was set.
    if (::fcntl(fd, F_SETFL, 0) != 0) {
        Status s = Status::FromErrno(errno, "Cannot open " + path);
        ::close(fd);
        return s;
    }
    file = std::make_unique<PosixFile>(fd, path);
    return Status::Ok();
}

Status PosixFileSystem::OpenWrite(const std::string& path, std::unique_ptr<File>& file) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return Status::FromErrno(errno, "Cannot create " + path);
    file = std::make_unique<PosixFile>(fd, path);
    return Status::Ok();
}

Status PosixFileSystem::ListFolder(const std::string& path, std::vector<FolderEntry>& entries) {
    entries.clear();
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return Status::FromErrno(errno, "Cannot list " + path);
    int dirfd = ::dirfd(dir);
    Status result;
    for (;;) {
        errno = 0;
        dirent* e = ::readdir(dir);
        if (!e) {
            if (errno != 0) result = Status::FromErrno(errno, "Cannot list " + path);
            break;
        }
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        FolderEntry entry;
        entry.name = name;
        if (!InfoAt(dirfd, e->d_name, path + "/" + name, entry.info).ok())
            entry.info.kind = FileInfo::Kind::Other;
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return result;
}

Status PosixFileSystem::Stat(const std::string& path, FileInfo& info) {
    return InfoAt(AT_FDCWD, path.c_str(), path, info);
}

bool PosixFileSystem::SameEntry(const std::string& a, const std::string& b) {
    struct stat atA {}, atB {};
    if (::lstat(a.c_str(), &atA) != 0 || ::lstat(b.c_str(), &atB) != 0 || atA.st_dev != atB.st_dev) return false;
    if (atA.st_ino == atB.st_ino) return true;
    // A FUSE file system may answer a new inode number for every spelling of one name. Then
    // one name in one folder is one entry, and two names are two only where the folder lists
    // both as they are spelled: a file system that folds case lists one of them.
    const auto [folderA, nameA] = FolderAndName(a);
    const auto [folderB, nameB] = FolderAndName(b);
    if (folderA != folderB && !SameEntry(folderA, folderB)) return false;
    return nameA == nameB || !(Lists(folderA, nameA) && Lists(folderB, nameB));
}

Status PosixFileSystem::CreateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) == 0) return Status::Ok();
    int error = errno;
    struct stat st {};
    if (error == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return Status(Status::Code::AlreadyExists, path + " already exists");
    if (error == EEXIST)
        return Status(Status::Code::InvalidArgument, "Cannot create folder " + path + ": a file has that name");
    return Status::FromErrno(error, "Cannot create folder " + path);
}

Status PosixFileSystem::OpenWriteBelow(const std::string& top, const std::string& relative,
                                       std::unique_ptr<File>& file) {
    const std::size_t slash = relative.rfind('/');
    const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
    const std::string_view below =
        slash == std::string::npos ? std::string_view() : std::string_view(relative).substr(0, slash);
    const std::string path = Below(top, relative);
    std::lock_guard lock(walkedMutex_);
    int fd = -1;
    auto create = [&] {
        int folder = -1;
        Status s = Walk(top, below, false, folder);
        if (!s.ok()) return s;
        // The folder was reached without following a link; a link put in its way since does
        // not lead this open elsewhere.
        fd = ::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
        return fd >= 0 ? Status::Ok() : NotUsable(folder, name.c_str(), errno, path, "Cannot create");
    };
    Status s = AgainIfStale(top, create);
    if (s.ok()) file = std::make_unique<PosixFile>(fd, path);
    return s;
}

Status PosixFileSystem::CreateFoldersBelow(const std::string& top, const std::string& relative) {
    std::lock_guard lock(walkedMutex_);
    int folder = -1;
    return AgainIfStale(top, [&] { return Walk(top, relative, true, folder); });
}

Status PosixFileSystem::AgainIfStale(const std::string& top, const std::function<Status()>& step) {
    const bool fromKept = !walkedFds_.empty() && walkedTop_ == top;
    Status s = step();
    if (fromKept && s.code() == Status::Code::NotFound) {
        // A kept folder on the way was removed since: walked to again from top, and made anew
        // or refused as a fresh walk is.
        ForgetWalkedFolders();
        s = step();
    }
    if (walkedKeepers_ == 0) ForgetWalkedFolders();
    return s;
}

Status PosixFileSystem::Walk(const std::string& top, std::string_view relative, bool create, int& folder) {
    const std::vector<std::string> steps = StepsOf(relative);
    if (walkedFds_.empty() || walkedTop_ != top) {
        ForgetWalkedFolders();
        const int fd = ::open(top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return Status::FromErrno(errno, "Cannot open folder " + top);
        walkedTop_ = top;
        walkedFds_.push_back(fd);
    }
    std::size_t common = 0;
    while (common < steps.size() && common < walkedSteps_.size() && steps[common] == walkedSteps_[common]) ++common;
    while (walkedSteps_.size() > common) {
        ::close(walkedFds_.back());
        walkedFds_.pop_back();
        walkedSteps_.pop_back();
    }
    std::string below;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        below += (below.empty() ? "" : "/") + steps[i];
        if (i < common) continue;
        int next = -1;
        Status s = StepInto(walkedFds_.back(), steps[i], Below(top, below), create, next);
        if (!s.ok()) return s;
        walkedFds_.push_back(next);
        walkedSteps_.push_back(steps[i]);
    }
    folder = walkedFds_.back();
    return Status::Ok();
}

void PosixFileSystem::KeepWalkedFolders(bool keep) {
    std::lock_guard lock(walkedMutex_);
    walkedKeepers_ += keep ? 1 : -1;
    if (walkedKeepers_ <= 0) {
        walkedKeepers_ = 0;
        ForgetWalkedFolders();
    }
}

void PosixFileSystem::ForgetWalkedFolders() {
    for (const int fd : walkedFds_) ::close(fd);
    walkedFds_.clear();
    walkedSteps_.clear();
    walkedTop_.clear();
}

PosixFileSystem::~PosixFileSystem() { ForgetWalkedFolders(); }

Status PosixFileSystem::RemoveFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0) return Status::FromErrno(errno, "Cannot delete " + path);
    return Status::Ok();
}

Status PosixFileSystem::SetModifiedTime(const std::string& path, std::int64_t modified) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(modified);
    times[1].tv_nsec = 0;
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return Status::FromErrno(errno, "Cannot set the time of " + path);
    return Status::Ok();
}

Status PosixFileSystem::Rename(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) return Status::FromErrno(errno, "Cannot rename " + from + " to " + to);
    return Status::Ok();
}

FileSystem& DefaultFileSystem() {
    static PosixFileSystem fs;
    return fs;
}

Status PosixFileSystem::FreeSpace(const std::string& path, std::uint64_t& bytes) {
    bytes = 0;
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) return Status::FromErrno(errno, "Cannot tell the free space of " + path);
    bytes = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    return Status::Ok();
}

}  // namespace corvane
