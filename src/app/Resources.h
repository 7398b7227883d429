#pragma once

namespace corvane {

// Registers the program's pictures (":/res/..."). They live in a static library, where the
// registration would otherwise be dropped by the linker. Safe to call more than once.
void LoadResources();

}  // namespace corvane
