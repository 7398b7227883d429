#pragma once
// Time as the program sees it: the wall clock and waiting. Tests use a clock that never
// sleeps so that waits described in seconds cost nothing.

#include <chrono>
#include <cstdint>

namespace corvane {

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds since 1970-01-01 00:00:00 UTC.
    virtual std::int64_t Now() = 0;
    virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

class SystemClock final : public Clock {
public:
    std::int64_t Now() override;
    void Sleep(std::chrono::milliseconds duration) override;
};

// The process-wide real clock.
Clock& DefaultClock();

}  // namespace corvane
