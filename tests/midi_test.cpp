#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>
#include <vector>

#include "audio_analysis.h"
#include "module1.h"
#include "output_backends.h"
#include "recording_backend.h"
#include "sample_preloader.h"
#include "synth_output.h"

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

TEST(SynthEngine, NoteOnMinusThreeSoundsAt220HzAndItsNoteOffSilencesIt) {
    if (midi::defaultSoundfont().empty()) GTEST_SKIP() << "no General MIDI soundfont installed";
    midi::SynthEngine engine({"", false});
    ASSERT_TRUE(engine.ready()) << engine.problem();
    const int rate = static_cast<int>(midi::kSampleRate);
    auto render = [&](int frames) {
        std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size());
        engine.renderFloat(left.data(), right.data(), frames);
        return left;
    };
    // The program's own messages: NoteOn(-3) and NoteOff(-3) on channel 0.
    engine.handleShortMessage(*Module1::PackNoteMessage(-3, 0, true));
    render(rate / 10);  // the attack
    const auto sounding = render(rate / 2);
    EXPECT_NEAR(testing_support::Fundamental(sounding, rate), 220.0, 6.0);
    EXPECT_GT(testing_support::Rms(sounding), 0.01);

    engine.handleShortMessage(*Module1::PackNoteMessage(-3, 0, false));
    render(rate * 2);  // the release tail
    EXPECT_LT(testing_support::Rms(render(rate / 4)), testing_support::Rms(sounding) / 100);
}

// A single note as loud as other FluidSynth players make it (full synth gain: its fundamental's
// level written out from a render at gain 1.0, -25.4 dBFS, with the soundfont the package brings
// first), and the loudest thing the keyboard can do, ten keys struck at once at velocity 127,
// still below full scale: by itself with that soundfont, through the limiter with a louder one.
TEST(SynthEngine, ANoteIsAtFullGainAndATenNoteChordDoesNotClip) {
    const int rate = static_cast<int>(midi::kSampleRate);
    for (const auto& [soundfont, noteLevel] : std::vector<std::pair<std::string, double>>{
             {"/usr/share/sounds/sf2/TimGM6mb.sf2", -25.4},
             {"/usr/share/sounds/sf2/FluidR3_GM.sf2", NAN}}) {
        if (!std::filesystem::exists(soundfont)) continue;
        auto peakAndRms = [&, &soundfont = soundfont](const std::vector<int>& keys) {
            midi::SynthEngine engine({soundfont, false});
            for (const int key : keys)
                engine.handleShortMessage(0x7F0090u | static_cast<std::uint32_t>(key) << 8);
            std::vector<float> left(static_cast<std::size_t>(rate)), right(left.size());
            engine.renderFloat(left.data(), right.data(), rate);
            float peak = 0;
            for (std::size_t i = 0; i < left.size(); ++i)
                peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
            left.resize(static_cast<std::size_t>(rate / 2));
            return std::pair{peak, 20 * std::log10(testing_support::Rms(left))};
        };
        if (!std::isnan(noteLevel)) {
            EXPECT_NEAR(peakAndRms({57}).second, noteLevel, 1.0) << soundfont;
        }
        // Ten neighbouring white and black keys around A3.
        const auto [chordPeak, chordLevel] = peakAndRms({57, 59, 60, 62, 64, 65, 67, 69, 71, 72});
        EXPECT_LE(chordPeak, midi::PeakLimiter::kCeiling)
            << soundfont << ": a ten-note chord clips at " << chordLevel << " dBFS RMS";
    }
}

// The limiter leaves what stays below its ceiling exactly as it was, turns a louder stretch down
// before it goes over, and comes back to full gain smoothly, without a step.
TEST(PeakLimiter, TouchesOnlyWhatWouldGoOverAndComesBackWithoutAStep) {
    midi::PeakLimiter limiter(48000);
    auto tone = [](float amplitude, int frames) {
        std::vector<float> samples(2 * static_cast<std::size_t>(frames));
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = amplitude * static_cast<float>(std::sin(M_PI * 440 * i / 48000));
        return samples;
    };
    auto out = tone(0.7f, 4800);
    limiter.processInterleaved(out.data(), 4800);
    EXPECT_EQ(out, tone(0.7f, 4800));
    out = tone(1.4f, 4800);
    limiter.processInterleaved(out.data(), 4800);
    for (const float v : out) ASSERT_LE(std::fabs(v), midi::PeakLimiter::kCeiling + 1e-6f);

    // Back to 0.5: the gain climbs back within half a second, in small steps.
    const auto input = tone(0.5f, 48000);
    out = input;
    for (int done = 0; done < 48000; done += 240) limiter.processInterleaved(&out[2 * done], 240);
    double lastGain = NAN;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (std::fabs(input[i]) < 0.1f) continue;
        if (!std::isnan(lastGain)) {
            ASSERT_NEAR(out[i] / input[i], lastGain, 0.01) << "at " << i;
        }
        lastGain = out[i] / input[i];
    }
    EXPECT_EQ(std::vector<float>(out.end() - 960, out.end()),
              std::vector<float>(input.end() - 960, input.end()));  // full gain again
}

}  // namespace

// What this thread read from files so far (/proc/thread-self/io, rchar).
static long long bytesReadByThisThread() {
    std::ifstream io("/proc/thread-self/io");
    std::string name;
    long long value = 0;
    while (io >> name >> value) {
        if (name == "rchar:") return value;
    }
    return -1;
}

// Samples loaded as first needed: a program change reads its preset's samples from the soundfont
// file, unless the background loader has put them in FluidSynth's shared cache, and only while
// the loader lives.
TEST(SamplePreloader, ProgramChangesReadNoSamplesFromTheFileWhileItHoldsThem) {
    const std::string soundfont = midi::defaultSoundfont();
    if (soundfont.empty()) GTEST_SKIP() << "no General MIDI soundfont installed";
    auto bytesReadByProgramChanges = [&] {
        fluid_settings_t* settings = new_fluid_settings();
        fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
        fluid_synth_t* synth = new_fluid_synth(settings);
        EXPECT_NE(fluid_synth_sfload(synth, soundfont.c_str(), 0), FLUID_FAILED);
        const long long before = bytesReadByThisThread();
        for (const int program : {40, 56, 73}) fluid_synth_program_change(synth, 0, program);
        const long long read = bytesReadByThisThread() - before;
        delete_fluid_synth(synth);
        delete_fluid_settings(settings);
        return read;
    };
    const long long alone = bytesReadByProgramChanges();
    long long preloaded = 0;
    {
        midi::SamplePreloader preloader(soundfont, 0);
        while (!preloader.done()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        preloaded = bytesReadByProgramChanges();
    }
    const long long afterwards = bytesReadByProgramChanges();
    EXPECT_GT(alone, 64 << 10) << "violin, trumpet and flute samples read from " << soundfont;
    EXPECT_LT(preloaded, alone / 8) << "read from the file although loaded in the background";
    EXPECT_GT(afterwards, 64 << 10) << "the loader kept its samples after it stopped";
}
