// The synthesizer's stream to a PulseAudio server, or to PipeWire through its PulseAudio service:
// the server asks for samples when it needs them (no ALSA plug-in in between), the buffering is
// asked for in milliseconds, and nothing is written while nothing sounds so that the process
// sleeps.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "audio_log.h"
#include "audio_stream.h"
#include "realtime.h"

namespace audio {
namespace {

constexpr int kChannels = 2;
constexpr std::size_t kFrameBytes = kChannels * sizeof(float);
// Underruns raise the buffer up to this (or not at all when --audio-buffer asked for more).
constexpr int kLargestBufferMs = 40;
// Seconds of playing without an underrun before a raised buffer is lowered again.
constexpr int kCalmSeconds = 20;

// The processors' time, all of them together, from /proc/stat: idle and in all, in ticks.
struct ProcessorTimes {
    unsigned long long idle = 0;
    unsigned long long total = 0;
};
ProcessorTimes processorTimes() {
    ProcessorTimes times;
    std::ifstream stat("/proc/stat");
    std::string cpu;
    stat >> cpu;
    if (cpu != "cpu") return times;
    // user nice system idle iowait irq softirq steal
    for (int field = 0; field < 8; ++field) {
        unsigned long long ticks = 0;
        if (!(stat >> ticks)) break;
        times.total += ticks;
        if (field == 3 || field == 4) times.idle += ticks;
    }
    return times;
}
// The share of the processors' time that went idle between two readings. Unknown (no /proc)
// counts as idle, so that the buffer still comes down. The kernel's iowait count can step
// back a little, hence the bounds.
double idleShare(const ProcessorTimes& before, const ProcessorTimes& after) {
    if (after.total <= before.total) return 1.0;
    const double idle = static_cast<double>(after.idle) - static_cast<double>(before.idle);
    return std::clamp(idle / static_cast<double>(after.total - before.total), 0.0, 1.0);
}
// A calm spell lowers the buffer only when at least this share of the processors' time went
// idle during it: on a machine whose every core is kept busy the calm is the raised buffer's
// doing, and the smaller one would break again.
constexpr double kSpareShareToLower = 0.1;

// One step up or down, in whole frames: half as much again, and back.
std::uint32_t grownBuffer(std::uint32_t bytes) {
    return static_cast<std::uint32_t>((bytes * 3 / 2 + kFrameBytes - 1) / kFrameBytes *
                                      kFrameBytes);
}
std::uint32_t shrunkBuffer(std::uint32_t bytes) {
    return static_cast<std::uint32_t>(bytes * 2 / 3 / kFrameBytes * kFrameBytes);
}

// The audio thread asks for real-time priority, as PipeWire's clients do, so that a busy
// machine does not starve the stream. The log names the thread as the kernel knows it
// ("threaded-ml", the main loop's).
void tryRealtime() {
    std::string name;
    std::getline(std::ifstream("/proc/thread-self/comm"), name);
    const RealtimeGrant grant = makeThreadRealtime(currentThreadId());
    audioLog(grant.granted
                 ? "audio thread " + name + " at real-time priority " + grant.how
                 : "no real-time priority for the audio thread " + name + ": " + grant.how);
}

class PulseStream final : public AudioStream {
  public:
    ~PulseStream() override;
    bool connect(const AudioRequest& request);

    double sampleRate() const override { return m_rate; }
    bool start(RenderFunction render) override;
    void wake() override;
    std::string description() const override { return m_description; }

  private:
    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);
    static void onWrite(pa_stream* stream, std::size_t bytes, void* self);
    static void onUnderflow(pa_stream* stream, void* self);
    void raiseBuffer();
    void lowerBufferWhenCalm(int frames);
    void resizeBuffer(std::uint32_t bytes, const std::string& why);
    void write(std::size_t bytes);
    void signal() { pa_threaded_mainloop_signal(m_loop, 0); }
    bool waitForServer();
    // " at 12345.678 s": when a line of the audio log happened, in seconds of the system's
    // monotonic clock, which the sound bench also stamps the gaps it hears with.
    static std::string at();

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    RenderFunction m_render;
    double m_rate = 48000;
    std::string m_server;
    std::string m_description;
    std::int64_t m_restFrames = 0;
    std::uint32_t m_largestBuffer = 0;  // bytes
    std::uint32_t m_askedBuffer = 0;    // bytes
    // The size last asked of the server (bytes): each step goes from it, not from the size the
    // server reports, which lags behind a resize and is rounded.
    std::uint32_t m_buffer = 0;
    // An underrun within this many frames of a raise is the same dropout, not a new one.
    std::int64_t m_sinceRaise = 0;
    std::int64_t m_calmFrames = 0;
    std::int64_t m_calmBeforeLowering = 0;
    ProcessorTimes m_calmStart;  // when the calm spell began
    // Owned by the main loop's thread (its lock held).
    std::int64_t m_quietFrames = 0;
    bool m_idle = true;  // nothing is written until the first note
    bool m_realtimeTried = false;
    bool m_infoDone = false;
    // Shared with the program's thread without the lock; see wake().
    std::atomic<bool> m_resting{true};
    std::atomic<bool> m_woken{false};
};

PulseStream::~PulseStream() {
    if (m_loop == nullptr) return;
    pa_threaded_mainloop_stop(m_loop);
    if (m_stream != nullptr) {
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
    }
    if (m_context != nullptr) {
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
    }
    pa_threaded_mainloop_free(m_loop);
}

void PulseStream::onContextState(pa_context*, void* self) {
    static_cast<PulseStream*>(self)->signal();
}
void PulseStream::onStreamState(pa_stream*, void* self) {
    static_cast<PulseStream*>(self)->signal();
}

void PulseStream::onServerInfo(pa_context*, const pa_server_info* info, void* self) {
    auto* stream = static_cast<PulseStream*>(self);
    if (info != nullptr) {
        stream->m_rate = info->sample_spec.rate;
        stream->m_server = std::string(info->server_name) + " " + info->server_version;
    }
    stream->m_infoDone = true;
    stream->signal();
}

std::string PulseStream::at() {
    const std::chrono::duration<double> now = std::chrono::steady_clock::now().time_since_epoch();
    char text[32];
    std::snprintf(text, sizeof text, " at %.3f s", now.count());
    return text;
}

void PulseStream::onUnderflow(pa_stream*, void* self) {
    static_cast<PulseStream*>(self)->raiseBuffer();
}

// A machine too busy for the buffer asked for (no real-time rights, heavy load, a server that
// wakes late): the buffer grows by half at each underrun that could be heard, up to a limit, so
// that one dropout is not followed by many, and settles near the smallest buffer that holds.
// An underrun while the synthesizer was silent (a fading tail, a pause) is not heard and
// changes nothing.
void PulseStream::raiseBuffer() {
    if (m_idle) return;  // a resting stream runs dry on purpose
    if (m_quietFrames > 0) {
        audioLog("underrun while silent" + at());
        return;
    }
    m_calmFrames = 0;
    m_calmStart = processorTimes();
    if (m_sinceRaise < static_cast<std::int64_t>(m_rate / 4)) {
        audioLog("underrun, the same dropout" + at());
        return;
    }
    if (m_buffer >= m_largestBuffer) {
        audioLog("underrun" + at());
        return;
    }
    m_sinceRaise = 0;
    resizeBuffer(std::min(grownBuffer(m_buffer), m_largestBuffer), "underrun: buffer raised to ");
}

// After a long calm the buffer shrinks by the same step, back to what was asked for: a passing
// load does not cost latency for the rest of the session. A load that stays (every core busy
// through the calm) keeps the buffer where it holds, rather than breaking it again to try.
void PulseStream::lowerBufferWhenCalm(int frames) {
    m_calmFrames += frames;
    m_sinceRaise += frames;
    if (m_calmFrames < m_calmBeforeLowering) return;
    m_calmFrames = 0;
    const ProcessorTimes now = processorTimes();
    const double idle = idleShare(m_calmStart, now);
    m_calmStart = now;
    if (m_buffer <= m_askedBuffer) return;
    if (idle < kSpareShareToLower) {
        audioLog("calm, but the processors were " + std::to_string(std::lround(100 * (1 - idle))) +
                 " % busy: buffer kept at " + std::to_string(m_buffer / kFrameBytes) + " frames" +
                 at());
        return;
    }
    resizeBuffer(std::max(shrunkBuffer(m_buffer), m_askedBuffer), "calm: buffer lowered to ");
}

void PulseStream::resizeBuffer(std::uint32_t bytes, const std::string& why) {
    m_buffer = bytes;
    pa_buffer_attr next = *pa_stream_get_buffer_attr(m_stream);
    next.tlength = bytes;
    next.minreq = bytes / 4;
    next.prebuf = static_cast<std::uint32_t>(-1);
    pa_operation_unref(pa_stream_set_buffer_attr(m_stream, &next, nullptr, nullptr));
    audioLog(why + std::to_string(bytes / kFrameBytes) + " frames" + at());
}

bool PulseStream::waitForServer() {
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(m_context);
        if (state == PA_CONTEXT_READY) return true;
        if (!PA_CONTEXT_IS_GOOD(state)) return false;
        pa_threaded_mainloop_wait(m_loop);
    }
}

bool PulseStream::connect(const AudioRequest& request) {
    m_loop = pa_threaded_mainloop_new();
    if (m_loop == nullptr) return false;
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "ムルテカ");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "muruteka");
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "music");
    m_context =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), "ムルテカ", properties);
    pa_proplist_free(properties);
    if (m_context == nullptr) return false;
    pa_context_set_state_callback(m_context, onContextState, this);
    // A program that only wants to play must not start a sound server of its own.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        audioLog(std::string("no PulseAudio server: ") + pa_strerror(pa_context_errno(m_context)));
        return false;
    }
    pa_threaded_mainloop_lock(m_loop);
    if (pa_threaded_mainloop_start(m_loop) < 0 || !waitForServer()) {
        audioLog(std::string("no PulseAudio server: ") + pa_strerror(pa_context_errno(m_context)));
        pa_threaded_mainloop_unlock(m_loop);
        return false;
    }
    if (pa_operation* op = pa_context_get_server_info(m_context, onServerInfo, this)) {
        while (!m_infoDone) pa_threaded_mainloop_wait(m_loop);
        pa_operation_unref(op);
    }
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(m_rate), kChannels};
    m_stream = pa_stream_new(m_context, "ムルテカ", &spec, nullptr);
    bool ready = false;
    if (m_stream != nullptr) {
        pa_stream_set_state_callback(m_stream, onStreamState, this);
        pa_stream_set_write_callback(m_stream, onWrite, this);
        pa_stream_set_underflow_callback(m_stream, onUnderflow, this);
        // The whole latency (our buffer and the server's) is what we ask for; the server
        // requests a refill when a quarter of it has played.
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(request.bufferMs * 1000, &spec));
        attr.prebuf = static_cast<std::uint32_t>(-1);
        attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(request.bufferMs * 250, &spec));
        attr.fragsize = static_cast<std::uint32_t>(-1);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY);
        if (pa_stream_connect_playback(m_stream, nullptr, &attr, flags, nullptr, nullptr) == 0) {
            for (;;) {
                const pa_stream_state_t state = pa_stream_get_state(m_stream);
                if (state == PA_STREAM_READY) {
                    ready = true;
                    break;
                }
                if (!PA_STREAM_IS_GOOD(state)) break;
                pa_threaded_mainloop_wait(m_loop);
            }
        }
    }
    if (ready) {
        const pa_buffer_attr* granted = pa_stream_get_buffer_attr(m_stream);
        const auto frames = granted->tlength / kFrameBytes;
        m_description = "PulseAudio protocol (" + m_server + "), " + std::to_string(frames) +
                        " frames = " + milliseconds(frames * 1000.0 / m_rate) + " ms at " +
                        std::to_string(static_cast<int>(m_rate)) + " Hz";
        m_restFrames = static_cast<std::int64_t>(m_rate * request.restAfterMs / 1000);
        m_askedBuffer = m_buffer = granted->tlength;
        m_sinceRaise = static_cast<std::int64_t>(m_rate);
        m_calmBeforeLowering = static_cast<std::int64_t>(m_rate * kCalmSeconds);
        m_calmStart = processorTimes();
        m_largestBuffer =
            std::max(granted->tlength,
                     static_cast<std::uint32_t>(pa_usec_to_bytes(kLargestBufferMs * 1000, &spec)));
    } else {
        audioLog(std::string("the PulseAudio stream did not open: ") +
                 pa_strerror(pa_context_errno(m_context)));
    }
    pa_threaded_mainloop_unlock(m_loop);
    return ready;
}

bool PulseStream::start(RenderFunction render) {
    pa_threaded_mainloop_lock(m_loop);
    m_render = std::move(render);
    pa_threaded_mainloop_unlock(m_loop);
    return true;
}

void PulseStream::onWrite(pa_stream*, std::size_t bytes, void* self) {
    static_cast<PulseStream*>(self)->write(bytes);
}

void PulseStream::write(std::size_t bytes) {
    // Resting, nothing is written: the server plays the little that is buffered, then asks no
    // more, and this thread sleeps. The stream stays uncorked, so the server keeps the short
    // latency we asked for, ready for the next note.
    if (m_idle) return;
    // The first note's block is written by the program's thread (see wake()); the real-time
    // request is for the main loop's thread, which writes every block after it.
    if (!m_realtimeTried && pa_threaded_mainloop_in_thread(m_loop) != 0) {
        m_realtimeTried = true;
        tryRealtime();
    }
    bool sounding = false;
    while (bytes >= kFrameBytes) {
        void* data = nullptr;
        std::size_t size = bytes;
        if (pa_stream_begin_write(m_stream, &data, &size) < 0 || data == nullptr) return;
        const int frames = static_cast<int>(std::min(size, bytes) / kFrameBytes);
        float* samples = static_cast<float*>(data);
        if (m_render) {
            sounding = m_render(samples, frames) || sounding;
        } else {
            std::fill(samples, samples + frames * kChannels, 0.0f);
        }
        pa_stream_write(m_stream, data, frames * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE);
        bytes -= frames * kFrameBytes;
        m_quietFrames = sounding ? 0 : m_quietFrames + frames;
        lowerBufferWhenCalm(frames);
    }
    if (m_quietFrames < m_restFrames) return;
    // Resting: declared first, then a note that came in meanwhile is looked for (see wake()).
    m_resting = true;
    if (m_woken.exchange(false)) {
        m_resting = false;
        m_quietFrames = 0;
        return;
    }
    m_idle = true;
    audioLog("silent: the stream rests" + at());
}

void PulseStream::wake() {
    // Either the writer sees this flag before it decides to rest, or it has already declared
    // the rest and writing starts again here; the note is never left waiting.
    m_woken = true;
    if (!m_resting) return;
    pa_threaded_mainloop_lock(m_loop);
    m_resting = false;
    if (m_idle && m_stream != nullptr) {
        m_idle = false;
        m_quietFrames = 0;
        audioLog("a note: the stream plays again" + at());
        // The buffer has run dry: filled at once, and playing starts as soon as it is full.
        write(pa_stream_writable_size(m_stream));
    }
    pa_threaded_mainloop_unlock(m_loop);
}

}  // namespace

std::unique_ptr<AudioStream> openPulseStream(const AudioRequest& request) {
    auto stream = std::make_unique<PulseStream>();
    if (!stream->connect(request)) return nullptr;
    return stream;
}

}  // namespace audio
