#pragma once
// The MD5 sum an image records of its session (the way libisofs records it, which xorriso's
// -check_md5 also reads), compared with the image's bytes.

#include <atomic>
#include <string>

#include "platform/Status.h"

namespace corvane {

// Ok when the session's blocks match the recorded sum (recorded true) or when the image records
// none (recorded false). Corrupt when they differ or the image ends before the blocks the sum
// covers; the message says which. Cancelled as soon as *cancel is set, when given.
Status CheckImageChecksum(const std::string& imagePath, bool& recorded, const std::atomic<int>* cancel = nullptr);

}  // namespace corvane
