#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

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

Status FileSystem::FreeSpace(const std::string& path, std::uint64_t& bytes) {
    bytes = 0;
    return Status(Status::Code::NotImplemented, "The free space of " + path + " is not known");
}

namespace {

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
    struct statx stx {};
    if (::statx(dirfd, name, 0, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0) {
        // A dangling link is still an entry of its folder, just not one we can copy.
        if (errno == ENOENT && ::statx(dirfd, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &stx) == 0) {
            info = FileInfo{};
            info.kind = FileInfo::Kind::Other;
            return Status::Ok();
        }
        return Status::FromErrno(errno, "Cannot examine " + shown);
    }
    info.size = stx.stx_size;
    info.modified = stx.stx_mtime.tv_sec;
    info.created = (stx.stx_mask & STATX_BTIME) ? stx.stx_btime.tv_sec : stx.stx_mtime.tv_sec;
    info.changed = stx.stx_ctime.tv_sec * std::int64_t{1000000000} + stx.stx_ctime.tv_nsec;
    if (S_ISDIR(stx.stx_mode)) {
        info.kind = FileInfo::Kind::Folder;
        // A link to a folder is not descended into: it could lead in circles.
        struct statx link {};
        if (::statx(dirfd, name, AT_SYMLINK_NOFOLLOW, STATX_TYPE, &link) == 0 && S_ISLNK(link.stx_mode))
            info.kind = FileInfo::Kind::Other;
    } else if (S_ISREG(stx.stx_mode)) {
        info.kind = FileInfo::Kind::File;
    } else {
        info.kind = FileInfo::Kind::Other;
    }
    return Status::Ok();
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
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
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
