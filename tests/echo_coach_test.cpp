#include "echo_coach.h"

#include <gtest/gtest.h>

#include "temp_file.h"

using namespace practice;
using namespace std::chrono;

namespace {

const TimePoint T0 = TimePoint{} + hours(1);

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
    testing_support::TempFolder folder;
    performance::MusicFileReader reader;
    ASSERT_TRUE(reader.Open(folder.write("song.txt", "ド4,レ4\nミ4\n")));
    EchoCoach coach(BuildSong(reader), 60);  // a unit is 250 ms
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
