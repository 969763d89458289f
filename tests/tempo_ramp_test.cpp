#include "tempo_ramp.h"

#include <gtest/gtest.h>

#include "practice_history.h"
#include "temp_file.h"

using namespace practice;
using namespace std::chrono;

namespace {

// How a pass goes: every note in time, a wrong note, a missed note (in time), or Esc halfway.
enum class Play { Clean, Wrong, Missed, Stopped };

// One pass of ド4,レ4,ミ4 at a tempo, under a manual clock, played as asked.
Result PlayPass(Mode mode, int tempo, Play play) {
    testing_support::TempFolder folder;
    performance::MusicFileReader reader;
    EXPECT_TRUE(reader.Open(folder.write("song.txt", "ド4,レ4,ミ4\n")));
    PracticeOptions options;
    options.mode = mode;
    options.tempo = tempo;
    PracticeEngine engine(BuildSong(reader), options);
    const TimePoint t0 = TimePoint{} + hours(1);
    engine.Start(t0);
    for (std::size_t k = 0; k < 3; ++k) {
        const TimePoint due =
            mode == Mode::Wait
                ? t0 + milliseconds(300 * k)
                : engine.songStart() + duration_cast<Clock::duration>(
                                           duration<double>(4.0 * k * engine.unitSeconds()));
        engine.Advance(due);
        if (k == 1 && play == Play::Stopped) {
            engine.Stop(due);
            break;
        }
        if (k == 1 && play == Play::Wrong) engine.NoteOn(11, due);
        if (k == 1 && play == Play::Missed) continue;
        const Note note = engine.song().steps[k].notes[0];
        engine.NoteOn(note, due);
        engine.NoteOff(note, due + milliseconds(50));
    }
    engine.Advance(t0 + seconds(30));
    return engine.result();
}

struct RampCase {
    Mode mode;
    int start, goal;
    std::vector<Play> passes;
    std::vector<int> tempi;  // after each pass
    std::optional<int> highestClean;
};

TEST(TempoRamp, UpAfterACleanPassDownAfterTwoFaultyOnesNeverAboveTheGoal) {
    using enum Play;
    const RampCase cases[] = {
        // 60 72 84 96: up one step a clean pass, then the goal holds.
        {Mode::InTime, 60, 96, {Clean, Clean, Clean, Clean, Clean}, {72, 84, 96, 96, 96}, 96},
        // Down after the second faulty pass in a row; the third alone does not move it.
        {Mode::InTime, 60, 96, {Clean, Wrong, Missed, Wrong, Missed}, {72, 72, 60, 60, 60}, 60},
        // A clean pass between faulty ones starts the count again.
        {Mode::InTime, 60, 96, {Wrong, Clean, Wrong, Clean}, {60, 72, 72, 84}, 72},
        // A goal off the list is the last step; a stopped pass is not clean.
        {Mode::InTime,
         50,
         100,
         {Clean, Clean, Clean, Clean, Clean, Stopped, Stopped},
         {60, 72, 84, 96, 100, 100, 96},
         96},
        // Wait mode: no wrong note is clean, whatever the time.
        {Mode::Wait, 72, 108, {Clean, Wrong, Clean, Clean, Clean}, {84, 84, 96, 108, 108}, 108},
        // A start at or above the goal is the goal alone.
        {Mode::Wait, 150, 126, {Clean, Wrong, Wrong}, {126, 126, 126}, 126},
    };
    for (const RampCase& c : cases) {
        TempoRamp ramp(c.start, c.goal);
        std::vector<int> tempi;
        for (const Play play : c.passes) {
            const Result pass = PlayPass(c.mode, ramp.tempo(), play);
            EXPECT_EQ(pass.tempo, ramp.tempo());
            tempi.push_back(ramp.PassDone(PlayedClean(pass)));
        }
        EXPECT_EQ(tempi, c.tempi) << c.start << " to " << c.goal;
        EXPECT_EQ(ramp.highestClean(), c.highestClean) << c.start << " to " << c.goal;
    }
}

TEST(TempoRamp, APassIsAHistoryLineWithTheRampsStartOldLinesStillRead) {
    const std::string line =
        "2026-12-07T18:10:00+09:00\t/a.txt\tin-time\t84\t3\t3\t0\t0\t1\t2\t1.0\t2.0";
    const auto old = ParseEntry(line), ramp = ParseEntry(line + "\t60");
    ASSERT_TRUE(old && ramp);
    EXPECT_EQ(FormatEntry(*ramp), line + "\t60");
    EXPECT_EQ(HighestCleanRampTempo({*old, *ramp}), 84);
    EXPECT_FALSE(HighestCleanRampTempo({*old})) << "not a ramp";
    EXPECT_FALSE(ParseEntry(line + "\t0"));
}

}  // namespace
