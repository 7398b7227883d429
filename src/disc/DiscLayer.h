#pragma once
// The real disc layer: ISO 9660 images with Joliet and Rock Ridge names built with libisofs,
// recorded with libburn onto optical drives or into image files.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disc/DiscMaster.h"
#include "disc/RecorderPath.h"

namespace corvane {

struct DiscLayerOptions {
    // Image-file recorders, listed first and in this order; any capacity is allowed.
    std::vector<ImageRecorderPath> imageRecorders;
    // Whether to look for optical drives as well. The scan takes a moment.
    bool scanOpticalDrives = false;
};

// Capacities of real media in bytes, from their counts of 2048-byte blocks.
inline constexpr std::uint64_t kCdCapacity = 359800ull * 2048;      // CD-R, 80 minutes
inline constexpr std::uint64_t kDvdCapacity = 2295104ull * 2048;    // DVD+R
inline constexpr std::uint64_t kDvdDlCapacity = 4173824ull * 2048;  // DVD+R DL
inline constexpr std::uint64_t kBdCapacity = 12219392ull * 2048;    // BD-R

// "Corvane Discs" in the user's home folder: where the default image recorders write. It is
// made when a recorder is first opened.
std::string DefaultImageFolder();

// "corvane" in the user's cache folder ($XDG_CACHE_HOME, else ~/.cache): where the discs of an
// optical drive are staged.
std::string CacheFolder();

// CD, DVD, DVD DL and BD image recorders writing into the folder.
std::vector<ImageRecorderPath> DefaultImageRecorders(const std::string& folder);

// A disc master is used from one thread at a time.
std::unique_ptr<IDiscMaster> CreateDiscMaster(const DiscLayerOptions& options);

}  // namespace corvane
