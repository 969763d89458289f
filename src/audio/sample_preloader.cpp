#include "sample_preloader.h"

#include <fluidsynth.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <utility>
#include <vector>

#include "audio_log.h"

namespace audio {
namespace {

// The lowest best-effort I/O priority (linux/ioprio.h). Not the idle class: a busy disk could
// starve it for seconds in the middle of a preset, and stopping waits for that preset.
constexpr int kIoprioWhoProcess = 1;
constexpr int kIoprioClassBestEffort = 2;
constexpr int kIoprioLowest = 7;
constexpr int kIoprioClassShift = 13;

void lowestPriority() {
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    // Ordinary scheduling at nice 19 rather than SCHED_IDLE: the thread briefly holds
    // FluidSynth's sample cache lock, which the player's program changes also take, and a
    // SCHED_IDLE thread could be kept off the processor for long while holding it.
    setpriority(PRIO_PROCESS, tid, 19);
    syscall(SYS_ioprio_set, kIoprioWhoProcess, static_cast<int>(tid),
            kIoprioClassBestEffort << kIoprioClassShift | kIoprioLowest);
}

struct SettingsDeleter {
    void operator()(fluid_settings_t* s) const { delete_fluid_settings(s); }
};
struct SynthDeleter {
    void operator()(fluid_synth_t* s) const { delete_fluid_synth(s); }
};

}  // namespace

SamplePreloader::SamplePreloader(std::string soundfont, int delayMs)
    : m_soundfont(std::move(soundfont)), m_delayMs(delayMs), m_thread([this] { run(); }) {}

SamplePreloader::~SamplePreloader() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_stopped.notify_all();
    m_thread.join();
}

bool SamplePreloader::waitForStop(int ms) {
    std::unique_lock lock(m_mutex);
    if (ms < 0) {
        m_stopped.wait(lock, [this] { return m_stop; });
        return true;
    }
    return m_stopped.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stop; });
}

void SamplePreloader::run() {
    lowestPriority();
    if (waitForStop(m_delayMs)) return;
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<fluid_settings_t, SettingsDeleter> settings(new_fluid_settings());
    if (!settings) return;
    fluid_settings_setint(settings.get(), "synth.dynamic-sample-loading", 1);
    // Locked into memory are the samples the player's synthesizer selects, as without this loader.
    fluid_settings_setint(settings.get(), "synth.lock-memory", 0);
    // A synthesizer that never renders: as few voices and effects as it allows.
    fluid_settings_setint(settings.get(), "synth.polyphony", 1);
    fluid_settings_setint(settings.get(), "synth.reverb.active", 0);
    fluid_settings_setint(settings.get(), "synth.chorus.active", 0);
    std::unique_ptr<fluid_synth_t, SynthDeleter> synth(new_fluid_synth(settings.get()));
    if (!synth) return;
    const int id = fluid_synth_sfload(synth.get(), m_soundfont.c_str(), 0);
    fluid_sfont_t* sfont =
        id == FLUID_FAILED ? nullptr : fluid_synth_get_sfont_by_id(synth.get(), id);
    if (sfont == nullptr) {
        audioLog("the background loader could not read " + m_soundfont);
        m_done = true;
        return;
    }
    std::vector<std::pair<int, int>> presets;
    fluid_sfont_iteration_start(sfont);
    while (fluid_preset_t* preset = fluid_sfont_iteration_next(sfont)) {
        const int bank = fluid_preset_get_banknum(preset);
        if (bank == 0 || bank == 128) presets.emplace_back(bank, fluid_preset_get_num(preset));
    }
    std::size_t pinned = 0;
    for (const auto& [bank, program] : presets) {
        if (waitForStop(0)) break;
        if (fluid_synth_pin_preset(synth.get(), id, bank, program) == FLUID_OK) ++pinned;
    }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    audioLog("samples of " + std::to_string(pinned) + " of " + std::to_string(presets.size()) +
             " presets loaded in the background in " + milliseconds(took.count()) + " ms");
    m_done = true;
    // The pinned samples stay in the shared cache while this synthesizer lives.
    waitForStop(-1);
}

}  // namespace audio
