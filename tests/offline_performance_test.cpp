#include "offline_performance.h"

#include <gtest/gtest.h>

#include <sstream>

#include "music_check.h"
#include "smf_reader.h"
#include "temp_file.h"

using namespace performance;

namespace {

using testing_support::ReadSmf;

// Each token of a tune with what it plays, read off its text: MIDI note numbers (ド = 60, L and
// H an octave down and up, W and I two) and its length in sixteenths (0 is ten).
struct TuneToken {
    const char* text;
    std::vector<int> notes;
    int sixteenths;
};
const TuneToken AllTenLengths[] = {
    {"ド1", {60}, 1},   {"レ#2", {63}, 2}, {"ミL3", {52}, 3},
    {"ファ4", {65}, 4}, {"-5", {}, 5},     {"ソH6", {79}, 6},
    {"ラ#7", {70}, 7},  {"シW9", {47}, 9}, {"ド:ミ:ソ8", {60, 64, 67}, 8},
    {"ドI0", {84}, 10},
};

TEST(MidiExport, EveryEventFallsOnTheTickItsTokensLengthsGiveAtEveryTempo) {
    testing_support::TempFolder folder;
    std::string tune;
    for (const auto& token : AllTenLengths)
        tune += std::string(tune.empty() ? "" : ",") + token.text;
    const struct {
        int tempo, channel;
        std::uint32_t microsPerQuarter;
    } cases[] = {
        {108, 0, 555556}, {126, 9, 476190}, {138, 15, 434783}, {150, 3, 400000}, {168, 1, 357143}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tempo);
        // A sixteenth is 120 ticks; a note ends with a note-on of velocity 0.
        std::vector<std::pair<std::int64_t, std::uint32_t>> expected;
        std::int64_t tick = 0;
        auto event = [&](std::int64_t at, int note, int velocity) {
            expected.emplace_back(at, (0x90u | static_cast<std::uint32_t>(c.channel)) << 16 |
                                          static_cast<std::uint32_t>(note) << 8 |
                                          static_cast<std::uint32_t>(velocity));
        };
        for (const auto& token : AllTenLengths) {
            for (const int note : token.notes) event(tick, note, 127);
            tick += 120 * token.sixteenths;
            for (const int note : token.notes) event(tick, note, 0);
        }
        const auto messages =
            RecordPerformance(folder.write("t.txt", tune + "\r\n"), c.tempo, c.channel);
        ASSERT_TRUE(messages);
        const auto midi = ReadSmf(StandardMidiFile(*messages, c.tempo));
        EXPECT_EQ(midi.format, 0);
        EXPECT_EQ(midi.tracks, 1);
        EXPECT_EQ(midi.division, 480);
        EXPECT_EQ(midi.microsPerQuarter, c.microsPerQuarter);
        EXPECT_TRUE(midi.whole) << midi.problem;
        EXPECT_EQ(midi.events, expected);
    }
}

TEST(MidiExport, AMissingFileGivesNothing) {
    EXPECT_FALSE(RecordPerformance("/nonexistent/tune.txt", 126, 0));
}

struct CheckCase {
    const char* text;
    std::vector<std::string> found;  // "line:column:message"
};

TEST(MusicCheck, EachFallbackIsFoundWhereItStandsWithItsWholeMessage) {
    const std::string notName = "」は音名ではありません。ドとして演奏します。";
    const std::string ignored = "」は無視されます。";
    const std::string noLength = "長さの数字がありません。長さ1で演奏します。";
    const CheckCase cases[] = {
        {"ド2,レ#4,ファH#2,ドL:ソ:ミH4,-0,シI#9\r\n", {}},
        {"ﾚ2", {"1:1:「ﾚ" + notName}},
        {"ド2,^4", {"1:4:「^" + notName}},
        {"ド2,  ドh2", {"1:7:「h" + ignored}},
        {"ド#H2", {"1:3:「H" + ignored}},
        {"フH4", {"1:2:「H" + ignored}},
        {"ド2 レ2", {"1:2:「2 レ" + ignored}},
        {"ド2:ミ4", {"1:2:「2" + ignored}},
        {"レ", {"1:1:" + noLength}},
        {"ド2\r\n\r\nレ2", {"2:1:空のフィールドです。ドを長さ1で演奏します。"}},
        {"ド2,\"ミh4\"", {"1:6:「h" + ignored}},
        {"ド:ミ:ソ",
         {"1:5:長さの数字がないため、最後の「ソ」は和音に入りません。", "1:5:" + noLength}},
        {"ド::ミ4", {"1:3:音名のない和音の音です。ドとして演奏します。"}},
        {"ド:レ:ミ:ファ:ソ:ラ:シ:ドH:レH:ミH:ファH4", {"1:25:和音の11音目からは演奏されません。"}},
        {"\x83\x68"
         "2,\xff",
         {"1:4:CP932の文字ではないバイトです。", "1:4:「\xef\xbf\xbd" + notName,
          "1:4:" + noLength}},
        // The file's control characters never reach the terminal raw, nor a run without end.
        {"ド\x1b[2J\x7f"
         "2",
         {"1:2:「\\x1b[2J\\x7f" + ignored}},
        {"\x1b"
         "2",
         {"1:1:「\\x1b" + notName}},
        {"ド:\tミ", {"1:3:「\\x09" + notName, "1:4:" + noLength}},
        {"ドhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhh2",
         {"1:2:「hhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhh…" + ignored}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        testing_support::TempFolder folder;
        const bool raw = std::string(c.text).find('\xff') != std::string::npos;
        MusicFileReader reader;
        ASSERT_TRUE(reader.Open(folder.write("t.txt", c.text, !raw)));
        std::vector<Finding> findings;
        CheckMusicFile(reader, [&](const Finding& f) { findings.push_back(f); });
        std::vector<std::string> found;
        for (const auto& f : findings) {
            found.push_back(std::to_string(f.line) + ":" + std::to_string(f.column) + ":" +
                            f.message);
        }
        EXPECT_EQ(found, c.found);
    }
}

}  // namespace
