#pragma once
// What a backup ended on the spot (SIGKILL, a crash, a power cut) leaves in an image folder or
// in the cache folder: hidden ".corvane-<pid>-..." staging folders and unfinished images of a
// process that is gone. They can be as large as a disc.

#include <string>

namespace corvane {

// Removes the leftovers of processes that no longer run from the folder; what belongs to a
// running process, this one or another backup, stays.
void RemoveLeftovers(const std::string& folder);

}  // namespace corvane
