#include "offline_performance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "audio_analysis.h"
#include "music_check.h"
#include "smf_reader.h"
#include "synth_output.h"
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

TEST(WavRender, LaFourAtTempo126SoundsAt440HzFor0476SecondsThenItsTail) {
    if (midi::defaultSoundfont().empty()) GTEST_SKIP() << "no General MIDI soundfont installed";
    testing_support::TempFolder folder;
    const auto messages = RecordPerformance(folder.write("la.txt", "ラ4"), 126, 0);
    ASSERT_TRUE(messages);
    ASSERT_EQ(messages->size(), 2u);
    EXPECT_EQ((*messages)[0].message, 0x007F4590u);
    std::string problem;
    const auto wav = RenderWav(*messages, "", &problem);
    ASSERT_TRUE(wav) << problem;
    ASSERT_EQ(wav->compare(0, 4, "RIFF"), 0);
    ASSERT_EQ(wav->compare(8, 8, "WAVEfmt "), 0);
    auto little = [&](std::size_t at, int bytes) {
        std::uint32_t v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = (v << 8) | static_cast<unsigned char>((*wav)[at + static_cast<std::size_t>(i)]);
        return v;
    };
    EXPECT_EQ(little(22, 2), 2u);
    EXPECT_EQ(little(24, 4), 44100u);
    EXPECT_EQ(little(34, 2), 16u);
    // Both sizes are filled in once the audio has been written.
    EXPECT_EQ(little(4, 4), wav->size() - 8);
    EXPECT_EQ(little(40, 4), wav->size() - 44);
    const std::size_t frames = little(40, 4) / 4;
    std::vector<float> left(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        left[i] = static_cast<std::int16_t>(little(44 + i * 4, 2)) / 32768.0f;
    }
    auto rms = [&](double from, double to) {
        double sum = 0;
        const auto a = static_cast<std::size_t>(from * 44100),
                   b = static_cast<std::size_t>(to * 44100);
        for (std::size_t i = a; i < b && i < frames; ++i) sum += left[i] * left[i];
        return std::sqrt(sum / static_cast<double>(b - a));
    };
    const std::vector<float> held(left.begin() + 4410, left.begin() + 4410 + 8820);
    EXPECT_NEAR(testing_support::Fundamental(held, 44100), 440.0, 10.0);
    const double sounding = rms(0.05, 0.45);
    EXPECT_GT(sounding, 0.01);
    EXPECT_GT(rms(0.40, 0.47), sounding / 4) << "still sounding just before its end";
    EXPECT_GT(frames, 44100u * 476 / 1000 + 4410) << "the release tail is included";
    EXPECT_LT(rms(static_cast<double>(frames) / 44100 - 0.1, static_cast<double>(frames) / 44100),
              sounding / 100)
        << "the tail dies away";
}

}  // namespace
