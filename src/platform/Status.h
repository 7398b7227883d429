#pragma once
// The result of an operation that can fail: a code a caller can act on, and a message a
// person can read.

#include <string>
#include <string_view>
#include <utility>

namespace corvane {

class Status {
public:
    enum class Code {
        Ok,
        NotFound,
        AlreadyExists,
        AccessDenied,
        NoSpace,
        IoError,
        Corrupt,
        InvalidArgument,
        TooLarge,
        Cancelled,
        Unavailable,
        NotImplemented,
    };

    Status() = default;
    Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}

    static Status Ok() { return {}; }
    // Maps an errno value to a code; the message names what was being done.
    static Status FromErrno(int error, std::string_view context);

    bool ok() const { return code_ == Code::Ok; }
    Code code() const { return code_; }
    const std::string& message() const { return message_; }

private:
    Code code_ = Code::Ok;
    std::string message_;
};

}  // namespace corvane
