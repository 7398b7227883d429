#include "disc/ImageRecorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include "disc/ImageFileName.h"

namespace corvane {

namespace {

constexpr int kStdioProfile = 0xffff;  // libburn's profile number of a "stdio file"
constexpr int kMaxDiscNumber = 9999;

Status EnsureFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0777) == 0) return Status::Ok();
    int error = errno;
    struct stat info {};
    if (error == EEXIST && ::stat(folder.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return Status::Ok();
        return Status(Status::Code::InvalidArgument,
                      "The image folder " + folder + " is not a folder");
    }
    if (error == ENOENT)
        return Status(
            Status::Code::NotFound,
            "The image folder " + folder + " cannot be made: the folder it belongs in is missing");
    return Status::FromErrno(error, "Cannot make the image folder " + folder);
}

// Gives the finished image its name without ever replacing a file: the name is taken only if
// it is free, else the next number is tried.
Status Publish(const std::string& temporary, const std::string& folder,
               const std::string& backupName, std::string& target) {
    for (int number = NextDiscNumber(folder, backupName); number <= kMaxDiscNumber; ++number) {
        target = folder + "/" + ImageFileName(backupName, number);
        if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) ==
            0)
            return Status::Ok();
        if (errno == EEXIST) continue;
        if (errno != EINVAL && errno != ENOSYS)
            return Status::FromErrno(errno, "Cannot name " + target);
        // A file system without no-replace renames: a hard link fails on an existing name too.
        if (::link(temporary.c_str(), target.c_str()) == 0) {
            ::unlink(temporary.c_str());
            return Status::Ok();
        }
        if (errno != EEXIST) return Status::FromErrno(errno, "Cannot name " + target);
    }
    return Status(Status::Code::AlreadyExists, "No free disc number is left in " + folder);
}

// A new empty hidden file in the folder, made with the permissions the user's umask gives.
Status CreateTemporaryFile(const std::string& folder, std::string& path) {
    static std::atomic<unsigned> counter{0};
    for (;;) {
        path = folder + "/.corvane-" + std::to_string(::getpid()) + "-" +
               std::to_string(counter++) + ".iso";
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return Status::Ok();
        }
        if (errno != EEXIST)
            return Status::FromErrno(errno, "Cannot write into the image folder " + folder);
    }
}

}  // namespace

Status ImageRecorder::OpenExclusive() {
    if (lock_.held()) return Status::Ok();
    Status status = EnsureFolder(spec_.folder);
    if (!status.ok()) return status;
    return lock_.Acquire(spec_.folder);
}

Status ImageRecorder::QueryMediaType(int& mediaType, unsigned& flags) {
    mediaType = kStdioProfile;
    flags = 0;
    if (!lock_.held()) return Status(Status::Code::Unavailable, "The recorder is not open");
    if (::access(spec_.folder.c_str(), W_OK | X_OK) != 0)
        return Status::FromErrno(errno, "Cannot write into the image folder " + spec_.folder);
    flags = MEDIA_WRITABLE | MEDIA_BLANK;
    return Status::Ok();
}

Status ImageRecorder::Close() {
    lock_.Release();
    return Status::Ok();
}

Status ImageRecorder::Record(DiscImage& image, const std::string& backupName, bool simulate,
                             bool /*eject: every recording ends its file*/,
                             RecordingProgress& progress) {
    bool openedHere = !lock_.held();
    Status status = OpenExclusive();
    if (!status.ok()) return status;
    if (simulate) {
        GrabbedDrive drive;
        std::uint64_t bytes = 0;
        status = drive.Grab("stdio:/dev/null");
        if (status.ok()) status = WriteImage(drive, image, 0, false, progress, bytes);
    } else {
        status = RecordFile(image, backupName, progress);
    }
    if (openedHere) Close();
    return status;
}

// The image is written under a hidden temporary name and named only once it is complete, so a
// file of a disc exists only when the disc was recorded in full.
Status ImageRecorder::RecordFile(DiscImage& image, const std::string& backupName,
                                 RecordingProgress& progress) {
    std::string temporary;
    Status status = CreateTemporaryFile(spec_.folder, temporary);
    if (!status.ok()) return status;

    GrabbedDrive drive;
    std::uint64_t bytes = 0;
    status = drive.Grab("stdio:" + temporary);
    if (status.ok()) status = WriteImage(drive, image, 0, false, progress, bytes);
    drive.Release(true);
    struct stat info {};
    if (status.ok() && (::stat(temporary.c_str(), &info) != 0 ||
                        static_cast<std::uint64_t>(info.st_size) != bytes))
        status = Status(Status::Code::IoError, "The image file came out incomplete");
    std::string target;
    if (status.ok()) status = Publish(temporary, spec_.folder, backupName, target);
    if (status.ok()) recorded_ = target;
    if (!status.ok()) ::unlink(temporary.c_str());
    return status;
}

}  // namespace corvane
