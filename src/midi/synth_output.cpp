#include "synth_output.h"

#include <filesystem>
#include <vector>

namespace midi {
namespace {

// FluidSynth reports every audio driver that fails to open; the program reports the outcome itself.
void quietFluidLogs() {
    static const bool once = [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
            fluid_set_log_function(level, nullptr, nullptr);
        }
        return true;
    }();
    (void)once;
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
    quietFluidLogs();
    m_settings.reset(new_fluid_settings());
    if (!m_settings) {
        m_problem = "FluidSynth settings could not be created";
        return;
    }
    fluid_settings_t* s = m_settings.get();
    fluid_settings_setnum(s, "synth.sample-rate", kSampleRate);
    fluid_settings_setnum(s, "synth.gain", 0.6);
    fluid_settings_setint(s, "synth.reverb.active", 1);
    fluid_settings_setint(s, "audio.periods", kAudioPeriods);
    fluid_settings_setint(s, "audio.period-size", kAudioPeriodSize);
    // Large soundfonts start much faster when samples are loaded as they are first needed.
    fluid_settings_setint(s, "synth.dynamic-sample-loading", 1);

    m_soundfont = settings.soundfont.empty() ? defaultSoundfont() : settings.soundfont;
    if (m_soundfont.empty()) {
        m_problem = "no General MIDI soundfont is installed";
        return;
    }
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
        // The configured default first, then the drivers a Linux desktop usually has.
        char* configured = nullptr;
        fluid_settings_dupstr(s, "audio.driver", &configured);
        std::vector<std::string> drivers;
        if (configured != nullptr) {
            drivers.emplace_back(configured);
            fluid_free(configured);
        }
        for (const char* name : {"pipewire", "pulseaudio", "alsa", "sdl2", "oss"}) {
            if (drivers.empty() || drivers.front() != name) drivers.emplace_back(name);
        }
        for (const auto& name : drivers) {
            if (fluid_settings_setstr(s, "audio.driver", name.c_str()) != FLUID_OK) continue;
            m_driver.reset(new_fluid_audio_driver(s, m_synth.get()));
            if (m_driver) {
                m_driverName = name;
                break;
            }
        }
        if (!m_driver) {
            m_problem = "no audio output could be opened";
            return;
        }
    }
    m_ready = true;
}

void SynthEngine::handleShortMessage(std::uint32_t message) {
    if (!m_synth) return;
    const int status = static_cast<int>(message & 0xF0);
    const int channel = static_cast<int>(message & 0x0F);
    const int key = static_cast<int>((message >> 8) & 0x7F);
    const int velocity = static_cast<int>((message >> 16) & 0x7F);
    if (status == 0x90 && velocity > 0) {
        fluid_synth_noteon(m_synth.get(), channel, key, velocity);
    } else if (status == 0x90 || status == 0x80) {
        fluid_synth_noteoff(m_synth.get(), channel, key);
    }
}

void SynthEngine::renderFloat(float* left, float* right, int frames) {
    if (m_synth) fluid_synth_write_float(m_synth.get(), frames, left, 0, 1, right, 0, 1);
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

}  // namespace midi
