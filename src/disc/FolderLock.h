#pragma once
// An exclusive lock on a folder, among all processes: flock on the folder itself, so nothing is
// left in it. One job at a time writes into an image recorder's folder.

#include <string>

#include "platform/Status.h"

namespace corvane {

class FolderLock {
  public:
    FolderLock() = default;
    ~FolderLock() { Release(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Unavailable when another holder has the folder.
    Status Acquire(const std::string& folder);
    void Release();
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace corvane
