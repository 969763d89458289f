// The built-in synthesizer, its limiter and its sample loader, rendered offline.
#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "audio_analysis.h"
#include "module1.h"
#include "peak_limiter.h"
#include "sample_preloader.h"
#include "synth_output.h"

namespace {

TEST(SynthEngine, NoteOnMinusThreeSoundsAt220HzAndItsNoteOffSilencesIt) {
    if (audio::defaultSoundfont().empty()) GTEST_SKIP() << "no General MIDI soundfont installed";
    audio::SynthEngine engine({"", false});
    ASSERT_TRUE(engine.ready()) << engine.problem();
    const int rate = static_cast<int>(audio::kSampleRate);
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
    const int rate = static_cast<int>(audio::kSampleRate);
    for (const auto& [soundfont, noteLevel] : std::vector<std::pair<std::string, double>>{
             {"/usr/share/sounds/sf2/TimGM6mb.sf2", -25.4},
             {"/usr/share/sounds/sf2/FluidR3_GM.sf2", NAN}}) {
        if (!std::filesystem::exists(soundfont)) continue;
        auto peakAndRms = [&, &soundfont = soundfont](const std::vector<int>& keys) {
            audio::SynthEngine engine({soundfont, false});
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
        EXPECT_LE(chordPeak, audio::PeakLimiter::kCeiling)
            << soundfont << ": a ten-note chord clips at " << chordLevel << " dBFS RMS";
    }
}

// The limiter leaves what stays below its ceiling exactly as it was, turns a louder stretch down
// before it goes over, and comes back to full gain smoothly, without a step.
TEST(PeakLimiter, TouchesOnlyWhatWouldGoOverAndComesBackWithoutAStep) {
    audio::PeakLimiter limiter(48000);
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
    for (const float v : out) ASSERT_LE(std::fabs(v), audio::PeakLimiter::kCeiling + 1e-6f);

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
    const std::string soundfont = audio::defaultSoundfont();
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
        audio::SamplePreloader preloader(soundfont, 0);
        while (!preloader.done()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        preloaded = bytesReadByProgramChanges();
    }
    const long long afterwards = bytesReadByProgramChanges();
    EXPECT_GT(alone, 64 << 10) << "violin, trumpet and flute samples read from " << soundfont;
    EXPECT_LT(preloaded, alone / 8) << "read from the file although loaded in the background";
    EXPECT_GT(afterwards, 64 << 10) << "the loader kept its samples after it stopped";
}
