// The built-in synthesizer: FluidSynth with a General MIDI soundfont, played through the
// system's audio or rendered offline. It is one of the MIDI output backends, so this folder
// depends on midi/ and midi/ never on it.
#pragma once

#include <fluidsynth.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio_stream.h"
#include "output_backends.h"
#include "output_device.h"
#include "peak_limiter.h"
#include "sample_preloader.h"

namespace audio {

struct SynthSettings {
    std::string soundfont;  // empty: the system's default General MIDI soundfont
    bool withAudio = true;  // false: no audio driver, for offline rendering
    int audioBufferMs = 0;  // the buffering asked of the sound server; 0: the default
};

// The rate of offline rendering, and of a live synthesizer whose server does not say its own.
inline constexpr double kSampleRate = 44100.0;
// The buffering asked of the sound server when --audio-buffer does not say: short enough that a
// key is heard at once, long enough that an ordinary desktop does not run dry.
inline constexpr int kDefaultAudioBufferMs = 5;
// Without a server, FluidSynth's own driver plays through ALSA in this many periods.
inline constexpr int kAudioPeriods = 3;
// Soundfonts up to this size are loaded whole at start, larger ones as their samples are needed
// (the selected presets' at start, the others in the background from this long after).
inline constexpr std::uintmax_t kWholeSoundfontBytes = 32u << 20;
inline constexpr int kPreloadAfterMs = 1000;
// Silence that lasts this long lets the stream rest until the next note. PipeWire's stream keeps
// running, rendering silence, through a player's usual pauses: waking a resting stream costs the
// first note a graph cycle or more, while running it costs a little CPU.
inline constexpr int kRestAfterMs = 1000;
inline constexpr int kPipeWireRestAfterMs = 15000;

// Owns the FluidSynth objects and frees them in reverse order of creation.
class SynthEngine {
  public:
    // Loads the soundfont and, when asked, opens an audio driver. Check ready() afterwards.
    explicit SynthEngine(const SynthSettings& settings);
    bool ready() const { return m_ready; }
    const std::string& problem() const { return m_problem; }
    const std::string& soundfontPath() const { return m_soundfont; }
    const std::string& audioDriver() const { return m_driverName; }

    void handleShortMessage(std::uint32_t message);
    // Renders stereo float samples without any audio device. Both renderers keep the output
    // below full scale (see PeakLimiter).
    void renderFloat(float* left, float* right, int frames);
    // Renders interleaved stereo; false when the whole block stayed below -80 dBFS.
    bool renderInterleaved(float* samples, int frames);

  private:
    struct SettingsDeleter {
        void operator()(fluid_settings_t* s) const { delete_fluid_settings(s); }
    };
    struct SynthDeleter {
        void operator()(fluid_synth_t* s) const { delete_fluid_synth(s); }
    };
    struct DriverDeleter {
        void operator()(fluid_audio_driver_t* d) const { delete_fluid_audio_driver(d); }
    };
    bool openFluidDriver(int bufferMs);

    // Declared in creation order, so that destruction stops the audio (which calls into the
    // synth) before the synth and its settings are freed.
    std::unique_ptr<fluid_settings_t, SettingsDeleter> m_settings;
    // Used by whichever thread renders; set to the rendering rate before the audio starts.
    PeakLimiter m_limiter{kSampleRate};
    std::unique_ptr<fluid_synth_t, SynthDeleter> m_synth;
    std::unique_ptr<AudioStream> m_stream;
    std::unique_ptr<fluid_audio_driver_t, DriverDeleter> m_driver;
    // Last, so that it stops first.
    std::unique_ptr<SamplePreloader> m_preloader;
    std::string m_soundfont;
    std::string m_driverName;
    std::string m_problem;
    bool m_ready = false;
};

// The path of the system's default General MIDI soundfont, or empty when none is installed.
std::string defaultSoundfont();

class SynthOutput final : public midi::OutputBackend {
  public:
    explicit SynthOutput(SynthSettings settings) : m_settings(std::move(settings)) {}
    bool available() override;
    void send(std::uint32_t message) override;
    void close() override;

  private:
    SynthSettings m_settings;
    std::unique_ptr<SynthEngine> m_engine;
    bool m_tried = false;
};

// The backend a --midi-out value names, the built-in synthesizer among them.
std::unique_ptr<midi::OutputBackend> makeBackend(const midi::OutputSpec& output,
                                                 const SynthSettings& synth);
// What --list-midi-outputs prints, the synthesizer first.
std::vector<std::string> describeOutputs(const SynthSettings& synth);

}  // namespace audio
