#include "platform/Clock.h"

#include <ctime>
#include <thread>

namespace corvane {

std::int64_t SystemClock::Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

void SystemClock::Sleep(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

Clock& DefaultClock() {
    static SystemClock clock;
    return clock;
}

}  // namespace corvane
