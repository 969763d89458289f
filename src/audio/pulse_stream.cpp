// The synthesizer's stream to a PulseAudio server, or to PipeWire through its PulseAudio service:
// the server asks for samples when it needs them (no ALSA plug-in in between), the buffering is
// asked for in milliseconds, and nothing is written while nothing sounds so that the process
// sleeps.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

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

// One step up or down, in whole frames: half as much again, and back.
std::uint32_t grownBuffer(std::uint32_t bytes) {
    return static_cast<std::uint32_t>((bytes * 3 / 2 + kFrameBytes - 1) / kFrameBytes *
                                      kFrameBytes);
}
std::uint32_t shrunkBuffer(std::uint32_t bytes) {
    return static_cast<std::uint32_t>(bytes * 2 / 3 / kFrameBytes * kFrameBytes);
}

// The audio thread asks for real-time priority, as PipeWire's clients do, so that a busy
// machine does not starve the stream.
void tryRealtime() {
    const RealtimeGrant grant = makeThreadRealtime(currentThreadId());
    audioLog(grant.granted ? "audio thread at real-time priority " + grant.how
                           : "no real-time priority for the audio thread: " + grant.how);
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
        audioLog("underrun while silent");
        return;
    }
    m_calmFrames = 0;
    if (m_sinceRaise < static_cast<std::int64_t>(m_rate / 4)) return;
    if (m_buffer >= m_largestBuffer) {
        audioLog("underrun");
        return;
    }
    m_sinceRaise = 0;
    resizeBuffer(std::min(grownBuffer(m_buffer), m_largestBuffer), "underrun: buffer raised to ");
}

// After a long calm the buffer shrinks by the same step, back to what was asked for: a passing
// load does not cost latency for the rest of the session.
void PulseStream::lowerBufferWhenCalm(int frames) {
    m_calmFrames += frames;
    m_sinceRaise += frames;
    if (m_calmFrames < m_calmBeforeLowering) return;
    m_calmFrames = 0;
    if (m_buffer <= m_askedBuffer) return;
    resizeBuffer(std::max(shrunkBuffer(m_buffer), m_askedBuffer), "calm: buffer lowered to ");
}

void PulseStream::resizeBuffer(std::uint32_t bytes, const std::string& why) {
    m_buffer = bytes;
    pa_buffer_attr next = *pa_stream_get_buffer_attr(m_stream);
    next.tlength = bytes;
    next.minreq = bytes / 4;
    next.prebuf = static_cast<std::uint32_t>(-1);
    pa_operation_unref(pa_stream_set_buffer_attr(m_stream, &next, nullptr, nullptr));
    audioLog(why + std::to_string(bytes / kFrameBytes) + " frames");
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
    if (!m_realtimeTried) {
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
    audioLog("silent: the stream rests");
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
