// The recorder's files: when they appear, what they hold while playing goes on, and at the end.
#include "take_recorder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "recording_output.h"
#include "smf_reader.h"
#include "temp_file.h"
#include "trace_output.h"

using namespace performance;
using std::chrono::milliseconds;

namespace {

std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

using testing_support::ReadSmf;

class TakeRecorderTest : public ::testing::Test {
  protected:
    testing_support::TempFolder folder;
    std::filesystem::path text = folder.path() / "take.txt";
    std::filesystem::path midi = folder.path() / "take.mid";
    std::ostringstream report;
    // Now, not a fixed time: a recorder that goes away ends the take at the clock's now, which on
    // a machine up for hours would be long after a fixed time.
    const TakeRecorder::TimePoint t0 = std::chrono::steady_clock::now();
};

TEST_F(TakeRecorderTest, ExistingFilesStayUntilSomethingIsPlayed) {
    std::ofstream(text) << "old";
    std::ofstream(midi) << "old";
    {
        TakeRecorder recorder(text.string(), midi.string(), 150, report);
        recorder.Tick(t0 + milliseconds(6000));
        recorder.Finish(t0 + milliseconds(7000));
    }
    EXPECT_EQ(Read(text), "old");
    EXPECT_EQ(Read(midi), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 2)
        << "no temporary file left behind";
}

TEST_F(TakeRecorderTest, TheMusicFileGrowsAsPlayedAndTheMidiFileIsWholeAtEveryTick) {
    std::ofstream(text) << "old";
    TakeRecorder recorder(text.string(), midi.string(), 150, report);
    // Tempo 150: a unit is 100 ms, a quarter 400 ms, 1200 ticks a second.
    recorder.Record(t0, 0x7F3C99);                      // ド on, channel 9
    recorder.Record(t0 + milliseconds(240), 0x7F4090);  // ミ on, channel 0
    EXPECT_EQ(Read(text),
              "\x83\x68"
              "2")
        << "ド2 replaced the old file once complete";
    EXPECT_FALSE(std::filesystem::exists(midi)) << "written by the timer, not on the key path";
    recorder.Record(t0 + milliseconds(300), 0x003C99);  // ド off
    recorder.Tick(t0 + milliseconds(1000));
    EXPECT_EQ(Read(text),
              "\x83\x68"
              "2")
        << "ミ is still held; its length is not settled";
    const auto snapshot = ReadSmf(Read(midi));
    ASSERT_TRUE(snapshot.whole) << snapshot.problem;
    EXPECT_EQ(snapshot.format, 0);
    EXPECT_EQ(snapshot.tracks, 1);
    EXPECT_EQ(snapshot.division, 480);
    EXPECT_EQ(snapshot.microsPerQuarter, 400000u);
    const std::vector<std::pair<std::int64_t, std::uint32_t>> held = {
        {0, 0x993C7F}, {288, 0x90407F}, {360, 0x993C00}, {1200, 0x904000}};
    EXPECT_EQ(snapshot.events, held) << "the note still held ends at the snapshot";

    recorder.Record(t0 + milliseconds(1500), 0x7F4390);  // ソ on while ミ still sounds
    recorder.Tick(t0 + milliseconds(1900));
    EXPECT_EQ(ReadSmf(Read(midi)).events, held) << "rewritten every few seconds, not each tick";
    recorder.Finish(t0 + milliseconds(2000));  // both end here
    EXPECT_EQ(Read(text),
              "\x83\x68"
              "2,\x83\x7E"
              "0,-3,\x83\x5C"
              "5\r\n");
    const auto final = ReadSmf(Read(midi));
    ASSERT_TRUE(final.whole) << final.problem;
    const std::vector<std::pair<std::int64_t, std::uint32_t>> all = {
        {0, 0x993C7F},    {288, 0x90407F},  {360, 0x993C00},
        {1800, 0x90437F}, {2400, 0x904000}, {2400, 0x904300}};
    EXPECT_EQ(final.events, all);
    EXPECT_NE(report.str().find("16分音符10個"), std::string::npos) << "ミ was held 12 units";
    recorder.Record(t0 + milliseconds(2100), 0x7F3C90);
    EXPECT_EQ(ReadSmf(Read(midi)).events, all) << "nothing recorded after the end";
}

// The MIDI file is written at the first tick after a note, then again only once four seconds have
// passed, each copy ending the notes still held at its moment (1200 ticks a second at tempo 150).
TEST_F(TakeRecorderTest, TheMidiFileIsRewrittenEveryFourSeconds) {
    TakeRecorder recorder({}, midi.string(), 150, report);
    const std::pair<int, std::int64_t> ticks[] = {
        {500, 600}, {4499, 600}, {4500, 5400}, {8499, 5400}, {8500, 10200}};
    recorder.Record(t0, 0x7F3B90);
    std::uint32_t note = 0x3C;
    for (const auto& [ms, end] : ticks) {
        recorder.Record(t0 + milliseconds(ms - 100), 0x7F0090 | note++ << 8);
        recorder.Tick(t0 + milliseconds(ms));
        EXPECT_EQ(ReadSmf(Read(midi)).events.back().first, end) << "a tick at " << ms << " ms";
    }
}

TEST_F(TakeRecorderTest, EachFormatAlone) {
    {
        TakeRecorder recorder({}, midi.string(), 126, report);
        recorder.Record(t0, 0x7F3C90);
        recorder.Finish(t0 + milliseconds(100));
    }
    EXPECT_TRUE(ReadSmf(Read(midi)).whole);
    EXPECT_FALSE(std::filesystem::exists(text));
    std::filesystem::remove(midi);
    {
        TakeRecorder recorder(text.string(), {}, 126, report);
        recorder.Record(t0, 0x7F3C90);
    }  // ended by going away
    EXPECT_EQ(Read(text),
              "\x83\x68"
              "1\r\n");
    EXPECT_FALSE(std::filesystem::exists(midi));
}

TEST_F(TakeRecorderTest, FilesThatCannotBeCreatedAreNamedWithTheReason) {
    EXPECT_EQ(RecordingFileProblem(text.string()), "");
    const std::string missing = (folder.path() / "no-such-folder" / "a.txt").string();
    EXPECT_EQ(RecordingFileProblem(missing),
              "「" + missing + "」ﾌｧｲﾙを作成できません（フォルダがありません）。");
    EXPECT_EQ(RecordingFileProblem(folder.path().string() + "/"),
              "「" + folder.path().string() + "/」ﾌｧｲﾙを作成できません（フォルダです）。");
    EXPECT_TRUE(std::filesystem::is_empty(folder.path())) << "the check leaves nothing behind";
}

// The recording sits in front of any output, also one that cannot sound.
TEST(RecordingOutput, RecordsEveryMessageWithItsTimeAndPassesItOn) {
    struct Log final : midi::MessageRecorder {
        void Record(std::chrono::steady_clock::time_point when, std::uint32_t message) override {
            got.emplace_back(when.time_since_epoch().count(), message);
        }
        std::vector<std::pair<std::int64_t, std::uint32_t>> got;
    };
    testing_support::TempFolder folder;
    const auto trace = folder.path() / "trace.log";
    for (const bool silent : {true, false}) {
        Log log;
        std::int64_t now = 0;
        auto clock = [&now] {
            return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(now));
        };
        std::unique_ptr<midi::OutputBackend> inner;
        if (silent) {
            inner = std::make_unique<midi::NoOutput>();
        } else {
            inner = std::make_unique<midi::TraceOutput>(trace.string());
        }
        midi::RecordingOutput output(std::move(inner), log, clock);
        EXPECT_TRUE(output.available());
        EXPECT_EQ(output.outputAvailable(), !silent);
        now = 5;
        output.send(0x7F3C90);
        now = 9;
        output.send(0x3C90);
        output.close();
        const std::vector<std::pair<std::int64_t, std::uint32_t>> expected = {{5, 0x7F3C90},
                                                                              {9, 0x3C90}};
        EXPECT_EQ(log.got, expected);
    }
    std::ifstream in(trace);
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) ++lines;
    EXPECT_EQ(lines, 2) << "the output behind still gets every message";
}

}  // namespace
