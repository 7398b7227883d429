#include "platform/PrivateTempFolder.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace corvane {

namespace {

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

PrivateTempFolder::~PrivateTempFolder() { Remove(); }

Status PrivateTempFolder::Create() {
    if (!path_.empty()) return Status::Ok();
    return CreateIn({});
}

Status PrivateTempFolder::CreateIn(const std::string& parent) {
    if (!path_.empty() && parent_ == parent) return Status::Ok();
    Remove();
    std::string pattern;
    if (parent.empty()) {
        const char* base = std::getenv("TMPDIR");
        pattern = WithoutTrailingSlashes((base && *base) ? base : "/tmp") + "/corvane-XXXXXX";
    } else {
        std::error_code error;
        std::filesystem::create_directories(parent, error);
        if (error) return Status::FromErrno(error.value(), "Cannot make the folder " + parent);
        // The process id tells a folder left by a process that is gone from one in use.
        pattern = WithoutTrailingSlashes(parent) + "/.corvane-" + std::to_string(::getpid()) + "-XXXXXX";
    }
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) return Status::FromErrno(errno, "Cannot create a temporary folder in " + pattern);
    path_ = buffer.data();
    parent_ = parent;
    return Status::Ok();
}

void PrivateTempFolder::Remove() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    path_.clear();
    parent_.clear();
}

}  // namespace corvane
