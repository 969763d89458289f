#include "offline_performance.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <thread>

#include "key_layout.h"
#include "module1.h"
#include "performance_engine.h"
#include "synth_output.h"

namespace performance {
namespace {

// A host with no window: the engine's notes become messages handed to a sink, its waits move a
// clock forward.
class RecordingHost : public PerformanceHost {
  public:
    RecordingHost(int channel, const MessageSink& sink) : m_channel(channel), m_sink(sink) {}
    void setEngine(PerformanceEngine* engine) { m_engine = engine; }
    void NoteOn(std::int16_t note) override { record(note, true); }
    void NoteOff(std::int16_t note) override { record(note, false); }
    void BarFunc(std::int16_t) override {}
    Clock::time_point Now() override { return m_now; }
    void WaitUntil(Clock::time_point deadline) override { m_now = std::max(m_now, deadline); }
    void LetEventsRun() override {}
    std::string FileName() override { return {}; }
    void SetButtonCaption(std::string_view) override {}
    void SetStatus(std::string_view) override {}
    void EnableInputs(bool) override {}
    void ReportMissingFile(std::string_view) override {}

  private:
    void record(std::int16_t note, bool on) {
        if (m_stopped) return;
        if (const auto message = Module1::PackNoteMessage(note, m_channel, on)) {
            const auto nanos =
                std::chrono::duration_cast<std::chrono::nanoseconds>(m_now - m_start).count();
            if (!m_sink({nanos, *message})) {
                // The engine looks at Playing after each token; nothing more is recorded.
                m_stopped = true;
                if (m_engine != nullptr) m_engine->Playing = 0;
            }
        }
    }
    int m_channel;
    const MessageSink& m_sink;
    PerformanceEngine* m_engine = nullptr;
    bool m_stopped = false;
    const Clock::time_point m_start = Clock::time_point{} + std::chrono::hours(1);
    Clock::time_point m_now = m_start;
};

void PutBigEndian(std::string& out, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void PutVariableLength(std::string& out, std::uint32_t value) {
    char bytes[5];
    int n = 0;
    bytes[n++] = static_cast<char>(value & 0x7F);
    while ((value >>= 7) != 0) bytes[n++] = static_cast<char>(0x80 | (value & 0x7F));
    while (n > 0) out += bytes[--n];
}

void PutLittleEndian(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) {
    interrupted = true;
}

// Plays on the MIDI output in real time, with a progress line on a terminal and Ctrl-C.
class ConsoleHost : public PerformanceHost {
  public:
    explicit ConsoleHost(std::string path) : m_path(std::move(path)) {}
    void setEngine(PerformanceEngine* engine) { m_engine = engine; }
    void NoteOn(std::int16_t note) override { Module1::NoteOn(note); }
    void NoteOff(std::int16_t note) override { Module1::NoteOff(note); }
    void BarFunc(std::int16_t) override {}
    Clock::time_point Now() override { return Clock::now(); }
    void WaitUntil(Clock::time_point deadline) override {
        // Short sleeps, so that Ctrl-C ends the current token at once and the progress moves.
        while (!interrupted) {
            progress();
            const auto now = Clock::now();
            if (now >= deadline) return;
            std::this_thread::sleep_until(std::min(deadline, now + std::chrono::milliseconds(50)));
        }
        if (m_engine != nullptr) m_engine->Playing = 0;
    }
    void LetEventsRun() override {}
    std::string FileName() override { return m_path; }
    void SetButtonCaption(std::string_view) override {}
    void SetStatus(std::string_view) override {}
    void EnableInputs(bool) override {}
    void ReportMissingFile(std::string_view) override {}

    // "  演奏中  トークン 12  0:03.4" while playing; the dialog's end message after it.
    void progress(bool last = false) {
        if (!m_terminal || m_engine == nullptr) return;
        const double elapsed = std::chrono::duration<double>(Clock::now() - m_start).count();
        const char* state = !last         ? "  演奏中"
                            : interrupted ? "演奏中にキャンセルされました。"
                                          : "演奏完了";
        std::printf("\r%s  トークン %d  %d:%04.1f%s", state, m_engine->TokenCount + (last ? 0 : 1),
                    static_cast<int>(elapsed) / 60, std::fmod(elapsed, 60.0), last ? "\n" : "");
        std::fflush(stdout);
    }

  private:
    std::string m_path;
    PerformanceEngine* m_engine = nullptr;
    const bool m_terminal = isatty(STDOUT_FILENO) != 0;
    const Clock::time_point m_start = Clock::now();
};

}  // namespace

bool RecordPerformance(const std::string& path, int tempo, int channel, const MessageSink& sink,
                       const SongOpener& open) {
    const keyboard::NoteTables tables = keyboard::NoteTablesForLayout(keyboard::LayoutF6);
    RecordingHost host(channel, sink);
    PerformanceEngine engine(host, tables);
    host.setEngine(&engine);
    engine.Combo1_Click(tempo);
    engine.SetSongOpener(open);
    engine.Playing = 1;
    engine.PlayPath = path;
    return engine.PlayMusicFile();
}

std::optional<std::vector<TimedMessage>> RecordPerformance(const std::string& path, int tempo,
                                                           int channel) {
    std::vector<TimedMessage> messages;
    const bool played = RecordPerformance(path, tempo, channel, [&](const TimedMessage& m) {
        messages.push_back(m);
        return true;
    });
    if (!played) return std::nullopt;
    return messages;
}

namespace {

constexpr std::size_t TrackLengthAt = 18;  // MThd (14 bytes), then "MTrk"
constexpr std::size_t FlushAt = 64 * 1024;

}  // namespace

namespace {

// Below tempo 4 a beat of 60,000,000 µs does not fit the tempo event's three bytes: the file then
// counts a beat of half or a quarter the length with as many times the ticks, so that every note
// still falls at its time.
int BeatParts(int tempo) {
    int parts = 1;
    while (std::lround(60'000'000.0 / (tempo * parts)) > 0xFFFFFF) ++parts;
    return parts;
}

}  // namespace

MidiFileWriter::MidiFileWriter(ByteSink& out, int tempo)
    : m_out(out), m_ticksPerNano(tempo * BeatParts(tempo) / 60.0 * MidiTicksPerQuarter / 1e9) {
    std::string head = "MThd";
    PutBigEndian(head, 6, 4);
    PutBigEndian(head, 0, 2);  // format 0
    PutBigEndian(head, 1, 2);  // one track
    PutBigEndian(head, MidiTicksPerQuarter, 2);
    head += "MTrk";
    PutBigEndian(head, 0, 4);  // the track's length, filled in at the end
    m_out.Write(head);
    // The tempo in microseconds per quarter note.
    std::string event;
    PutVariableLength(event, 0);
    event += "\xFF\x51\x03";
    PutBigEndian(event,
                 static_cast<std::uint32_t>(std::lround(60'000'000.0 / (tempo * BeatParts(tempo)))),
                 3);
    put(event);
}

void MidiFileWriter::put(std::string_view bytes) {
    m_buffer += bytes;
    m_trackBytes += bytes.size();
    if (m_buffer.size() >= FlushAt) {
        m_out.Write(m_buffer);
        m_buffer.clear();
    }
}

void MidiFileWriter::Add(const TimedMessage& m) {
    const auto tick = static_cast<std::int64_t>(std::llround(m.nanos * m_ticksPerNano));
    std::string event;
    PutVariableLength(event, static_cast<std::uint32_t>(tick - m_previousTick));
    m_previousTick = tick;
    PutLittleEndian(event, m.message, 3);
    put(event);
}

bool MidiFileWriter::Finish() {
    std::string end;
    PutVariableLength(end, 0);
    end += std::string("\xFF\x2F\x00", 3);
    put(end);
    m_out.Write(m_buffer);
    m_buffer.clear();
    if (m_trackBytes > 0xFFFFFFFFu) return false;
    std::string length;
    PutBigEndian(length, static_cast<std::uint32_t>(m_trackBytes), 4);
    m_out.Patch(TrackLengthAt, length);
    return true;
}

std::string StandardMidiFile(const std::vector<TimedMessage>& messages, int tempo) {
    StringSink sink;
    MidiFileWriter writer(sink, tempo);
    for (const auto& m : messages) writer.Add(m);
    writer.Finish();
    return std::move(sink.bytes);
}

namespace {

constexpr int SampleRate = static_cast<int>(audio::kSampleRate);
constexpr std::uint64_t WavHeaderBytes = 44;
// The RIFF size (the file less 8 bytes) is 32-bit; four bytes a frame.
constexpr std::uint64_t MaxWavFrames = (0xFFFFFFFFull - (WavHeaderBytes - 8)) / 4;
constexpr std::uint64_t MaxTailFrames = 5 * SampleRate;
constexpr int BlockFrames = 4096;

}  // namespace

const std::int64_t MaxWavNanos =
    static_cast<std::int64_t>((MaxWavFrames - MaxTailFrames - 1) * 1'000'000'000ull / SampleRate);

WavWriter::WavWriter(ByteSink& out, const std::string& soundfont)
    : m_out(out),
      m_synth(std::make_unique<audio::SynthEngine>(audio::SynthSettings{soundfont, false})) {
    if (!ready()) return;
    std::string head = "RIFF";
    PutLittleEndian(head, 0, 4);  // sizes filled in at the end
    head += "WAVEfmt ";
    PutLittleEndian(head, 16, 4);
    PutLittleEndian(head, 1, 2);  // PCM
    PutLittleEndian(head, 2, 2);  // stereo
    PutLittleEndian(head, SampleRate, 4);
    PutLittleEndian(head, SampleRate * 4, 4);
    PutLittleEndian(head, 4, 2);
    PutLittleEndian(head, 16, 2);
    head += "data";
    PutLittleEndian(head, 0, 4);
    m_out.Write(head);
}

WavWriter::~WavWriter() = default;

bool WavWriter::ready() const {
    return m_synth->ready();
}

const std::string& WavWriter::problem() const {
    return m_synth->problem();
}

bool WavWriter::renderTo(std::uint64_t frames, float* peak) {
    if (frames > MaxWavFrames) {
        m_tooLong = true;
        return false;
    }
    float left[BlockFrames], right[BlockFrames];
    std::string samples;
    while (m_frames < frames) {
        const int n = static_cast<int>(std::min<std::uint64_t>(BlockFrames, frames - m_frames));
        m_synth->renderFloat(left, right, n);
        samples.clear();
        for (int i = 0; i < n; ++i) {
            for (const float v : {left[i], right[i]}) {
                if (peak != nullptr) *peak = std::max(*peak, std::abs(v));
                const auto s =
                    static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767));
                PutLittleEndian(samples, static_cast<std::uint16_t>(s), 2);
            }
        }
        m_out.Write(samples);
        m_frames += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool WavWriter::Add(const TimedMessage& m) {
    if (m_tooLong) return false;
    if (!renderTo(static_cast<std::uint64_t>(std::llround(m.nanos * 1e-9 * SampleRate)))) {
        return false;
    }
    m_synth->handleShortMessage(m.message);
    return true;
}

bool WavWriter::Finish() {
    if (m_tooLong) return false;
    // The release tail: until a tenth of a second stays silent, at most five seconds.
    const std::uint64_t block = SampleRate / 10;
    for (const std::uint64_t end = m_frames + MaxTailFrames; m_frames < end;) {
        float peak = 0;
        if (!renderTo(m_frames + block, &peak)) return false;
        if (peak < 1e-4f) break;
    }
    const std::uint64_t dataBytes = m_frames * 4;
    std::string size;
    PutLittleEndian(size, static_cast<std::uint32_t>(WavHeaderBytes - 8 + dataBytes), 4);
    m_out.Patch(4, size);
    size.clear();
    PutLittleEndian(size, static_cast<std::uint32_t>(dataBytes), 4);
    m_out.Patch(WavHeaderBytes - 4, size);
    return true;
}

std::optional<std::string> RenderWav(const std::vector<TimedMessage>& messages,
                                     const std::string& soundfont, std::string* problem) {
    StringSink sink;
    WavWriter writer(sink, soundfont);
    if (!writer.ready()) {
        if (problem != nullptr) *problem = writer.problem();
        return std::nullopt;
    }
    for (const auto& m : messages) writer.Add(m);
    if (!writer.Finish()) {
        if (problem != nullptr) *problem = "too long for a WAV file";
        return std::nullopt;
    }
    return std::move(sink.bytes);
}

int PlayOnConsole(const std::string& path, int tempo, int channel, const SongOpener& open) {
    const std::string missing = "「" + path + "」ﾌｧｲﾙはありません。";
    if (!FileFound(path)) {
        std::cerr << missing << "\n";
        return 1;
    }
    const keyboard::NoteTables tables = keyboard::NoteTablesForLayout(keyboard::LayoutF6);
    ConsoleHost host(path);
    PerformanceEngine engine(host, tables);
    host.setEngine(&engine);
    engine.Combo1_Click(tempo);
    Module1::SetChannel(channel);
    interrupted = false;
    auto previousInt = std::signal(SIGINT, OnInterrupt);
    auto previousTerm = std::signal(SIGTERM, OnInterrupt);
    engine.SetSongOpener(open);
    engine.Playing = 1;
    engine.PlayPath = path;
    const bool played = engine.PlayMusicFile();
    std::signal(SIGINT, previousInt);
    std::signal(SIGTERM, previousTerm);
    if (!played) {
        std::cerr << missing << "\n";
        return 1;
    }
    host.progress(true);
    return interrupted ? 130 : 0;
}

}  // namespace performance
