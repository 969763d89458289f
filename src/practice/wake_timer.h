// The timers of the practice wake a little early: the last stretch to the wake is slept, so that
// clicks and played phrases keep time. Plain C++.
#pragma once

#include <chrono>
#include <optional>
#include <thread>

#include "practice_engine.h"

namespace practice {

// Now, after sleeping to the wake when it is less than 3 ms ahead.
inline TimePoint SleepToWake(const std::optional<TimePoint>& wake, TimePoint now) {
    if (wake && *wake > now && *wake - now < std::chrono::milliseconds(3)) {
        std::this_thread::sleep_until(*wake);
        return Clock::now();
    }
    return now;
}

}  // namespace practice
