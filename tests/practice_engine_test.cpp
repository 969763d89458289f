#include "practice_engine.h"

#include <gtest/gtest.h>

#include "temp_file.h"

using namespace practice;
using namespace std::chrono;

namespace {

Song SongOf(const std::string& text, SongOptions options = {}) {
    testing_support::TempFolder folder;
    performance::MusicFileReader reader;
    EXPECT_TRUE(reader.Open(folder.write("song.txt", text)));
    return BuildSong(reader, options);
}

const TimePoint T0 = TimePoint{} + hours(1);
TimePoint At(int ms) {
    return T0 + milliseconds(ms);
}

// A key pressed or released, at a time, and what a note-on should mean.
struct Key {
    bool on;
    Note note;
    int ms;
    Meaning meaning;  // for note-ons
};
Key On(Note n, int ms, Meaning m) {
    return {true, n, ms, m};
}
Key Off(Note n, int ms) {
    return {false, n, ms, Meaning::Ignored};
}

void Play(PracticeEngine& engine, const std::vector<Key>& keys) {
    for (const Key& key : keys) {
        if (!key.on) {
            engine.NoteOff(key.note, At(key.ms));
            continue;
        }
        EXPECT_EQ(engine.NoteOn(key.note, At(key.ms)).meaning, key.meaning)
            << "note " << key.note << " at " << key.ms << " ms";
    }
}

TEST(PracticeSong, StepsKeepTheirPlacesAndLeaveOutWhatNoKeyPlays) {
    // F6 plays ラL (-3) to ドI (24): ソL (-5) and レI (26) have no key.
    SongOptions options;
    options.playable = PlayableNotes(keyboard::NoteTablesForLayout(keyboard::LayoutF6));
    const Song song = SongOf("ド4,-4, ド:ミ:ド:ソ2\n\"レH#1\",ソL4,レI:ミ2\n", options);
    ASSERT_EQ(song.steps.size(), 4u);
    const std::vector<std::tuple<int, int, int, int, std::vector<Note>>> expected = {
        {1, 1, 0, 4, {0}}, {1, 8, 8, 2, {0, 4, 7}}, {2, 2, 10, 1, {15}}, {2, 12, 15, 2, {4}}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& [line, column, start, length, notes] = expected[i];
        const Step& s = song.steps[i];
        EXPECT_EQ(s.line, line);
        EXPECT_EQ(s.column, column);
        EXPECT_EQ(s.startUnit, start);
        EXPECT_EQ(s.length, length);
        EXPECT_EQ(std::vector<Note>(s.notes.begin(), s.notes.begin() + s.noteCount), notes);
    }
    EXPECT_EQ(song.totalUnits, 17u);
    EXPECT_EQ(song.noteCount, 6u);  // the chord's second ド is one note
    EXPECT_EQ(song.unplayable, (std::vector<Note>{-5, 26}));
    EXPECT_EQ(song.leftOutNotes, 2u);
    EXPECT_EQ(UnplayableNames(song), "ソL, レI");

    options.fromLine = 2;
    options.toLine = 2;
    const Song passage = SongOf("ド4,-4\nレ4,ミ4\nファ4\n", options);
    ASSERT_EQ(passage.steps.size(), 2u);
    EXPECT_EQ(passage.steps[0].notes[0], 2);
    EXPECT_EQ(passage.steps[0].startUnit, 0u);
    EXPECT_EQ(passage.totalUnits, 8u);
}

TEST(PracticeSong, NotesAreNamedAsTheFileWritesThem) {
    const std::vector<std::pair<Note, std::string>> names = {
        {0, "ド"},     {6, "ファ#"}, {13, "ドH#"}, {-1, "シL"}, {-13, "シW"},
        {-23, "ドW#"}, {24, "ドI"},  {36, "シI#"}, {-3, "ラL"}};
    for (const auto& [note, name] : names) EXPECT_EQ(NoteName(note), name) << note;
}

TEST(PracticeSong, LayoutCoveringTheSongWinsAndF6WinsTies) {
    EXPECT_EQ(ChooseLayout(SongOf("ド4,ミ4")), keyboard::LayoutF6);
    // ソL (-5) is on F7's keys (ソL to シH) but not on F6's (ラL to ドI); ドI on neither.
    EXPECT_EQ(ChooseLayout(SongOf("ソL4,ソL4,ド4,ドI4")), keyboard::LayoutF7);
    EXPECT_EQ(ChooseLayout(SongOf("ソL4,ドI4,ドI4")), keyboard::LayoutF6);
}

TEST(WaitMode, ChordsRepeatedNotesWrongNotesAndRests) {
    // ド:ミ:ソ, then ド twice (repeated), a rest, then レ.
    PracticeEngine engine(SongOf("ド:ミ:ソ4,ド4,ド4,-4,レ4"), {});
    engine.Start(At(0));
    EXPECT_EQ(engine.Expected(), (std::vector<Note>{0, 4, 7}));
    Play(engine, {On(7, 100, Meaning::Part), On(2, 120, Meaning::Wrong), Off(7, 130), Off(2, 130),
                  On(7, 140, Meaning::Again), On(0, 150, Meaning::Part)});
    EXPECT_EQ(engine.Expected(), (std::vector<Note>{4}));
    // ド still held from the chord does not count for the next step; a key repeat neither.
    Play(engine, {On(4, 900, Meaning::StepDone), On(0, 950, Meaning::Ignored), Off(0, 960),
                  On(0, 1000, Meaning::StepDone), On(0, 1010, Meaning::Ignored), Off(0, 1100),
                  On(0, 1200, Meaning::StepDone)});
    EXPECT_EQ(engine.Expected(), (std::vector<Note>{2}));  // the rest is passed
    EXPECT_EQ(engine.progress().stepsDone, 3u);
    const Reaction last = engine.NoteOn(2, At(3100));
    EXPECT_EQ(last.meaning, Meaning::StepDone);
    EXPECT_TRUE(last.finished);
    const Result r = engine.result();
    EXPECT_EQ(r.songNotes, 6u);
    EXPECT_EQ(r.played, 6u);
    EXPECT_EQ(r.wrong, 1u);
    EXPECT_DOUBLE_EQ(r.seconds, 3.0);
    EXPECT_TRUE(r.completed);
    ASSERT_EQ(r.places.size(), 1u);
    EXPECT_EQ(r.places[0].line, 1u);
    EXPECT_EQ(r.places[0].column, 1u);
}

TEST(WaitMode, PassageRepeatsUntilPlayedCleanTwiceInARow) {
    PracticeOptions options;
    options.loop = true;
    options.cleanPasses = 2;
    PracticeEngine engine(SongOf("ド4,レ4"), options);
    engine.Start(At(0));
    int ms = 0;
    auto strike = [&](Note n) {
        const Reaction r = engine.NoteOn(n, At(ms += 10));
        engine.NoteOff(n, At(ms += 10));
        return r;
    };
    strike(0);
    strike(5);  // wrong: this pass is not clean
    EXPECT_TRUE(strike(2).passDone);
    strike(0);
    EXPECT_TRUE(strike(2).passDone);
    EXPECT_EQ(engine.progress().cleanStreak, 1);
    strike(0);
    EXPECT_TRUE(strike(2).finished);
    const Result r = engine.result();
    EXPECT_EQ(r.passes, 3u);
    EXPECT_EQ(r.played, 6u);
    EXPECT_EQ(r.wrong, 1u);
}

// Tempo 60: a unit is 250 ms, so windows are ±125 ms; the count-in's clicks come at 0, 1000,
// 2000 and 3000 ms, and the song's first unit at 4000 ms.
PracticeOptions InTime() {
    PracticeOptions options;
    options.mode = Mode::InTime;
    options.tempo = 60;
    return options;
}

TEST(InTimeMode, CountInClicksThenWindowsOfHalfAUnit) {
    PracticeEngine engine(SongOf("ド4,ミ4,ド1,ド3,ソ4"), InTime());
    engine.Start(At(0));
    EXPECT_EQ(engine.NextWake(), At(0));
    std::vector<int> clicks;
    for (const Happening& h : engine.Advance(At(3700))) {
        ASSERT_EQ(h.kind, Happening::Kind::Click);
        EXPECT_TRUE(h.countIn);
        clicks.push_back(static_cast<int>((h.time - T0) / milliseconds(1)));
    }
    EXPECT_EQ(clicks, (std::vector<int>{0, 1000, 2000, 3000}));
    EXPECT_EQ(engine.Expected(), (std::vector<Note>{0}));
    // ド due 4000: 100 ms early. ミ due 5000: 124 ms late is still a hit, and the next strike
    // in its window is struck twice. ド due 6000 is missed when its window closes at 6125, and
    // the strike at 6130 is the next ド's, due 6250: 120 ms early. ソ due 7000: missed.
    Play(engine,
         {On(0, 3800, Meaning::Ignored), Off(0, 3850), On(0, 3900, Meaning::Hit), Off(0, 4000),
          On(4, 5124, Meaning::Hit), Off(4, 5124), On(4, 5124, Meaning::StruckTwice),
          On(7, 5500, Meaning::Wrong), Off(0, 5600), On(0, 6130, Meaning::Hit)});
    std::vector<std::pair<Note, int>> missed;
    for (const Happening& h : engine.Advance(At(9000))) {
        if (h.kind == Happening::Kind::Missed)
            missed.push_back({h.note, static_cast<int>((h.time - T0) / milliseconds(1))});
    }
    EXPECT_EQ(missed, (std::vector<std::pair<Note, int>>{{0, 6125}, {7, 7125}}));
    EXPECT_TRUE(engine.finished());
    const Result r = engine.result();
    EXPECT_EQ(r.played, 3u);
    EXPECT_EQ(r.early, 2u);
    EXPECT_EQ(r.late, 1u);
    EXPECT_EQ(r.missed, 2u);
    EXPECT_EQ(r.wrong, 2u);
    EXPECT_EQ(r.struckTwice, 1u);
    EXPECT_DOUBLE_EQ(*r.medianMs, -100);
    EXPECT_DOUBLE_EQ(r.seconds, 4.0);
    ASSERT_EQ(r.places.size(), 3u);  // the missed first, then the largest deviation
    EXPECT_EQ(r.places[0].column, 7u);
    EXPECT_EQ(r.places[1].column, 13u);
    EXPECT_EQ(r.places[2].column, 4u);
    EXPECT_DOUBLE_EQ(r.places[2].largestDeviationMs, 124);
}

TEST(InTimeMode, UnevenChordTakesItsOnsetAndFiguresAreRobust) {
    // Chords due at 4000 and 5000 ms; the single notes at 6000 and 7000.
    PracticeEngine engine(SongOf("ド:ミ:ソ4,レ:ファ4,ド4,ミ4"), InTime());
    engine.Start(At(0));
    Play(engine, {On(4, 3980, Meaning::Hit), On(0, 4010, Meaning::Hit), On(7, 4040, Meaning::Hit),
                  Off(0, 4500), Off(4, 4500), On(2, 5000, Meaning::Hit), On(5, 5050, Meaning::Hit),
                  On(0, 6010, Meaning::Hit), On(4, 7030, Meaning::Hit)});
    engine.Advance(At(8000));
    const Result r = engine.result();
    // Deviations: -20 ×3, 0 ×2, 10, 30: median 0; quartiles -20 and 5.
    EXPECT_EQ(r.early, 3u);
    EXPECT_EQ(r.late, 2u);
    EXPECT_DOUBLE_EQ(*r.medianMs, 0);
    EXPECT_DOUBLE_EQ(*r.spreadMs, 25);
}

}  // namespace

TEST(InTimeMode, PassageLoopsInTimeWithTheMetronome) {
    PracticeOptions options = InTime();
    options.loop = true;
    options.cleanPasses = 2;
    options.metronome = true;
    // ド due 4000 (pass 1), 5000 and 6000 (passes 2 and 3): a pass lasts 4 units, 1000 ms.
    PracticeEngine engine(SongOf("ド4"), options);
    engine.Start(At(0));
    Play(engine, {On(0, 4000, Meaning::Hit), Off(0, 4100), On(3, 4200, Meaning::Wrong),
                  On(0, 5010, Meaning::Hit), Off(0, 5100), On(0, 5990, Meaning::Hit)});
    std::vector<std::string> seen;
    for (const Happening& h : engine.Advance(At(9000))) {
        const int ms = static_cast<int>((h.time - T0) / milliseconds(1));
        if (h.kind == Happening::Kind::Click && !h.countIn)
            seen.push_back("click " + std::to_string(ms) + (h.downbeat ? " down" : ""));
        if (h.kind == Happening::Kind::PassDone)
            seen.push_back("pass " + std::to_string(ms) + (h.clean ? " clean" : ""));
        if (h.kind == Happening::Kind::Finished) seen.push_back("end " + std::to_string(ms));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"click 4000 down", "pass 5000", "click 5000",
                                              "pass 6000 clean", "click 6000", "pass 7000 clean",
                                              "end 7000"}));
    EXPECT_EQ(engine.result().passes, 3u);
    EXPECT_EQ(engine.NextWake(), std::nullopt);
}

TEST(InTimeMode, StopGivesTheResultSoFar) {
    PracticeEngine engine(SongOf("ド4,レ4,ミ4"), InTime());
    engine.Start(At(0));
    Play(engine, {On(0, 4030, Meaning::Hit)});
    engine.Stop(At(5500));  // レ's window closed at 5125; ミ was not yet due
    EXPECT_TRUE(engine.finished());
    EXPECT_TRUE(engine.Expected().empty());
    EXPECT_EQ(engine.NoteOn(4, At(6000)).meaning, Meaning::Ignored);
    const Result r = engine.result();
    EXPECT_FALSE(r.completed);
    EXPECT_EQ(r.played, 1u);
    EXPECT_EQ(r.missed, 1u);
    EXPECT_EQ(r.passes, 0u);
    EXPECT_DOUBLE_EQ(r.seconds, 1.5);
}
