#pragma once
// Adds a staged file to a libisofs folder through a stream of our own. The node libisofs makes
// from a path carries a file source and a copy of the path's attributes, about 800 bytes a
// file; this stream holds only the path and the size, which counts on a disc of tens of
// thousands of streams. The file is opened only while libisofs reads it.

#include <string>

#include "disc/IsoBurn.h"
#include "platform/Status.h"

namespace corvane {

// Adds path's content to parent under name, with path's times. node receives the new node
// (owned by parent) and may be null. Call with the disc library locked.
Status AddStagedFile(IsoDir* parent, const std::string& name, const std::string& path, IsoNode** node);

}  // namespace corvane
