#pragma once
// Points this process's TMPDIR at a fresh scratch folder until the object goes away, so that a
// test sees every temporary file the code under test makes.

#include <cstdlib>
#include <optional>
#include <string>

#include "support/ScratchFolder.h"

namespace corvane::test {

class ScopedTmpdir {
public:
    ScopedTmpdir() {
        if (const char* previous = std::getenv("TMPDIR")) saved_ = previous;
        ::setenv("TMPDIR", folder_.path().c_str(), 1);
    }
    ~ScopedTmpdir() { saved_ ? ::setenv("TMPDIR", saved_->c_str(), 1) : ::unsetenv("TMPDIR"); }
    ScopedTmpdir(const ScopedTmpdir&) = delete;
    ScopedTmpdir& operator=(const ScopedTmpdir&) = delete;

    const std::string& path() const { return folder_.path(); }

private:
    ScratchFolder folder_;  // made before TMPDIR changes, so not inside itself
    std::optional<std::string> saved_;
};

}  // namespace corvane::test
