#include "platform/Status.h"

#include <cerrno>
#include <cstring>

namespace corvane {

Status Status::FromErrno(int error, std::string_view context) {
    Code code = Code::IoError;
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            code = Code::NotFound;
            break;
        case EEXIST:
            code = Code::AlreadyExists;
            break;
        case EACCES:
        case EPERM:
        case EROFS:
            code = Code::AccessDenied;
            break;
        case ENOSPC:
        case EDQUOT:
            code = Code::NoSpace;
            break;
        case EFBIG:
        case ENAMETOOLONG:
            code = Code::TooLarge;
            break;
        case EINVAL:
        case EILSEQ:  // a name the file system cannot encode
            code = Code::InvalidArgument;
            break;
        default:
            break;
    }
    std::string message(context);
    message += ": ";
    message += std::strerror(error);
    return Status(code, std::move(message));
}

}  // namespace corvane
