// The key tape's cells for a small song in the standard layout (F6: Q W E R T Y U I = ラL シL ド
// レ ミ ファ ソ ラ), and where its now line stands in wait mode and in time.
#include "key_tape.h"

#include <gtest/gtest.h>

#include "temp_file.h"

using namespace practice;
using namespace std::chrono;

namespace {

// ド, a rest, a chord, ソ; the second line: レ and ソI, which no key of F6 plays.
constexpr const char* Text = "ド4,-4,ド:ミ:ソ2,ソ2\nレ4,ソI4\n";

Song SongOf(const NoteSet& playable = AllNotes()) {
    testing_support::TempFolder folder;
    performance::MusicFileReader reader;
    EXPECT_TRUE(reader.Open(folder.write("song.txt", Text)));
    SongOptions options;
    options.playable = playable;
    return BuildSong(reader, options);
}

const keyboard::NoteTables F6 = keyboard::NoteTablesForLayout(keyboard::LayoutF6);

std::string Caps(const TapeCell& cell) {
    std::string caps;
    for (const TapeKey& key : cell.keys) caps += key.cap;
    return caps;
}

}  // namespace

TEST(KeyTape, CellsStandByTheirLengthsWithRestsAsGapsAndBarLinesAtTheLines) {
    const KeyTape tape(SongOf(), false, false);
    const TapeView view = tape.At(0, F6);
    struct Cell {
        double x;
        int width;
        std::string caps;
        std::string firstName;
    };
    const std::vector<Cell> expected = {{0, 4, "E", "ド"},
                                        {8, 2, "UTE", "ソ"},
                                        {10, 2, "U", "ソ"},
                                        {12, 4, "R", "レ"},
                                        {16, 4, "—", "ソI"}};
    ASSERT_EQ(view.cells.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(view.cells[i].x, expected[i].x);
        EXPECT_EQ(view.cells[i].width, expected[i].width);
        EXPECT_EQ(Caps(view.cells[i]), expected[i].caps);
        EXPECT_EQ(view.cells[i].keys[0].name, expected[i].firstName);
    }
    EXPECT_EQ(view.barLines, (std::vector<double>{0, 12, 20}));
    EXPECT_EQ(tape.NextBarText(0, F6), "次の小節: E ド、U ソ・T ミ・E ド、U ソ");
    // F4 moves ド to another key: the letters follow the layout.
    EXPECT_NE(Caps(tape.At(0, keyboard::NoteTablesForLayout(keyboard::LayoutF4)).cells[0]), "E");
}

TEST(KeyTape, WaitModeMovesOnlyWhenTheStepIsPlayed) {
    PracticeEngine engine(SongOf(PlayableNotes(F6)), {});
    const TimePoint t0 = TimePoint{} + hours(1);
    engine.Start(t0);
    struct Strike {
        Note note;
        double position;  // of the now line after it
    };
    const std::vector<Strike> strikes = {{2, 0}, {0, 8}, {0, 8}, {4, 8}, {7, 10}, {7, 12}};
    for (const Strike& strike : strikes) {
        engine.NoteOn(strike.note, t0);
        engine.NoteOff(strike.note, t0);
        EXPECT_EQ(KeyTape::WaitPosition(engine), strike.position) << "note " << strike.note;
    }
}

TEST(KeyTape, InTimeACellReachesTheNowLineAtItsDueTime) {
    const Song song = SongOf(PlayableNotes(F6));
    PracticeOptions options;
    options.mode = Mode::InTime;
    options.tempo = 120;  // an eighth of a second a unit
    PracticeEngine engine(song, options);
    const TimePoint t0 = TimePoint{} + hours(1);
    engine.Start(t0);
    const KeyTape tape(song, false, true);
    // The count-in: four beats, the first at the now line when it starts.
    const TapeView countIn = tape.At(KeyTape::TimePosition(engine, t0), F6);
    ASSERT_GE(countIn.cells.size(), 4u);
    EXPECT_EQ(countIn.cells[0].beat, 4);
    EXPECT_NEAR(countIn.cells[0].x, 0, 1e-6);
    EXPECT_EQ(countIn.cells[3].beat, 1);
    struct Due {
        int ms;            // after Start: the count-in's 2 s, then the step's start
        std::uint64_t at;  // the step's start in units
    };
    for (const Due due : {Due{2000, 0}, Due{3000, 8}, Due{3500, 12}}) {
        const double position = KeyTape::TimePosition(engine, t0 + milliseconds(due.ms));
        const TapeView view = tape.At(position, F6);
        const auto cell = std::find_if(view.cells.begin(), view.cells.end(), [&](const auto& c) {
            return c.beat == 0 && c.at == due.at;
        });
        ASSERT_NE(cell, view.cells.end()) << due.ms;
        EXPECT_NEAR(cell->x, 0, 1e-6) << due.ms;
    }
}
