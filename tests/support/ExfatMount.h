#pragma once
// A small exFAT file system mounted through FUSE from an image on a loop device, for tests of
// destinations that fold case and refuse some characters. Needs root, /dev/fuse and the exFAT
// tools; where any is missing, the mount is not made and why() says so, for GTEST_SKIP.

#include <string>

#include "support/ScratchFolder.h"

namespace corvane::test {

class ExfatMount {
  public:
    ExfatMount();
    // Unmounts and lets go of the loop device.
    ~ExfatMount();
    ExfatMount(const ExfatMount&) = delete;
    ExfatMount& operator=(const ExfatMount&) = delete;

    bool mounted() const { return mounted_; }
    // Why it is not mounted.
    const std::string& why() const { return why_; }
    // The mount point.
    std::string path() const { return scratch_ / "mnt"; }

  private:
    ScratchFolder scratch_;
    std::string loopDevice_;
    bool mounted_ = false;
    std::string why_;
};

}  // namespace corvane::test
