// Key event -> sound at the sound server, for any program with a window: sends key events through
// XTest to the focused window and finds where the sound starts and falls in a recording of the
// server's monitor. Every sample is timed by when the server handed it over (PulseAudio) or by the
// graph cycle that mixed it (PipeWire), so what is measured is key event -> sample mixed by the
// server (plus, through PulseAudio's protocol, a small capture delay).
//
// Usage: audio_latency MONITOR RATE notes COUNT KEY
//        audio_latency MONITOR RATE chords SECONDS KEY...
// MONITOR is a PulseAudio source (nullsink.monitor), or pipewire:SINK to record that sink through
// PipeWire's own protocol. Under PipeWire the latter is the honest one: the PulseAudio protocol's
// record stream is timed by arrival and drifts by thousands of ppm whenever the graph's quantum
// changes or audio is lost, while PipeWire tells which graph cycle mixed each buffer.
// notes: COUNT single presses of KEY; prints the note-on and note-off latencies (median, 99th).
// chords: all KEYs pressed together, held 400 ms, again and again for SECONDS; prints how many
// gaps (runs of silent samples inside a held chord: underruns) the recording shows; with
// AUDIO_LATENCY_SHOW_GAPS set, each gap's length and place go to stderr.
// A KEY of the form jack:PORT sends MIDI note 57 (velocity 100) to that JACK MIDI port instead:
// input event -> sound, for a program's MIDI input.
//        audio_latency release RATE
// release: the same note-off measure on FluidSynth rendering offline (no latency at all): how
// much of a note-off figure is the piano's own release, to subtract.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <fluidsynth.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <pipewire/pipewire.h>
#include <pulse/simple.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kChunk = 64;

double msSince(Clock::time_point origin, Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(t - origin).count();
}

// The monitor's samples, each chunk stamped with the moment its last sample was there: when it
// arrived (PulseAudio), or when its graph cycle mixed it plus its length (PipeWire).
struct Recording {
    std::mutex lock;
    std::vector<float> samples;
    std::vector<std::pair<std::size_t, Clock::time_point>> chunkEnds;
    double rate = 48000;

    void add(const float* chunk, std::size_t count, Clock::time_point end) {
        std::lock_guard guard(lock);
        samples.insert(samples.end(), chunk, chunk + count);
        chunkEnds.emplace_back(samples.size(), end);
    }

    // The time of sample k, in ms after origin.
    double timeOf(std::size_t k, Clock::time_point origin) {
        const auto it = std::lower_bound(
            chunkEnds.begin(), chunkEnds.end(), k + 1,
            [](const auto& chunk, std::size_t value) { return chunk.first < value; });
        if (it == chunkEnds.end()) return -1;
        return msSince(origin, it->second) - 1000.0 * static_cast<double>(it->first - k) / rate;
    }
    // The first sample of the first chunk that ends at or after time ms.
    std::size_t indexAt(double ms, Clock::time_point origin) {
        std::size_t start = 0;
        for (const auto& [end, when] : chunkEnds) {
            if (msSince(origin, when) >= ms) return start;
            start = end;
        }
        return samples.size();
    }
};

double rms(const std::vector<float>& s, std::size_t from, std::size_t count) {
    double sum = 0;
    for (std::size_t i = from; i < from + count && i < s.size(); ++i) sum += s[i] * s[i];
    return std::sqrt(sum / static_cast<double>(count));
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const std::size_t i =
        static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Time from note-off to the end of the first 10 ms window whose level is 3 dB below the held
// note's, in ms after release.
double releaseTime(const std::vector<float>& s, std::size_t release, double rate,
                   const std::function<double(std::size_t)>& timeOf) {
    const std::size_t window = static_cast<std::size_t>(rate / 100);
    const double held = rms(s, release > 3 * window ? release - 3 * window : 0, 2 * window);
    for (std::size_t i = release; i + window < s.size(); i += window / 20) {
        if (rms(s, i, window) < 0.707 * held) return timeOf(i + window);
    }
    return NAN;
}

int offlineRelease(double rate) {
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.sample-rate", rate);
    fluid_settings_setnum(settings, "synth.gain", 1.0);
    fluid_synth_t* synth = new_fluid_synth(settings);
    fluid_synth_sfload(synth, "/usr/share/sounds/sf2/default-GM.sf2", 1);
    std::vector<double> times;
    for (const int key : {57, 60, 64}) {
        std::vector<float> left(static_cast<std::size_t>(rate)), right(left.size());
        const std::size_t release = static_cast<std::size_t>(0.3 * rate);
        fluid_synth_noteon(synth, 0, key, 100);
        fluid_synth_write_float(synth, static_cast<int>(release), left.data(), 0, 1, right.data(),
                                0, 1);
        fluid_synth_noteoff(synth, 0, key);
        fluid_synth_write_float(synth, static_cast<int>(left.size() - release),
                                left.data() + release, 0, 1, right.data() + release, 0, 1);
        times.push_back(releaseTime(left, release, rate, [&](std::size_t i) {
            return 1000.0 *
                   static_cast<double>(static_cast<std::ptrdiff_t>(i) -
                                       static_cast<std::ptrdiff_t>(release)) /
                   rate;
        }));
        fluid_synth_all_sounds_off(synth, -1);
    }
    std::printf("release ms: %.1f\n", percentile(times, 0.5));
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    return 0;
}

// A JACK client that writes the note asked for at the start of its next cycle.
struct MidiSender {
    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    std::atomic<int> pending{0};  // 1 note-on, 2 note-off

    bool open(const std::string& target) {
        client = jack_client_open("audio_latency", JackNoStartServer, nullptr);
        if (client == nullptr) return false;
        port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(
            client,
            [](jack_nframes_t frames, void* self) {
                auto& s = *static_cast<MidiSender*>(self);
                void* buffer = jack_port_get_buffer(s.port, frames);
                jack_midi_clear_buffer(buffer);
                if (const int what = s.pending.exchange(0)) {
                    const unsigned char message[3] = {
                        0x90, 57, static_cast<unsigned char>(what == 1 ? 100 : 0)};
                    jack_midi_event_write(buffer, 0, message, 3);
                }
                return 0;
            },
            this);
        return jack_activate(client) == 0 &&
               jack_connect(client, jack_port_name(port), target.c_str()) == 0;
    }
};

// A sink's monitor through PipeWire's own protocol, at the quantum asked for. The sample a cycle
// mixes reaches the capture in the next cycle, so each buffer is stamped with the previous
// cycle's start (pw_stream_get_time_n's now, the same monotonic clock as steady_clock).
class PipeWireCapture {
  public:
    ~PipeWireCapture() {
        if (m_loop != nullptr) pw_thread_loop_stop(m_loop);
        if (m_stream != nullptr) pw_stream_destroy(m_stream);
        if (m_core != nullptr) pw_core_disconnect(m_core);
        if (m_context != nullptr) pw_context_destroy(m_context);
        if (m_loop != nullptr) pw_thread_loop_destroy(m_loop);
    }

    bool open(const std::string& sink, Recording& recording, int quantum) {
        m_recording = &recording;
        m_mono.resize(8192);
        m_rate = static_cast<std::uint32_t>(recording.rate);
        pw_init(nullptr, nullptr);
        m_loop = pw_thread_loop_new("capture", nullptr);
        m_context =
            pw_context_new(pw_thread_loop_get_loop(m_loop),
                           pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
        if (m_context == nullptr || pw_thread_loop_start(m_loop) < 0) return false;
        const std::string latency = std::to_string(quantum) + "/" + std::to_string(m_rate);
        pw_thread_loop_lock(m_loop);
        m_core = pw_context_connect(m_context, nullptr, 0);
        if (m_core != nullptr) {
            m_stream = pw_stream_new(
                m_core, "audio_latency",
                pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                                  PW_KEY_NODE_LATENCY, latency.c_str(), PW_KEY_TARGET_OBJECT,
                                  sink.c_str(), PW_KEY_STREAM_CAPTURE_SINK, "true", nullptr));
        }
        bool connected = false;
        if (m_stream != nullptr) {
            m_events.version = PW_VERSION_STREAM_EVENTS;
            m_events.process = [](void* self) { static_cast<PipeWireCapture*>(self)->process(); };
            pw_stream_add_listener(m_stream, &m_listener, &m_events, this);
            std::uint8_t buffer[1024];
            spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
            spa_audio_info_raw info{};
            info.format = SPA_AUDIO_FORMAT_F32;
            info.rate = m_rate;
            info.channels = 2;
            info.position[0] = SPA_AUDIO_CHANNEL_FL;
            info.position[1] = SPA_AUDIO_CHANNEL_FR;
            const spa_pod* params[1] = {
                spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
            const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                            PW_STREAM_FLAG_MAP_BUFFERS |
                                                            PW_STREAM_FLAG_RT_PROCESS);
            connected =
                pw_stream_connect(m_stream, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, 1) == 0;
        }
        pw_thread_loop_unlock(m_loop);
        // Recording once buffers flow.
        for (int i = 0; connected && i < 400 && m_cycles == 0; ++i) sleepMs(5);
        return connected && m_cycles > 0;
    }

    // Graph cycles seen, and how many frames each had (the quantum) at the last one.
    std::atomic<long> m_cycles{0};
    std::atomic<std::uint32_t> m_lastFrames{0};

  private:
    void process() {
        pw_buffer* buffer = pw_stream_dequeue_buffer(m_stream);
        if (buffer == nullptr) return;
        pw_time time{};
        pw_stream_get_time_n(m_stream, &time, sizeof time);
        const spa_data& data = buffer->buffer->datas[0];
        const auto* samples = reinterpret_cast<const float*>(
            static_cast<const std::uint8_t*>(data.data) + data.chunk->offset);
        const std::size_t frames =
            std::min<std::size_t>(data.chunk->size / (2 * sizeof(float)), m_mono.size());
        for (std::size_t i = 0; i < frames; ++i)
            m_mono[i] = 0.5f * (samples[2 * i] + samples[2 * i + 1]);
        const auto length = static_cast<std::int64_t>(1e9 * static_cast<double>(frames) / m_rate);
        // The cycle before this one mixed these samples; after a pause (the first buffer, a
        // stopped graph) it is taken as one buffer's length earlier.
        const std::int64_t previous =
            time.now - m_previousNow <= 2 * length ? m_previousNow : time.now - length;
        m_previousNow = time.now;
        if (frames > 0)
            m_recording->add(m_mono.data(), frames,
                             Clock::time_point(std::chrono::nanoseconds(previous + length)));
        pw_stream_queue_buffer(m_stream, buffer);
        m_lastFrames = static_cast<std::uint32_t>(frames);
        ++m_cycles;
    }

    Recording* m_recording = nullptr;
    std::uint32_t m_rate = 48000;
    std::int64_t m_previousNow = 0;
    std::vector<float> m_mono;
    pw_thread_loop* m_loop = nullptr;
    pw_context* m_context = nullptr;
    pw_core* m_core = nullptr;
    pw_stream* m_stream = nullptr;
    spa_hook m_listener{};
    pw_stream_events m_events{};
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "release") return offlineRelease(std::atof(argv[2]));
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s MONITOR RATE notes COUNT KEY | chords SECONDS KEY...\n",
                     argv[0]);
        return 2;
    }
    const std::string monitor = argv[1];
    Recording rec;
    rec.rate = std::atof(argv[2]);
    const std::string mode = argv[3];
    const int amount = std::atoi(argv[4]);

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    std::vector<KeyCode> keys;
    MidiSender midi;
    const bool viaMidi = std::string(argv[5]).rfind("jack:", 0) == 0;
    if (viaMidi && !midi.open(std::string(argv[5]).substr(5))) {
        std::fprintf(stderr, "cannot send to %s\n", argv[5]);
        return 1;
    }
    for (int i = 5; i < argc && !viaMidi; ++i)
        keys.push_back(XKeysymToKeycode(display, XStringToKeysym(argv[i])));

    // AUDIO_LATENCY_QUANTUM: the frames per graph cycle a PipeWire capture asks for (default
    // 256, what our program asks at 48 kHz), so that recording does not change the quantum.
    const char* quantum = std::getenv("AUDIO_LATENCY_QUANTUM");
    std::atomic<bool> running{true};
    pa_simple* stream = nullptr;
    std::unique_ptr<PipeWireCapture> capture;
    std::thread reader;
    int error = 0;
    // Room for the whole recording, so that appending never copies it, least of all in
    // PipeWire's real-time thread (a copy of megabytes there delays every real-time thread).
    const char* gapEnv = std::getenv("AUDIO_LATENCY_GAP_MS");
    const double noteSeconds = 0.35 + (gapEnv != nullptr ? std::atoi(gapEnv) : 900) / 1000.0;
    const double seconds = (mode == "notes" ? amount * noteSeconds : amount) + 5;
    rec.samples.reserve(static_cast<std::size_t>(seconds * rec.rate));
    rec.chunkEnds.reserve(static_cast<std::size_t>(seconds * rec.rate / 32));
    if (monitor.rfind("pipewire:", 0) == 0) {
        capture = std::make_unique<PipeWireCapture>();
        if (!capture->open(monitor.substr(9), rec, quantum != nullptr ? std::atoi(quantum) : 256)) {
            std::fprintf(stderr, "cannot record %s\n", monitor.c_str());
            return 1;
        }
    } else {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(rec.rate), 1};
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = kChunk * sizeof(float);
        stream = pa_simple_new(nullptr, "audio_latency", PA_STREAM_RECORD, monitor.c_str(),
                               "monitor", &spec, nullptr, &attr, &error);
        if (stream == nullptr) {
            std::fprintf(stderr, "cannot record %s: %d\n", monitor.c_str(), error);
            return 1;
        }
        reader = std::thread([&] {
            float chunk[kChunk];
            while (running) {
                if (pa_simple_read(stream, chunk, sizeof chunk, &error) < 0) break;
                rec.add(chunk, kChunk, Clock::now());
            }
        });
    }

    const auto origin = Clock::now();
    auto press = [&](bool down) {
        const double t = msSince(origin, Clock::now());
        if (viaMidi) midi.pending = down ? 1 : 2;
        for (const KeyCode key : keys) XTestFakeKeyEvent(display, key, down ? True : False, 0);
        XSync(display, False);
        return t;
    };
    sleepMs(800);
    std::vector<std::pair<double, double>> events;  // (down, up) times
    // AUDIO_LATENCY_GAP_MS: the silence between notes (a stream that rests when idle must wake).
    const char* gap = std::getenv("AUDIO_LATENCY_GAP_MS");
    const int gapMs = gap != nullptr ? std::atoi(gap) : 900;
    if (mode == "notes") {
        for (int i = 0; i < amount; ++i) {
            const double down = press(true);
            sleepMs(300 + (i * 7) % 23);  // not locked to the audio period
            const double up = press(false);
            events.emplace_back(down, up);
            sleepMs(gapMs + (i * 13) % 31);
        }
    } else {
        const auto end = Clock::now() + std::chrono::seconds(amount);
        while (Clock::now() < end) {
            const double down = press(true);
            sleepMs(400);
            const double up = press(false);
            events.emplace_back(down, up);
            sleepMs(100);
        }
    }
    sleepMs(500);
    running = false;
    if (reader.joinable()) reader.join();
    if (stream != nullptr) pa_simple_free(stream);
    const long cycles = capture ? capture->m_cycles.load() : 0;
    const std::uint32_t lastFrames = capture ? capture->m_lastFrames.load() : 0;
    capture.reset();
    XCloseDisplay(display);
    if (midi.client != nullptr) jack_client_close(midi.client);

    if (cycles > 0)
        std::fprintf(stderr, "capture: %ld graph cycles, %u frames in the last\n", cycles,
                     lastFrames);
    const std::size_t ms5 = static_cast<std::size_t>(rec.rate / 200);
    if (mode == "notes") {
        std::vector<double> on, off;
        for (const auto& [down, up] : events) {
            // Onset: the first sample well above what was there just before the key.
            const std::size_t start = rec.indexAt(down, origin);
            float before = 0;
            for (std::size_t i = start > 4 * ms5 ? start - 4 * ms5 : 0; i < start; ++i) {
                before = std::max(before, std::fabs(rec.samples[i]));
            }
            const float threshold = std::max(0.002f, 4 * before);
            for (std::size_t i = start; i < rec.samples.size(); ++i) {
                if (std::fabs(rec.samples[i]) > threshold) {
                    on.push_back(rec.timeOf(i, origin) - down);
                    break;
                }
            }
            // Release: the first 5 ms window whose level is half that of the held note.
            const double t = releaseTime(rec.samples, rec.indexAt(up, origin), rec.rate,
                                         [&](std::size_t i) { return rec.timeOf(i, origin) - up; });
            if (!std::isnan(t)) off.push_back(t);
        }
        std::printf("note-on ms: median %.1f, 99th %.1f, n=%zu/%zu\n", percentile(on, 0.5),
                    percentile(on, 0.99), on.size(), events.size());
        std::printf("note-off ms: median %.1f, 99th %.1f, n=%zu/%zu\n", percentile(off, 0.5),
                    percentile(off, 0.99), off.size(), events.size());
    } else {
        int gaps = 0;
        // Whether the buffer adapts: the chords after the first that broke, and their gaps.
        std::optional<std::size_t> firstBroken;
        int gapsAfter = 0;
        const char* showGapsSet = std::getenv("AUDIO_LATENCY_SHOW_GAPS");
        const bool showGaps = showGapsSet != nullptr && *showGapsSet != '\0';
        for (std::size_t chord = 0; chord < events.size(); ++chord) {
            const auto [down, up] = events[chord];
            // From 100 ms after the press to the release, the chord sounds without a break.
            const std::size_t from = rec.indexAt(down + 100, origin);
            const std::size_t to = rec.indexAt(up, origin);
            int silent = 0;
            for (std::size_t i = from; i < to && i < rec.samples.size(); ++i) {
                silent = std::fabs(rec.samples[i]) < 1e-6f ? silent + 1 : 0;
                if (silent == 32) {
                    ++gaps;
                    if (!firstBroken) {
                        firstBroken = chord;
                    } else if (chord > *firstBroken && chord <= *firstBroken + 120) {
                        ++gapsAfter;
                    }
                }
                if (showGaps && silent >= 32 &&
                    (i + 1 >= to || std::fabs(rec.samples[i + 1]) >= 1e-6f)) {
                    // The time on the monotonic clock, beside the program's audio log.
                    const double at =
                        std::chrono::duration<double>(origin.time_since_epoch()).count() +
                        rec.timeOf(i, origin) / 1000;
                    std::fprintf(stderr,
                                 "gap: %d samples, ending %.1f ms after the press of chord %zu, "
                                 "at %.3f s\n",
                                 silent, rec.timeOf(i, origin) - down, chord, at);
                }
            }
        }
        std::printf("chords: %zu, gaps: %d\n", events.size(), gaps);
        if (firstBroken) {
            std::printf("after the first gap: %d gaps in the next %zu chords\n", gapsAfter,
                        std::min<std::size_t>(120, events.size() - *firstBroken - 1));
        }
    }
    return 0;
}
