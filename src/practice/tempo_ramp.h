// Slow first, then faster: a passage looped from a slow tempo, one step of the tempo list
// faster after each pass played clean, up to the goal; one step slower after two passes in a
// row that were not clean. Plain C++: it only counts, the session plays each pass.
#pragma once

#include <optional>
#include <vector>

#include "practice_engine.h"

namespace practice {

// The tempi offered: the performance dialog's 108 to 168, and slower ones for learning.
inline constexpr int PracticeTempi[] = {60, 72, 84, 96, 108, 126, 138, 150, 168};

// A pass played clean: in time every note a hit and no wrong note; in wait mode no wrong note.
// A pass stopped before its end is never clean.
bool PlayedClean(const Result& pass);

class TempoRamp {
  public:
    // The steps are start, the list's tempi between start and goal, and goal; a start at or
    // above the goal is the goal alone.
    TempoRamp(int start, int goal);

    int tempo() const { return m_steps[m_at]; }
    int start() const { return m_steps.front(); }
    int goal() const { return m_steps.back(); }
    // A pass at tempo() ended; returns the tempo of the next pass.
    int PassDone(bool clean);
    // The highest tempo a pass was played clean at, if any.
    std::optional<int> highestClean() const { return m_highestClean; }

  private:
    std::vector<int> m_steps;
    std::size_t m_at = 0;
    int m_faultyInRow = 0;
    std::optional<int> m_highestClean;
};

}  // namespace practice
