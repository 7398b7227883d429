#include "disc/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace corvane {

Status FolderLock::Acquire(const std::string& folder) {
    if (held()) return Status::Ok();
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Status::FromErrno(errno, "Cannot open the folder " + folder);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return Status(Status::Code::Unavailable,
                          "Another recording is using the folder " + folder);
        return Status::FromErrno(error, "Cannot lock the folder " + folder);
    }
    fd_ = fd;
    return Status::Ok();
}

void FolderLock::Release() {
    if (!held()) return;
    ::close(fd_);  // closing drops the lock
    fd_ = -1;
}

}  // namespace corvane
