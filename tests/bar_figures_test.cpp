#include <gtest/gtest.h>

#include "practice_history.h"
#include "temp_file.h"

using namespace practice;
using namespace std::chrono;

namespace {

// A key struck at a step's time (in time: its due time; waiting: one after another).
struct Strike {
    Note note;
    std::size_t step;
    int offsetMs;
};

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
         {{0, 0, 0}, {2, 1, 0}, {-3, 2, 0}, {4, 2, 0}, {-3, 3, 0}, {5, 3, 0}, {7, 4, 0}},
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
        testing_support::TempFolder folder;
        performance::MusicFileReader reader;
        ASSERT_TRUE(reader.Open(folder.write("song.txt", "ド4,レ4\nミ4,ファ4\nソ4\n")));
        PracticeOptions options;
        options.mode = c.mode;
        options.tempo = 60;
        PracticeEngine engine(BuildSong(reader), options);
        const TimePoint t0 = TimePoint{} + hours(1);
        engine.Start(t0);
        for (const Strike& s : c.strikes) {
            const TimePoint due =
                c.mode == Mode::Wait
                    ? t0 + seconds(s.step)
                    : engine.songStart() +
                          duration_cast<Clock::duration>(duration<double>(
                              4.0 * static_cast<double>(s.step) * engine.unitSeconds()));
            const TimePoint at = due + milliseconds(s.offsetMs);
            engine.Advance(at);
            engine.NoteOn(s.note, at);
            engine.NoteOff(s.note, at + milliseconds(1));
        }
        engine.Advance(t0 + seconds(60));
        const Result result = engine.result();
        HistoryEntry entry = EntryOf(result, "/a.txt", 0);
        const std::string line = FormatEntry(entry);
        EXPECT_EQ(line.substr(line.rfind('\t') + 1), c.bars);
        const auto back = ParseEntry(line);
        ASSERT_TRUE(back) << line;
        EXPECT_EQ(FormatEntry(*back), line);
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

}  // namespace
