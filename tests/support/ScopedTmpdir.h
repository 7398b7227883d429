#pragma once
// Points this process's TMPDIR at a fresh scratch folder until the object goes away, so that a
// test sees every temporary file the code under test makes.

#include <string>

#include "support/ScopedVariable.h"
#include "support/ScratchFolder.h"

namespace corvane::test {

class ScopedTmpdir {
public:
    const std::string& path() const { return folder_.path(); }

private:
    ScratchFolder folder_;  // made before TMPDIR changes, so not inside itself
    ScopedVariable tmpdir_{"TMPDIR", folder_.path()};
};

}  // namespace corvane::test
