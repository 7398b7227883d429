#pragma once
// libisofs hands its image to the recorder through a ring buffer and wakes a waiting reader for
// every 2 KiB block it puts in, while libburn reads one block a call. A recorder that keeps up
// (an image file) then waits on nearly every block, and the image writer, which computes the
// image's checksums on one core, spends a sixth of its time waking it. The paced source lets the
// reader wait until the writer has filled a part of its buffer, then read on without waiting.

#include "disc/IsoBurn.h"

namespace corvane {

// A source that reads image, a source made by iso_image_create_burn_source, in bursts. It takes
// over the caller's reference to image; null, with image freed, when memory is short.
burn::burn_source* PacedImageSource(burn::burn_source* image);

}  // namespace corvane
