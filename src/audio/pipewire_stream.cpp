// The synthesizer's stream to PipeWire through its own protocol: PipeWire calls us once per graph
// cycle, and the cycle is as short as the node latency we ask for (PipeWire's PulseAudio service
// would not go below 256 frames). While nothing sounds the stream is inactive, so the graph does
// not call us and the process sleeps.
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "audio_log.h"
#include "audio_stream.h"
#include "realtime.h"

namespace audio {
namespace {

constexpr int kChannels = 2;
constexpr std::uint32_t kRate = 48000;  // PipeWire's usual graph rate; others are converted
constexpr int kStride = kChannels * sizeof(float);

class PipeWireStream final : public AudioStream {
  public:
    ~PipeWireStream() override;
    bool connect(const AudioRequest& request);

    double sampleRate() const override { return kRate; }
    bool start(RenderFunction render) override;
    void wake() override;
    std::string description() const override { return m_description; }
    // Runs the stream for one cycle, silent, and tells whether PipeWire's data thread, which
    // renders the sound, got real-time priority.
    bool probeRealtime();

  private:
    static void onStateChanged(void* self, pw_stream_state old, pw_stream_state state,
                               const char* error);
    static void onProcess(void* self);
    static int rest(spa_loop* loop, bool async, std::uint32_t seq, const void* data,
                    std::size_t size, void* self);
    void process();

    pw_thread_loop* m_loop = nullptr;
    pw_context* m_context = nullptr;
    pw_core* m_core = nullptr;
    pw_stream* m_stream = nullptr;
    spa_hook m_listener{};
    pw_stream_events m_events{};
    RenderFunction m_render;
    std::string m_description;
    std::int64_t m_restFrames = 0;
    // Owned by the real-time thread that calls process().
    std::int64_t m_quietFrames = 0;
    // Owned by the loop's thread (its lock held).
    bool m_active = false;
    // Shared with the program's thread without the lock; see wake().
    std::atomic<bool> m_resting{true};
    std::atomic<bool> m_woken{false};
    std::atomic<bool> m_restAsked{false};
    std::atomic<int> m_realtime{-1};  // -1: not known yet
    std::atomic<pid_t> m_dataThread{0};
};

PipeWireStream::~PipeWireStream() {
    if (m_loop == nullptr) return;
    pw_thread_loop_stop(m_loop);
    if (m_stream != nullptr) pw_stream_destroy(m_stream);
    if (m_core != nullptr) pw_core_disconnect(m_core);
    if (m_context != nullptr) pw_context_destroy(m_context);
    pw_thread_loop_destroy(m_loop);
}

void PipeWireStream::onStateChanged(void* self, pw_stream_state, pw_stream_state state,
                                    const char* error) {
    auto* stream = static_cast<PipeWireStream*>(self);
    if (state == PW_STREAM_STATE_ERROR)
        audioLog(std::string("PipeWire stream error: ") + (error ? error : "?"));
    pw_thread_loop_signal(stream->m_loop, false);
}

bool PipeWireStream::connect(const AudioRequest& request) {
    pw_init(nullptr, nullptr);
    quietPipeWire();
    m_loop = pw_thread_loop_new("muruteka-audio", nullptr);
    if (m_loop == nullptr) return false;
    // PipeWire runs the graph in the largest power-of-two quantum that fits the smallest latency
    // asked for, so we ask for the power of two nearest the buffer asked: 5 ms gives 256 frames
    // (5.3 ms), and a note waits at most one quantum. 128 frames were about a millisecond faster,
    // but the stream broke up under load whenever the machine woke its real-time thread a few
    // milliseconds late (see docs/measurements.md).
    const double asked = std::max(32.0, request.bufferMs * static_cast<double>(kRate) / 1000.0);
    const int latencyFrames = 1 << static_cast<int>(std::lround(std::log2(asked)));
    const std::string latency = std::to_string(latencyFrames) + "/" + std::to_string(kRate);
    pw_properties* properties = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE, "Music",
        PW_KEY_APP_NAME, "ムルテカ", PW_KEY_APP_ID, "muruteka", PW_KEY_NODE_NAME, "muruteka",
        PW_KEY_NODE_LATENCY, latency.c_str(), nullptr);
    m_events.version = PW_VERSION_STREAM_EVENTS;
    m_events.state_changed = onStateChanged;
    m_events.process = onProcess;

    std::uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32;
    info.rate = kRate;
    info.channels = kChannels;
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};

    // The real-time client configuration: its data thread, which calls process(), asks for
    // real-time priority (directly or through the desktop's real-time service).
    m_context = pw_context_new(pw_thread_loop_get_loop(m_loop),
                               pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    if (m_context == nullptr || pw_thread_loop_start(m_loop) < 0) {
        pw_properties_free(properties);
        return false;
    }
    pw_thread_loop_lock(m_loop);
    m_core = pw_context_connect(m_context, nullptr, 0);
    if (m_core == nullptr) {
        pw_properties_free(properties);
        pw_thread_loop_unlock(m_loop);
        audioLog("no PipeWire server");
        return false;
    }
    m_stream = pw_stream_new(m_core, "ムルテカ", properties);
    if (m_stream == nullptr) {
        pw_thread_loop_unlock(m_loop);
        return false;
    }
    pw_stream_add_listener(m_stream, &m_listener, &m_events, this);
    // Inactive from the start: the stream rests until the first note.
    const auto flags =
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                     PW_STREAM_FLAG_RT_PROCESS | PW_STREAM_FLAG_INACTIVE);
    bool ready = false;
    if (pw_stream_connect(m_stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) == 0) {
        // Connected once the session manager has linked it to a sink; without a server the
        // stream fails at once, without a session manager it never links.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (std::chrono::steady_clock::now() < deadline) {
            const char* error = nullptr;
            const pw_stream_state state = pw_stream_get_state(m_stream, &error);
            if (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING) {
                ready = true;
                break;
            }
            if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) break;
            pw_thread_loop_timed_wait(m_loop, 1);
        }
    }
    if (!ready) audioLog("no PipeWire server, or its stream did not connect");
    pw_thread_loop_unlock(m_loop);
    if (!ready) return false;
    m_restFrames = static_cast<std::int64_t>(kRate) * request.restAfterMs / 1000;
    m_description = std::string("PipeWire ") + pw_get_library_version() +
                    ", native protocol, node latency " + std::to_string(latencyFrames) +
                    " frames = " + milliseconds(latencyFrames * 1000.0 / kRate) + " ms at " +
                    std::to_string(kRate) + " Hz";
    return true;
}

bool PipeWireStream::start(RenderFunction render) {
    pw_thread_loop_lock(m_loop);
    m_render = std::move(render);
    pw_thread_loop_unlock(m_loop);
    return true;
}

void PipeWireStream::onProcess(void* self) {
    static_cast<PipeWireStream*>(self)->process();
}

void PipeWireStream::process() {
    if (m_realtime < 0) {
        m_dataThread = currentThreadId();
        m_realtime = threadIsRealtime(0) ? 1 : 0;
        pw_thread_loop_signal(m_loop, false);
    }
    pw_buffer* buffer = pw_stream_dequeue_buffer(m_stream);
    if (buffer == nullptr) return;
    spa_data& data = buffer->buffer->datas[0];
    if (data.data == nullptr) return;
    auto frames = static_cast<int>(data.maxsize / kStride);
    if (buffer->requested > 0) frames = std::min(frames, static_cast<int>(buffer->requested));
    auto* samples = static_cast<float*>(data.data);
    const bool sounding = m_render ? m_render(samples, frames) : false;
    if (!m_render) std::fill(samples, samples + frames * kChannels, 0.0f);
    data.chunk->offset = 0;
    data.chunk->stride = kStride;
    data.chunk->size = static_cast<std::uint32_t>(frames * kStride);
    pw_stream_queue_buffer(m_stream, buffer);
    m_quietFrames = sounding ? 0 : m_quietFrames + frames;
    if (m_quietFrames >= m_restFrames && !m_restAsked.exchange(true)) {
        // Deactivating is a call for the loop's thread, not for this real-time one.
        pw_loop_invoke(pw_thread_loop_get_loop(m_loop), rest, 0, nullptr, 0, false, this);
    }
}

int PipeWireStream::rest(spa_loop*, bool, std::uint32_t, const void*, std::size_t, void* self) {
    auto* stream = static_cast<PipeWireStream*>(self);
    stream->m_restAsked = false;
    // Resting: declared first, then a note that came in meanwhile is looked for (see wake()).
    stream->m_resting = true;
    if (stream->m_woken.exchange(false)) {
        stream->m_resting = false;
        return 0;
    }
    if (stream->m_active) {
        stream->m_active = false;
        pw_stream_set_active(stream->m_stream, false);
        audioLog("silent: the stream rests");
    }
    return 0;
}

void PipeWireStream::wake() {
    // Either rest() sees this flag before it deactivates the stream, or it has already declared
    // the rest and the stream is activated here; the note is never left waiting.
    m_woken = true;
    if (!m_resting) return;
    pw_thread_loop_lock(m_loop);
    if (!m_active) {
        m_active = true;
        pw_stream_set_active(m_stream, true);
    }
    m_resting = false;
    pw_thread_loop_unlock(m_loop);
}

}  // namespace

bool PipeWireStream::probeRealtime() {
    pw_thread_loop_lock(m_loop);
    pw_stream_set_active(m_stream, true);
    // A graph that does not run within a second counts as no real-time thread (a busy machine
    // may take a few hundred milliseconds to schedule the first cycle).
    timespec deadline{};
    pw_thread_loop_get_time(m_loop, &deadline, 1000 * SPA_NSEC_PER_MSEC);
    while (m_realtime < 0) {
        if (pw_thread_loop_timed_wait_full(m_loop, &deadline) != 0) break;
    }
    pw_stream_set_active(m_stream, false);
    pw_thread_loop_unlock(m_loop);
    if (m_realtime == 1) {
        audioLog("PipeWire's data thread is at real-time priority, by PipeWire's own request");
        return true;
    }
    if (m_dataThread == 0) return false;
    // PipeWire's own request was refused or not made: ours, for its data thread, from here.
    const RealtimeGrant grant = makeThreadRealtime(m_dataThread);
    audioLog(grant.granted ? "PipeWire's data thread at real-time priority " + grant.how
                           : "no real-time priority for PipeWire's data thread: " + grant.how);
    return grant.granted;
}

std::unique_ptr<AudioStream> openPipeWireStream(const AudioRequest& request, bool* realtime) {
    auto stream = std::make_unique<PipeWireStream>();
    if (!stream->connect(request)) return nullptr;
    if (realtime != nullptr) *realtime = stream->probeRealtime();
    return stream;
}

}  // namespace audio
