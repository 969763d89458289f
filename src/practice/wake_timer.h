// The timers of the practice wake a little early: the last stretch to the wake is slept, so that
// clicks and played phrases keep time.
#pragma once

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>
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

// Starts the timer a millisecond before the wake, or stops it when nothing is due.
inline void ArmWake(QTimer& timer, const std::optional<TimePoint>& wake) {
    if (!wake) {
        timer.stop();
        return;
    }
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(*wake - Clock::now()).count() - 1;
    timer.start(static_cast<int>(std::clamp<std::int64_t>(ms, 0, 60000)));
}

}  // namespace practice
