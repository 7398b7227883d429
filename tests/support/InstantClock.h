#pragma once
// A clock that never sleeps: it notes each wait and moves its time on instead.

#include <chrono>
#include <cstdint>
#include <vector>

#include "platform/Clock.h"

namespace corvane::test {

class InstantClock final : public Clock {
public:
    std::int64_t Now() override { return now; }
    void Sleep(std::chrono::milliseconds duration) override {
        sleeps.push_back(duration);
        now += std::chrono::duration_cast<std::chrono::seconds>(duration).count();
    }

    std::int64_t now = 1230215400;  // 2008-12-25 14:30:00 UTC
    std::vector<std::chrono::milliseconds> sleeps;
};

}  // namespace corvane::test
