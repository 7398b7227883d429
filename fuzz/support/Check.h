#pragma once
// A property every input must keep: when it fails, the target says which and aborts, so
// libFuzzer keeps the input as a crash.

#include <cstdio>
#include <cstdlib>
#include <string>

namespace corvane::fuzz {

inline void Check(bool holds, const std::string& what) {
    if (holds) return;
    std::fprintf(stderr, "Property broken: %s\n", what.c_str());
    std::abort();
}

}  // namespace corvane::fuzz
