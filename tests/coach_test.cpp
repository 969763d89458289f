// The coach: the tempo ramp, the bars' figures and listen-and-repeat, under a manual clock.
#include <gtest/gtest.h>

#include "echo_coach.h"
#include "practice_history.h"
#include "temp_file.h"
#include "tempo_ramp.h"

using namespace practice;
using namespace std::chrono;

namespace {

const TimePoint T0 = TimePoint{} + hours(1);
constexpr Note Esc = 999;  // not a note: Stop() at that time

Song SongOf(const std::string& text) {
    testing_support::TempFolder folder;
    performance::MusicFileReader reader;
    EXPECT_TRUE(reader.Open(folder.write("song.txt", text)));
    return BuildSong(reader);
}

// A key struck at a step's time, every step four units: in time its due time, waiting a second
// a step.
struct Strike {
    Note note;
    std::size_t step;
    int offsetMs = 0;
};

Result Practise(const std::string& text, Mode mode, int tempo, const std::vector<Strike>& keys) {
    PracticeOptions options;
    options.mode = mode;
    options.tempo = tempo;
    PracticeEngine engine(SongOf(text), options);
    engine.Start(T0);
    for (const Strike& s : keys) {
        const double units = 4.0 * static_cast<double>(s.step);
        const TimePoint at =
            milliseconds(s.offsetMs) +
            (mode == Mode::Wait
                 ? T0 + seconds(s.step)
                 : engine.songStart() + duration_cast<Clock::duration>(
                                            duration<double>(units * engine.unitSeconds())));
        engine.Advance(at);
        if (s.note == Esc) {
            engine.Stop(at);
            break;
        }
        engine.NoteOn(s.note, at);
        engine.NoteOff(s.note, at + milliseconds(1));
    }
    engine.Advance(T0 + hours(1));
    return engine.result();
}

// How a pass of ド レ ミ goes: every note in time, a wrong note, a missed note, Esc halfway.
enum class Play { Clean, Wrong, Missed, Stopped };
const std::vector<Strike> Passes[] = {{{0, 0}, {2, 1}, {4, 2}},
                                      {{0, 0}, {11, 1}, {2, 1}, {4, 2}},
                                      {{0, 0}, {4, 2}},
                                      {{0, 0}, {Esc, 1}}};

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
        {Mode::InTime, 84, 100, {Clean, Clean, Stopped, Stopped}, {96, 100, 100, 96}, 96},
        // Wait mode: no wrong note is clean, whatever the time.
        {Mode::Wait, 72, 108, {Clean, Wrong, Clean, Clean, Clean}, {84, 84, 96, 108, 108}, 108},
        // A start at or above the goal is the goal alone.
        {Mode::Wait, 150, 126, {Clean, Wrong, Wrong}, {126, 126, 126}, 126},
    };
    for (const RampCase& c : cases) {
        TempoRamp ramp(c.start, c.goal);
        std::vector<int> tempi;
        for (const Play play : c.passes) {
            const Result pass = Practise("ド4,レ4,ミ4\n", c.mode, ramp.tempo(), Passes[int(play)]);
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

struct BarCase {
    Mode mode;
    std::vector<Strike> strikes;
    std::string bars;    // the history's column
    std::string bar2;    // as the result box says it
    std::string grades;  // the map's colours: Good, Fair, Poor
};

TEST(BarFigures, APracticeWithMistakesInBarTwo) {
    // Three bars: ド レ / ミ ファ / ソ; ラL (-3) is wrong everywhere.
    const BarCase cases[] = {
        {Mode::Wait,
         {{0, 0}, {2, 1}, {-3, 2}, {4, 2}, {-3, 3}, {5, 3}, {7, 4}},
         "1:2/0/0/0.0 2:2/2/0/0.0 3:1/0/0/0.0",
         "2小節目 正確さ 50%",
         "GPG"},
        // In time: late and 60 ms early in bar 1, a wrong note, a late one and a missed one in
        // bar 2.
        {Mode::InTime,
         {{0, 0, 10}, {2, 1, -60}, {-3, 2, 0}, {4, 2, 40}, {7, 4, 0}},
         "1:2/0/0/60.0 2:1/1/1/40.0 3:1/0/0/0.0",
         "2小節目 正確さ 33%、ずれ最大 40.0ms",
         "FPG"},
    };
    for (const BarCase& c : cases) {
        const Result result = Practise("ド4,レ4\nミ4,ファ4\nソ4\n", c.mode, 60, c.strikes);
        const std::string line = FormatEntry(EntryOf(result, "/a.txt", 0));
        EXPECT_EQ(line.substr(line.rfind('\t') + 1), c.bars);
        const auto back = ParseEntry(line);
        ASSERT_TRUE(back && FormatEntry(*back) == line) << line;
        ASSERT_EQ(result.bars.size(), 3u);
        EXPECT_EQ(BarTexts(result.bars, c.mode)[1], c.bar2);
        std::string grades;
        for (const BarFigures& bar : result.bars) grades += "-GFP"[int(GradeOf(bar, c.mode))];
        EXPECT_EQ(grades, c.grades);
        // The box lists the bars that were not all right; the history gives them all.
        const std::string message = ResultMessage(result, {}, "/a.txt");
        EXPECT_NE(message.find("\n小節ごと:\n"), std::string::npos) << message;
        EXPECT_NE(message.find(c.bar2), std::string::npos) << message;
        EXPECT_NE(LastPracticeBars({*back}, "/a.txt").find("  3小節目 正確さ 100%\n"),
                  std::string::npos);
    }
}

// What the program does next, as "listen@0 on0@0 off0@1000 turn@3000 end@5000" (ms from T0).
std::string Heard(const std::vector<EchoEvent>& events) {
    static const char* const Names[] = {"listen", "on", "off", "turn", "end"};
    std::string text;
    for (const EchoEvent& e : events) {
        if (!text.empty()) text += ' ';
        text += Names[static_cast<int>(e.kind)];
        if (e.kind == EchoEvent::Kind::Sound || e.kind == EchoEvent::Kind::Silence)
            text += std::to_string(e.note);
        text += '@' + std::to_string(duration_cast<milliseconds>(e.time - T0).count());
    }
    return text;
}

TEST(EchoCoach, PlaysAPhraseThenWaitsAndRepeatsItAfterAWrongPlayBack) {
    EchoCoach coach(SongOf("ド4,レ4\nミ4\n"), 60);  // a unit is 250 ms
    coach.Start(T0);
    // The player's notes (ms), then all the program does until it waits for the player.
    const std::vector<std::pair<std::vector<std::pair<Note, int>>, std::string>> turns = {
        {{}, "listen@0 on0@0 off0@1000 on2@1000 off2@2000 turn@3000"},
        // ド, then a wrong ファ: the phrase again, a beat later.
        {{{0, 3500}, {5, 4000}}, "listen@5000 on0@5000 off0@6000 on2@6000 off2@7000 turn@8000"},
        {{{0, 8500}, {2, 9000}}, "listen@10000 on4@10000 off4@11000 turn@12000"},
        {{{5, 12500}}, "listen@13500 on4@13500 off4@14500 turn@15500"},
        {{{5, 16000}}, "listen@17000 on4@17000 off4@18000 turn@19000"},
        // The third miss goes on: the last phrase, so the end.
        {{{5, 19500}}, "end@19500"},
    };
    for (const auto& [notes, heard] : turns) {
        for (const auto& [note, ms] : notes) {
            coach.NoteOn(note, T0 + milliseconds(ms));
            coach.NoteOff(note, T0 + milliseconds(ms + 100));
        }
        EXPECT_EQ(Heard(coach.Advance(T0 + hours(1))), heard);
        EXPECT_FALSE(coach.NextWake()) << "waits for the player";
    }
    const Result result = coach.result();
    EXPECT_TRUE(coach.finished() && result.completed);
    EXPECT_EQ(result.played * 10 + result.wrong, 34u);
    ASSERT_EQ(result.bars.size(), 2u);
    EXPECT_EQ(result.bars[1].played * 10 + result.bars[1].wrong, 3u);
}

}  // namespace
