#pragma once
// libisofs and libburn for C++. libisofs.h uses uint32_t without including its header, and
// libburn.h puts its declarations in namespace burn while libisofs.h declares a global
// struct burn_source: the same C struct as two C++ types, which AsBurn bridges.

#include <cstdint>
// clang-format off
#include <libburn/libburn.h>
#include <libisofs/libisofs.h>
// clang-format on

namespace corvane {

inline burn::burn_source* AsBurn(::burn_source* source) {
    return reinterpret_cast<burn::burn_source*>(source);
}

}  // namespace corvane
