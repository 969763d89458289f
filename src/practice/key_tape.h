// The key tape: the keys ahead of the player, as a strip of cells, one for each step of the song,
// as wide as the step's length in units. Plain C++: the window draws what this computes.
//
// - Positions are in units from the song's first unit, counted on over the passes of a loop, so
//   that pass p's step s stands at p * totalUnits + startUnit. The count-in's bar lies before 0.
// - The tape shows from a little before the now line (the cell just passing it) to 32 units
//   (two bars) after it. In wait mode the now line stands at the current step's start; in time
//   it moves with the clock, and a step's cell reaches it at the step's due time.
// - A cell holds the keys of one step, highest note first; a note that no key of the layout
//   plays shows "—" as its cap. A rest is no cell: a gap. Bar lines stand where the music file's
//   lines start, and at the start of each pass.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "key_layout.h"
#include "practice_engine.h"

namespace practice {

// Units shown after the now line: two bars.
inline constexpr int TapeAheadUnits = 32;
// Units shown before it, where the cell that has just been due leaves the tape.
inline constexpr int TapeBehindUnits = 2;
inline constexpr int CountInUnits = 16;

struct TapeKey {
    std::string cap;   // "E"; "—" when no key plays the note
    std::string name;  // "ド", "ソH"
    Note note = 0;
};

struct TapeCell {
    double x = 0;          // units from the now line
    int width = 1;         // units
    std::uint64_t at = 0;  // position of its start: which step of which pass it is
    std::vector<TapeKey> keys;
    int beat = 0;  // a beat of the count-in (4, 3, 2, 1), no keys; 0: a step
};

struct TapeView {
    std::vector<TapeCell> cells;   // in order
    std::vector<double> barLines;  // units from the now line
};

class KeyTape {
  public:
    // song: the passage with every note (before LeaveOutUnplayable); loop: its passes follow
    // each other on the tape; countIn: the count-in's four beats stand before the song (in time).
    KeyTape(Song song, bool loop, bool countIn);

    TapeView At(double position, const keyboard::NoteTables& tables) const;
    // What a screen reader hears: the keys of the bar ahead, "次の小節: E ド、E ド、U ソ".
    std::string NextBarText(double position, const keyboard::NoteTables& tables) const;
    // The start of the step whose notes include this note and whose start lies within reach of
    // the position (the nearest one); nothing when there is none.
    std::optional<std::uint64_t> StepNear(double position, Note note, double reach) const;

    // Where the now line stands: at the current step (wait mode), at the clock (in time).
    static std::optional<double> WaitPosition(const PracticeEngine& engine);
    static double TimePosition(const PracticeEngine& engine, TimePoint now);
    // The position of a step of the engine's song, in its pass.
    static std::uint64_t PositionOf(const PracticeEngine& engine, std::uint64_t pass,
                                    std::size_t step);

  private:
    std::vector<TapeKey> keysOf(const Step& step, const keyboard::NoteTables& tables) const;
    template <typename Visit>
    void forEachStep(double from, double to, Visit visit) const;

    Song m_song;
    bool m_loop;
    bool m_countIn;
};

}  // namespace practice
