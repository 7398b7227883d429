#include "platform/PrivateTempFolder.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace corvane {

PrivateTempFolder::~PrivateTempFolder() { Remove(); }

Status PrivateTempFolder::Create() {
    if (!path_.empty()) return Status::Ok();
    const char* base = std::getenv("TMPDIR");
    std::string pattern = (base && *base) ? base : "/tmp";
    while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
    pattern += "/corvane-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) return Status::FromErrno(errno, "Cannot create a temporary folder in " + pattern);
    path_ = buffer.data();
    return Status::Ok();
}

void PrivateTempFolder::Remove() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    path_.clear();
}

}  // namespace corvane
