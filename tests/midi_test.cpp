#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <vector>

#include "module1.h"
#include "output_backends.h"
#include "recording_backend.h"

using testing_support::installRecording;

namespace {

class Module1Test : public ::testing::Test {
  protected:
    void SetUp() override {
        recording = installRecording();
        midi::midiOutOpen(&Module1::hMidiOut, midi::MIDI_MAPPER);
        Module1::SetChannel(0);
    }
    void TearDown() override {
        midi::midiOutClose(Module1::hMidiOut);
        Module1::hMidiOut = 0;
        midi::installBackend(nullptr);
    }
    std::shared_ptr<testing_support::Recording> recording;
};

struct MessageCase {
    std::int32_t channel;
    std::int16_t offset;
    bool on;
    std::vector<std::uint32_t> expected;
};

TEST_F(Module1Test, NoteMessagesArePackedWithVelocityAndChannel) {
    const MessageCase cases[] = {
        {0, 0, true, {0x007F3C90}},   {0, 0, false, {0x00003C90}},  {9, -4, true, {0x007F3899}},
        {0, 67, false, {0x00007F90}}, {0, -60, true, {0x007F0090}}, {15, 67, true, {0x007F7F9F}},
        {0, -99, true, {}},           {0, -99, false, {}},          {0, 68, true, {}},
        {0, -61, false, {}},          {0, 32767, true, {}},         {0, -32768, true, {}},
        {0, -3, true, {0x007F3990}},  {0, -3, false, {0x00003990}},
    };
    for (const auto& c : cases) {
        recording->messages.clear();
        Module1::SetChannel(c.channel);
        c.on ? Module1::NoteOn(c.offset) : Module1::NoteOff(c.offset);
        EXPECT_EQ(recording->messages, c.expected)
            << "channel " << c.channel << " offset " << c.offset << " on " << c.on;
    }
}

TEST_F(Module1Test, ChannelRuleKeepsOneToFifteenAndMakesEverythingElseZero) {
    const std::pair<std::int32_t, std::int32_t> cases[] = {
        {15, 15}, {1, 1}, {9, 9}, {16, 0}, {0, 0}, {-1, 0}, {100000, 0}, {-100000, 0}};
    for (const auto& [index, channel] : cases) {
        Module1::SetChannel(index);
        EXPECT_EQ(Module1::MidiChannel, channel) << index;
    }
}

TEST_F(Module1Test, NoteOffWithItsOwnChannelIgnoresTheCurrentChannel) {
    Module1::SetChannel(3);
    Module1::NoteOff(0, 7);
    EXPECT_EQ(recording->messages, std::vector<std::uint32_t>{0x00003C97});
}

TEST(DeviceLayer, MessagesGoNowhereUntilTheDeviceIsOpenedAndAfterItIsClosed) {
    auto recording = installRecording();
    midi::HMIDIOUT handle = 0;
    EXPECT_NE(midi::midiOutShortMsg(handle, 0x7F3C90), 0u);
    EXPECT_EQ(midi::midiOutGetNumDevs(), 1u);
    EXPECT_EQ(midi::midiOutOpen(&handle, midi::MIDI_MAPPER), 0u);
    EXPECT_EQ(midi::midiOutShortMsg(handle, 0x7F3C90), 0u);
    EXPECT_EQ(midi::midiOutClose(handle), 0u);
    EXPECT_NE(midi::midiOutShortMsg(handle, 0x3C90), 0u);
    EXPECT_EQ(recording->messages, std::vector<std::uint32_t>{0x7F3C90});
    EXPECT_EQ(recording->closes, 1);

    auto absent = installRecording(false);
    midi::HMIDIOUT none = 0;
    EXPECT_EQ(midi::midiOutGetNumDevs(), 0u);
    EXPECT_NE(midi::midiOutOpen(&none, midi::MIDI_MAPPER), 0u);
    EXPECT_EQ(none, 0u);
    midi::installBackend(nullptr);
    EXPECT_EQ(midi::midiOutGetNumDevs(), 0u);
}

TEST(OutputSpec, ParsesTheFourFormsAndRejectsOthers) {
    struct Case {
        const char* value;
        bool valid;
        const char* kind;
        const char* argument;
    };
    const Case cases[] = {
        {"synth", true, "synth", ""},
        {"none", true, "none", ""},
        {"port:2", true, "port", "2"},
        {"port:FLUID Synth", true, "port", "FLUID Synth"},
        {"trace:/tmp/a b.log", true, "trace", "/tmp/a b.log"},
        {"trace:", false, "", ""},
        {"port", false, "", ""},
        {"Synth", false, "", ""},
        {"", false, "", ""},
        {"alsa", false, "", ""},
    };
    for (const auto& c : cases) {
        const auto spec = midi::parseOutputSpec(c.value);
        ASSERT_EQ(spec.has_value(), c.valid) << c.value;
        if (spec) {
            EXPECT_EQ(spec->kind, c.kind);
            EXPECT_EQ(spec->argument, c.argument);
        }
    }
}

TEST(TraceOutput, WritesMillisecondsAndTheEightDigitValuePerMessage) {
    const auto path = std::filesystem::path(::testing::TempDir()) /
                      ("trace-" + std::to_string(::getpid()) + ".log");
    {
        auto backend = midi::makeBackend({"trace", path.string()}, {});
        ASSERT_TRUE(backend->available());
        backend->send(0x007F3990);
        backend->send(0x00003990);
        backend->close();
    }
    std::ifstream in(path);
    std::string line;
    const std::regex form(R"(\d+\.\d{3} ([0-9a-f]{8}))");
    std::vector<std::string> values;
    while (std::getline(in, line)) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, form)) << line;
        values.push_back(match[1]);
    }
    EXPECT_EQ(values, (std::vector<std::string>{"007f3990", "00003990"}));
    std::filesystem::remove(path);
}

TEST(TraceOutput, AnUnwritableFileIsNoDevice) {
    const auto path = std::filesystem::path(::testing::TempDir()) /
                      ("none-" + std::to_string(::getpid())) / "trace.log";
    auto backend = midi::makeBackend({"trace", path.string()}, {});
    EXPECT_FALSE(backend->available());
}

TEST(PortOutput, AMissingPortIsNoDevice) {
    auto backend = midi::makeBackend({"port", "no such port anywhere"}, {});
    EXPECT_FALSE(backend->available());
    auto numbered = midi::makeBackend({"port", "999"}, {});
    EXPECT_FALSE(numbered->available());
}

TEST(Wait, ZeroAndNegativeDurationsProcessNoEvents) {
    int argc = 1;
    char name[] = "midi_test";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    int fired = 0;
    QTimer::singleShot(0, [&] { ++fired; });
    Module1::Wait(0.0f);
    Module1::Wait(-1.0f);
    EXPECT_EQ(fired, 0);

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    Module1::Wait(0.05f);
    EXPECT_EQ(fired, 1) << "pending events run during a wait";
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(50));

    // A handler that waits inside a wait: the outer wait still lasts its own time.
    int inner = 0;
    QTimer::singleShot(5, [&] {
        Module1::Wait(0.02f);
        ++inner;
    });
    const auto outerStart = Clock::now();
    Module1::Wait(0.04f);
    EXPECT_EQ(inner, 1);
    EXPECT_GE(Clock::now() - outerStart, std::chrono::milliseconds(40));
}

}  // namespace
