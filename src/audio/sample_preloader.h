// Loads a large soundfont's samples in the background, so that a later program change finds
// them in memory instead of waiting for the disk.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace audio {

// FluidSynth, when it loads a soundfont sample by sample, reads a preset's samples when the
// preset is selected on a channel (the soundfont's load selects the piano and the drums; each
// program change selects another), on the thread that selects it, never at a note-on and never
// on the rendering thread. Its sample cache is shared by every synthesizer of the process: this
// loader's own silent synthesizer pins the General MIDI presets (banks 0 and 128) one after the
// other, at the lowest ordinary CPU and I/O priority, so that the player's synthesizer later takes
// them from the cache. It holds no lock of the player's synthesizer: a program change made while it
// runs reads only its own preset's samples, as without it.
class SamplePreloader {
  public:
    // Starts after delayMs (the window is shown meanwhile).
    SamplePreloader(std::string soundfont, int delayMs);
    // Stops after the preset being read, and frees the loaded samples the player's synthesizer
    // does not use.
    ~SamplePreloader();
    SamplePreloader(const SamplePreloader&) = delete;
    SamplePreloader& operator=(const SamplePreloader&) = delete;
    // Every preset it could read is in the cache (or the soundfont could not be read).
    bool done() const { return m_done; }

  private:
    void run();
    // Waits up to ms (without end when negative), or until stopping; true when stopping.
    bool waitForStop(int ms);

    std::string m_soundfont;
    int m_delayMs;
    std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stop = false;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

}  // namespace audio
