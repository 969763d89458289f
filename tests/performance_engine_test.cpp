#include "performance_engine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "key_layout.h"
#include "temp_file.h"

using namespace performance;
using namespace std::chrono;

namespace {

// What the engine did, in order, with the manual clock's time in whole microseconds.
struct Event {
    enum Kind { On, Off, Bar, Status, Caption, Inputs, Missing } kind;
    std::int64_t value;
    std::string text;
    std::int64_t micros;
    friend bool operator==(const Event&, const Event&) = default;
};

class ManualHost : public PerformanceHost {
  public:
    // Like the MIDI routines, nothing is sent for a rest.
    void NoteOn(std::int16_t note) override {
        if (note != NoNote) add(Event::On, note);
    }
    void NoteOff(std::int16_t note) override {
        if (note != NoNote) add(Event::Off, note);
    }
    void BarFunc(std::int16_t key) override { add(Event::Bar, key); }
    Clock::time_point Now() override { return now; }
    void WaitUntil(Clock::time_point deadline) override {
        ++waits;
        if (duringWait) duringWait(waits);
        now = std::max(now, deadline) + lateness;
    }
    void LetEventsRun() override {}
    std::string FileName() override { return fileName; }
    void SetButtonCaption(std::string_view c) override { add(Event::Caption, 0, c); }
    void SetStatus(std::string_view s) override { add(Event::Status, 0, s); }
    void EnableInputs(bool on) override { add(Event::Inputs, on); }
    void ReportMissingFile(std::string_view name) override { add(Event::Missing, 0, name); }

    void add(Event::Kind kind, std::int64_t value, std::string_view text = {}) {
        events.push_back({kind, value, std::string(text),
                          std::llround(duration<double, std::micro>(now - start).count())});
    }
    std::vector<Event> only(std::initializer_list<Event::Kind> kinds) const {
        std::vector<Event> out;
        for (const auto& e : events) {
            for (auto k : kinds) {
                if (e.kind == k) out.push_back(e);
            }
        }
        return out;
    }

    const Clock::time_point start = Clock::time_point{} + hours(1);
    Clock::time_point now = start;
    Clock::duration lateness{};
    std::string fileName;
    std::vector<Event> events;
    int waits = 0;
    std::function<void(int)> duringWait;
};

class EngineTest : public ::testing::Test {
  protected:
    EngineTest() : tables(keyboard::NoteTablesForLayout(keyboard::LayoutF6)), engine(host, tables) {
        engine.BuildKeyOfNote();
    }
    void play(const std::string& tune) {
        host.fileName = folder.write("tune.txt", tune);
        engine.Command2_Click();
    }
    // n sixteenths in microseconds: a quarter note is 60 s / tempo.
    static std::int64_t units(int n, int tempo = 126) { return std::llround(n * 15e6 / tempo); }

    testing_support::TempFolder folder;
    ManualHost host;
    keyboard::NoteTables tables;
    PerformanceEngine engine;
};

void PrintTo(const Event& e, std::ostream* os) {
    *os << "{kind " << e.kind << ", " << e.value << ", \"" << e.text << "\", " << e.micros
        << " µs}";
}

std::vector<std::int64_t> Values(const std::vector<Event>& events) {
    std::vector<std::int64_t> v;
    for (const auto& e : events) v.push_back(e.value);
    return v;
}

TEST(TimeUnit, FollowsTheTempoInSinglePrecision) {
    const std::pair<int, float> cases[] = {
        {108, 0.1388889f}, {126, 0.1190476f}, {138, 0.1086956f}, {150, 0.1f}, {168, 0.0892857f}};
    for (const auto& [tempo, unit] : cases)
        EXPECT_NEAR(TimeUnitForTempo(tempo), unit, 1e-7) << tempo;
}

TEST_F(EngineTest, ThreeChordsAtTempo126SoundBackToBackWithDoReStruck) {
    play("ド:ミ:ソ4,ド:ファ:ラ4,ド:ミ:ソ4");
    const std::int64_t t = 476190, t2 = 952381, t3 = 1428571;  // µs
    // F6: ド is E (13), ミ T (15), ファ Y (16), ソ U (17), ラ I (18).
    using E = Event;
    const std::vector<Event> expected = {
        {E::Bar, 13, "", 0},  {E::On, 0, "", 0},    {E::Bar, 15, "", 0},  {E::On, 4, "", 0},
        {E::Bar, 17, "", 0},  {E::On, 7, "", 0},    {E::Off, 0, "", t},   {E::Bar, 13, "", t},
        {E::Off, 4, "", t},   {E::Bar, 15, "", t},  {E::Off, 7, "", t},   {E::Bar, 17, "", t},
        {E::Bar, 13, "", t},  {E::On, 0, "", t},    {E::Bar, 16, "", t},  {E::On, 5, "", t},
        {E::Bar, 18, "", t},  {E::On, 9, "", t},    {E::Off, 0, "", t2},  {E::Bar, 13, "", t2},
        {E::Off, 5, "", t2},  {E::Bar, 16, "", t2}, {E::Off, 9, "", t2},  {E::Bar, 18, "", t2},
        {E::Bar, 13, "", t2}, {E::On, 0, "", t2},   {E::Bar, 15, "", t2}, {E::On, 4, "", t2},
        {E::Bar, 17, "", t2}, {E::On, 7, "", t2},   {E::Off, 0, "", t3},  {E::Bar, 13, "", t3},
        {E::Off, 4, "", t3},  {E::Bar, 15, "", t3}, {E::Off, 7, "", t3},  {E::Bar, 17, "", t3},
    };
    EXPECT_EQ(host.only({E::On, E::Off, E::Bar}), expected);
    EXPECT_EQ(engine.TokenCount, 3);
}

TEST_F(EngineTest, TheButtonAndStatusGoThroughTheirStatesAndTheEndMessageStays19Seconds) {
    play("ド2");
    using E = Event;
    const std::int64_t end = units(2);
    const std::int64_t pause = 1'900'000;
    const std::vector<Event> expected = {
        {E::Caption, 0, "ｷｬﾝｾﾙ", 0},        {E::Inputs, 0, "", 0},
        {E::Status, 0, "  演奏中", 0},      {E::Status, 0, " ", end},
        {E::Caption, 0, "実\u3000行", end}, {E::Inputs, 1, "", end},
        {E::Status, 0, "演奏完了", end},    {E::Status, 0, " ", end + pause},
    };
    EXPECT_EQ(host.only({E::Caption, E::Inputs, E::Status}), expected);
    EXPECT_EQ(engine.Playing, 0);
}

TEST_F(EngineTest, RestsTakeTheirTimeAndNothingElse) {
    play("-4,-:-2,ド:-:ミ1");
    EXPECT_EQ(Values(host.only({Event::On})), (std::vector<std::int64_t>{0, 4}));
    EXPECT_EQ(host.only({Event::On})[0].micros, units(6));
    EXPECT_EQ(Values(host.only({Event::Bar})), (std::vector<std::int64_t>{13, 15, 13, 15}));
}

TEST_F(EngineTest, TenChordMembersSoundAndTheEleventhIsDropped) {
    play("ド:レ:ミ:ファ:ソ:ラ:シ:ドH:レH:ミH4\r\nド:レ:ミ:ファ:ソ:ラ:シ:ドH:レH:ミH:ファH4\r\n");
    const auto ons = Values(host.only({Event::On}));
    const std::vector<std::int64_t> ten = {0, 2, 4, 5, 7, 9, 11, 12, 14, 16};
    std::vector<std::int64_t> twice = ten;
    twice.insert(twice.end(), ten.begin(), ten.end());
    EXPECT_EQ(ons, twice);
    EXPECT_EQ(host.only({Event::Off}).size(), 20u);
}

TEST_F(EngineTest, EqualNotesInARowAreReStruck) {
    play("ド2,ド2,ド:ド4");
    const auto notes = host.only({Event::On, Event::Off});
    ASSERT_EQ(notes.size(), 8u);
    EXPECT_EQ(notes[1].kind, Event::Off);
    EXPECT_EQ(notes[2].kind, Event::On);
    EXPECT_EQ(notes[1].micros, notes[2].micros);
    // The same key toggled twice on each side of the chord: it keeps its resting state.
    EXPECT_EQ(Values(host.only({Event::Bar})),
              (std::vector<std::int64_t>{13, 13, 13, 13, 13, 13, 13, 13}));
}

TEST_F(EngineTest, OnlyNotesWithAKeyAreMarkedAndAlwaysInPairs) {
    // F6 plays -4..27 with 26 missing: ソL#=-4 (key 1), ソL=-5, レH=14 (Z), レI=26, ミI=28.
    play("ソL#1,ソL1,レH1,レI1,ミI1,ドW1,シI#1");
    EXPECT_EQ(Values(host.only({Event::On})),
              (std::vector<std::int64_t>{-4, -5, 14, 26, 28, -24, 36}));
    EXPECT_EQ(Values(host.only({Event::Bar})), (std::vector<std::int64_t>{1, 1, 30, 30}));
}

TEST_F(EngineTest, ACancelLetsTheLongNoteFinishAndShowsTheCancelMessage) {
    host.duringWait = [this](int wait) {
        if (wait == 1) engine.Command2_Click();
    };
    play("ド0,レ2,ミ2");
    EXPECT_EQ(Values(host.only({Event::On, Event::Off})), (std::vector<std::int64_t>{0, 0}));
    EXPECT_EQ(host.only({Event::Off})[0].micros, units(10));
    EXPECT_EQ(Values(host.only({Event::Bar})), (std::vector<std::int64_t>{13, 13}));
    const auto statuses = host.only({Event::Status});
    ASSERT_EQ(statuses.size(), 4u);
    EXPECT_EQ(statuses[2].text, "演奏中にキャンセルされました。");
    EXPECT_EQ(engine.TokenCount, 1);
}

TEST_F(EngineTest, ACancelDuringTheLastTokenStillSaysCancelled) {
    host.duringWait = [this](int wait) {
        if (wait == 2) engine.Command2_Click();
    };
    play("ド2,レ2");
    EXPECT_EQ(host.only({Event::On}).size(), 2u);
    EXPECT_EQ(host.only({Event::Status})[2].text, "演奏中にキャンセルされました。");
}

TEST_F(EngineTest, ATempoChosenDuringATokenAppliesFromTheNextOne) {
    host.duringWait = [this](int wait) {
        if (wait == 1) engine.Combo1_Click(168);
    };
    play("ド4,レ4,ミ4");
    const auto ons = host.only({Event::On});
    ASSERT_EQ(ons.size(), 3u);
    EXPECT_EQ(ons[1].micros, units(4));
    EXPECT_NEAR(static_cast<double>(ons[2].micros - ons[1].micros),
                static_cast<double>(units(4, 168)), 1.0);
}

// A wait that returns late by more than a tenth of a second (the program was held up): the next
// token starts then and gets its full length. Smaller lateness is caught up on.
TEST_F(EngineTest, AfterAHoldUpThePerformanceResumesFromThenWithoutRushing) {
    const struct {
        int lateMs;
        std::vector<std::int64_t> ons;
    } cases[] = {{400, {0, units(2), units(4) + 400'000, units(6) + 400'000}},
                 {150, {0, units(2), units(4) + 150'000, units(6) + 150'000}},
                 {50, {0, units(2), units(4) + 50'000, units(6)}}};
    for (const auto& c : cases) {
        host.events.clear();
        host.waits = 0;
        host.now = host.start;
        host.duringWait = [&](int wait) { host.lateness = milliseconds(wait == 2 ? c.lateMs : 0); };
        play("ド2,レ2,ミ2,ファ2");
        const auto ons = host.only({Event::On});
        std::vector<std::int64_t> times;
        for (const auto& on : ons) times.push_back(on.micros);
        EXPECT_EQ(times, c.ons) << c.lateMs << " ms late";
    }
}

TEST_F(EngineTest, AnEmptyFileShowsNoEndMessage) {
    play("");
    EXPECT_EQ(engine.TokenCount, 0);
    const auto statuses = host.only({Event::Status});
    ASSERT_EQ(statuses.size(), 2u);
    EXPECT_EQ(statuses[1].text, " ");
    EXPECT_EQ(host.waits, 0);
}

TEST_F(EngineTest, AMissingFileIsReportedWithItsNameAndNothingElseHappens) {
    host.fileName = (folder.path() / "nothing here.txt").string();
    engine.Command2_Click();
    ASSERT_EQ(host.events.size(), 1u);
    EXPECT_EQ(host.events[0].kind, Event::Missing);
    EXPECT_EQ(host.events[0].text, host.fileName);
    host.events.clear();
    host.fileName.clear();
    engine.Command2_Click();
    EXPECT_TRUE(host.events.empty()) << "an empty name does nothing";
}

TEST_F(EngineTest, AWildcardThatMatchesPassesTheSearchThenFailsSilently) {
    folder.write("song.txt", "ド2");
    host.fileName = (folder.path() / "s?ng.*").string();
    engine.Command2_Click();
    using E = Event;
    EXPECT_EQ(host.only({E::Missing, E::On}).size(), 0u);
    const auto statuses = host.only({E::Status});
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back().text, " ");
    EXPECT_EQ(host.only({E::Caption}).back().text, "実\u3000行");
    EXPECT_EQ(host.only({E::Inputs}).back().value, 1);
    EXPECT_EQ(engine.Playing, 0);
}

TEST_F(EngineTest, UnloadingEndsThePerformanceAfterTheCurrentTokenWithoutAMessage) {
    host.duringWait = [this](int wait) {
        if (wait == 1) engine.Unload();
    };
    play("ド4,レ4,ミ4");
    EXPECT_EQ(Values(host.only({Event::On, Event::Off})), (std::vector<std::int64_t>{0, 0}));
    EXPECT_EQ(Values(host.only({Event::Bar})), (std::vector<std::int64_t>{13, 13}));
    EXPECT_EQ(host.only({Event::Status}).back().text, " ");
    EXPECT_EQ(host.waits, 1) << "no end-message pause";
}

TEST_F(EngineTest, LateWakeUpsDoNotAddUp) {
    host.lateness = milliseconds(3);
    std::string tune;
    for (int i = 0; i < 200; ++i) tune += "ド1,";
    play(tune);
    const auto ons = host.only({Event::On});
    ASSERT_EQ(ons.size(), 200u);
    // Each note starts when it was due (plus at most one wake-up's lateness), not 200 x 3 ms late.
    EXPECT_LE(ons.back().micros - units(199), 3000);
}

TEST(FileFound, MatchesFilesLikeADirectorySearch) {
    testing_support::TempFolder folder;
    folder.write("song.txt", "x");
    folder.write(".hidden", "x");
    std::filesystem::create_directory(folder.path() / "folder.txt");
    const auto in = [&](const std::string& name) { return (folder.path() / name).string(); };
    // A FIFO or a device is no file for the search, and never opened (it would block or not end).
    ASSERT_EQ(mkfifo(in("pipe.fifo").c_str(), 0600), 0);
    // A device of its own (/dev/zero's numbers) where this test may make one.
    const bool device = mknod(in("zero").c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0;
    std::filesystem::create_symlink(device ? "zero" : "pipe.fifo", folder.path() / "zero.lnk");
    std::filesystem::create_symlink("song.txt", folder.path() / "song.lnk");
    const std::pair<std::string, bool> cases[] = {
        {in("song.txt"), true},
        {in("song.TXT"), false},
        {in("*.txt"), true},
        {in("s?ng.txt"), true},
        {in("*.*"), true},
        {in("*.mid"), false},
        {in("folder.txt"), false},
        {in("folder.*"), false},
        {in(".hidden"), true},
        {in("nope/*.txt"), false},
        {in("nope/song.txt"), false},
        {folder.path().string(), false},
        {in(std::string(5000, 'x')), false},
        {in("pipe.fifo"), false},
        {in("*.fifo"), false},
        {in("zero.lnk"), false},
        {in("zero"), false},
        {in("song.lnk"), true},
    };
    for (const auto& [name, found] : cases) EXPECT_EQ(FileFound(name), found) << name;
    // Even past the search, the reader refuses them at once instead of waiting for a writer.
    MusicFileReader reader;
    EXPECT_FALSE(reader.Open(in("pipe.fifo")));
    EXPECT_FALSE(reader.Open(in("zero.lnk")));
    EXPECT_TRUE(reader.Open(in("song.lnk")));
}

}  // namespace
