#include "synth_output.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "audio_log.h"
#include "realtime.h"

namespace audio {
namespace {

std::vector<pid_t> threadsOfThisProcess() {
    std::vector<pid_t> threads;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
        threads.push_back(static_cast<pid_t>(std::atoi(entry.path().filename().c_str())));
    }
    return threads;
}

// FluidSynth's driver asks real-time priority for its audio thread itself, directly only; when
// that is refused, the desktop's real-time service is asked for the thread the driver started.
void makeDriverThreadRealtime(const std::vector<pid_t>& before) {
    for (pid_t thread : threadsOfThisProcess()) {
        if (std::find(before.begin(), before.end(), thread) != before.end()) continue;
        if (threadIsRealtime(thread)) {
            audioLog("the driver's audio thread is at real-time priority, by FluidSynth's request");
            continue;
        }
        const RealtimeGrant grant = makeThreadRealtime(thread);
        audioLog(grant.granted
                     ? "the driver's audio thread at real-time priority " + grant.how
                     : "no real-time priority for the driver's audio thread: " + grant.how);
    }
}

}  // namespace

std::string defaultSoundfont() {
    const std::vector<std::string> candidates = {
        "/usr/share/sounds/sf2/default-GM.sf2",
        "/usr/share/sounds/sf2/FluidR3_GM.sf2",
        "/usr/share/sounds/sf2/TimGM6mb.sf2",
        "/usr/share/soundfonts/default.sf2",
    };
    std::error_code error;
    for (const auto& path : candidates) {
        if (std::filesystem::is_regular_file(path, error)) return path;
    }
    return {};
}

SynthEngine::SynthEngine(const SynthSettings& settings) {
    setAudioVerbose(audioVerbose());
    m_settings.reset(new_fluid_settings());
    if (!m_settings) {
        m_problem = "FluidSynth settings could not be created";
        return;
    }
    fluid_settings_t* s = m_settings.get();
    // Full gain: a note as loud as other FluidSynth players make it; with the default soundfont a
    // ten-note chord at the highest velocity still peaks at about -3 dBFS, below clipping (the
    // limiter keeps louder soundfonts there).
    fluid_settings_setnum(s, "synth.gain", 1.0);
    fluid_settings_setint(s, "synth.reverb.active", 1);

    m_soundfont = settings.soundfont.empty() ? defaultSoundfont() : settings.soundfont;
    if (m_soundfont.empty()) {
        m_problem = "no General MIDI soundfont is installed";
        return;
    }
    // Large soundfonts start much faster when samples are loaded as their presets are selected
    // (the others follow in the background, see SamplePreloader); a soundfont small enough to
    // load whole in a few tens of milliseconds is loaded whole, with no loader.
    std::error_code sizeError;
    const auto size = std::filesystem::file_size(m_soundfont, sizeError);
    const bool bySample = !sizeError && size > kWholeSoundfontBytes;
    fluid_settings_setint(s, "synth.dynamic-sample-loading", bySample ? 1 : 0);
    const int bufferMs =
        settings.audioBufferMs > 0 ? settings.audioBufferMs : kDefaultAudioBufferMs;
    double rate = kSampleRate;
    if (settings.withAudio) {
        // The sound server's own protocol first; its rate is the synthesizer's, so that nothing
        // resamples on the way. PipeWire's own protocol has no buffer beyond one graph cycle: it
        // needs a real-time thread. Without one (no real-time service, no rights), PipeWire's
        // PulseAudio service buffers more and breaks up far less under load.
        bool realtime = false;
        m_stream = openPipeWireStream({bufferMs, kPipeWireRestAfterMs}, &realtime);
        if (m_stream && !realtime) {
            audioLog(
                "PipeWire's audio thread got no real-time priority: trying its PulseAudio service");
            if (auto pulse = openPulseStream({bufferMs, kRestAfterMs})) m_stream = std::move(pulse);
        }
        if (!m_stream) m_stream = openPulseStream({bufferMs, kRestAfterMs});
        if (m_stream) rate = m_stream->sampleRate();
    }
    fluid_settings_setnum(s, "synth.sample-rate", rate);
    m_limiter = PeakLimiter(rate);
    m_synth.reset(new_fluid_synth(s));
    if (!m_synth) {
        m_problem = "the synthesizer could not be created";
        return;
    }
    if (fluid_synth_sfload(m_synth.get(), m_soundfont.c_str(), 1) == FLUID_FAILED) {
        m_problem = "the soundfont " + m_soundfont + " could not be loaded";
        return;
    }
    if (settings.withAudio) {
        if (m_stream) {
            m_stream->start(
                [this](float* samples, int frames) { return renderInterleaved(samples, frames); });
            m_driverName = m_stream->description();
        } else if (!openFluidDriver(bufferMs)) {
            m_problem = "no audio output could be opened";
            audioLog(m_problem);
            return;
        }
        audioLog("output: " + m_driverName);
        // The other instruments' samples, so that a program change does not wait for the disk.
        if (bySample) m_preloader = std::make_unique<SamplePreloader>(m_soundfont, kPreloadAfterMs);
    }
    m_ready = true;
}

// Without a sound server: FluidSynth's own drivers, ALSA first (a machine with a sound card and
// no server), the configured default and the rest after it.
bool SynthEngine::openFluidDriver(int bufferMs) {
    fluid_settings_t* s = m_settings.get();
    double rate = kSampleRate;
    fluid_settings_getnum(s, "synth.sample-rate", &rate);
    const int periodSize =
        std::max(64, static_cast<int>(std::lround(bufferMs * rate / 1000.0 / kAudioPeriods)));
    fluid_settings_setint(s, "audio.periods", kAudioPeriods);
    fluid_settings_setint(s, "audio.period-size", periodSize);
    std::vector<std::string> drivers = {"alsa"};
    char* configured = nullptr;
    fluid_settings_dupstr(s, "audio.driver", &configured);
    if (configured != nullptr) {
        if (drivers.front() != configured) drivers.emplace_back(configured);
        fluid_free(configured);
    }
    for (const char* name : {"sdl2", "oss"}) {
        if (std::find(drivers.begin(), drivers.end(), name) == drivers.end())
            drivers.emplace_back(name);
    }
    for (const auto& name : drivers) {
        if (fluid_settings_setstr(s, "audio.driver", name.c_str()) != FLUID_OK) continue;
        const std::vector<pid_t> before = threadsOfThisProcess();
        m_driver.reset(new_fluid_audio_driver(s, m_synth.get()));
        if (m_driver) {
            makeDriverThreadRealtime(before);
            m_driverName = "FluidSynth " + name + " driver, " + std::to_string(kAudioPeriods) +
                           " x " + std::to_string(periodSize) + " frames at " +
                           std::to_string(static_cast<int>(rate)) + " Hz";
            return true;
        }
        audioLog("FluidSynth's " + name + " driver did not open");
    }
    return false;
}

void SynthEngine::handleShortMessage(std::uint32_t message) {
    if (!m_synth) return;
    const int status = static_cast<int>(message & 0xF0);
    const int channel = static_cast<int>(message & 0x0F);
    const int key = static_cast<int>((message >> 8) & 0x7F);
    const int velocity = static_cast<int>((message >> 16) & 0x7F);
    if (status == 0x90 && velocity > 0) {
        fluid_synth_noteon(m_synth.get(), channel, key, velocity);
        if (m_stream) m_stream->wake();
    } else if (status == 0x90 || status == 0x80) {
        fluid_synth_noteoff(m_synth.get(), channel, key);
    } else if (status == 0xC0) {
        fluid_synth_program_change(m_synth.get(), channel, key);
    }
}

void SynthEngine::renderFloat(float* left, float* right, int frames) {
    if (!m_synth) return;
    fluid_synth_write_float(m_synth.get(), frames, left, 0, 1, right, 0, 1);
    m_limiter.processPlanar(left, right, frames);
}

bool SynthEngine::renderInterleaved(float* samples, int frames) {
    fluid_synth_write_float(m_synth.get(), frames, samples, 0, 2, samples, 1, 2);
    m_limiter.processInterleaved(samples, frames);
    // Silent means below -80 dBFS: a voice that has faded that far, or the reverb's last echoes,
    // need not keep the stream awake (a voice counts as active for seconds more).
    for (int i = 0; i < 2 * frames; ++i) {
        if (std::fabs(samples[i]) > 1e-4f) return true;
    }
    return false;
}

bool SynthOutput::available() {
    if (!m_tried) {
        m_tried = true;
        m_engine = std::make_unique<SynthEngine>(m_settings);
    }
    return m_engine->ready();
}

void SynthOutput::send(std::uint32_t message) {
    if (m_engine) m_engine->handleShortMessage(message);
}

void SynthOutput::close() {
    // Frees the audio driver and the synthesizer; a later open builds them again.
    m_engine.reset();
    m_tried = false;
}

std::unique_ptr<midi::OutputBackend> makeBackend(const midi::OutputSpec& output,
                                                 const SynthSettings& synth) {
    return midi::makeBackend(output, [&synth] { return std::make_unique<SynthOutput>(synth); });
}

std::vector<std::string> describeOutputs(const SynthSettings& synth) {
    SynthEngine engine(synth);
    return midi::describeOutputs(
        engine.ready() ? "synth          built-in synthesizer (" + engine.soundfontPath() +
                             ", audio: " + engine.audioDriver() + ")"
                       : "synth          unavailable: " + engine.problem());
}

}  // namespace audio
