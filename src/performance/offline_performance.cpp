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

// A host with no window: the engine's notes become messages, its waits move a clock forward.
class RecordingHost : public PerformanceHost {
  public:
    explicit RecordingHost(int channel) : m_channel(channel) {}
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

    std::vector<TimedMessage> messages;

  private:
    void record(std::int16_t note, bool on) {
        if (const auto message = Module1::PackNoteMessage(note, m_channel, on)) {
            messages.push_back(
                {std::chrono::duration_cast<std::chrono::nanoseconds>(m_now - m_start).count(),
                 *message});
        }
    }
    int m_channel;
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

std::optional<std::vector<TimedMessage>> RecordPerformance(const std::string& path, int tempo,
                                                           int channel) {
    const keyboard::NoteTables tables = keyboard::NoteTablesForLayout(keyboard::LayoutF6);
    RecordingHost host(channel);
    PerformanceEngine engine(host, tables);
    engine.Combo1_Click(tempo);
    engine.Playing = 1;
    engine.PlayPath = path;
    if (!engine.PlayMusicFile()) return std::nullopt;
    return std::move(host.messages);
}

std::string StandardMidiFile(const std::vector<TimedMessage>& messages, int tempo) {
    std::string track;
    // The tempo in microseconds per quarter note, in three bytes. Below tempo 4 a beat does not
    // fit them: the file then counts a beat of half or a quarter the length with as many times
    // the ticks, so that every note still falls at its time.
    int beatParts = 1;
    while (std::lround(60'000'000.0 / (tempo * beatParts)) > 0xFFFFFF) ++beatParts;
    PutVariableLength(track, 0);
    track += "\xFF\x51\x03";
    PutBigEndian(track, static_cast<std::uint32_t>(std::lround(60'000'000.0 / (tempo * beatParts))),
                 3);
    const double ticksPerNano = tempo * beatParts / 60.0 * MidiTicksPerQuarter / 1e9;
    std::int64_t previous = 0;
    for (const auto& m : messages) {
        const auto tick = static_cast<std::int64_t>(std::llround(m.nanos * ticksPerNano));
        PutVariableLength(track, static_cast<std::uint32_t>(tick - previous));
        previous = tick;
        PutLittleEndian(track, m.message, 3);
    }
    PutVariableLength(track, 0);
    track += std::string("\xFF\x2F\x00", 3);

    std::string file = "MThd";
    PutBigEndian(file, 6, 4);
    PutBigEndian(file, 0, 2);  // format 0
    PutBigEndian(file, 1, 2);  // one track
    PutBigEndian(file, MidiTicksPerQuarter, 2);
    file += "MTrk";
    PutBigEndian(file, static_cast<std::uint32_t>(track.size()), 4);
    return file + track;
}

std::optional<std::string> RenderWav(const std::vector<TimedMessage>& messages,
                                     const std::string& soundfont, std::string* problem) {
    midi::SynthEngine synth({soundfont, false});
    if (!synth.ready()) {
        if (problem != nullptr) *problem = synth.problem();
        return std::nullopt;
    }
    constexpr int rate = static_cast<int>(midi::kSampleRate);
    std::vector<float> left, right;
    auto renderTo = [&](std::size_t frames) {
        if (frames <= left.size()) return;
        const std::size_t from = left.size();
        left.resize(frames);
        right.resize(frames);
        synth.renderFloat(left.data() + from, right.data() + from, static_cast<int>(frames - from));
    };
    for (const auto& m : messages) {
        renderTo(static_cast<std::size_t>(std::llround(m.nanos * 1e-9 * rate)));
        synth.handleShortMessage(m.message);
    }
    // The release tail: until a tenth of a second stays silent, at most five seconds.
    const std::size_t block = rate / 10;
    for (std::size_t end = left.size() + 5 * rate; left.size() < end;) {
        const std::size_t from = left.size();
        renderTo(from + block);
        float peak = 0;
        for (std::size_t i = from; i < left.size(); ++i) {
            peak = std::max({peak, std::abs(left[i]), std::abs(right[i])});
        }
        if (peak < 1e-4f) break;
    }
    std::string samples;
    samples.reserve(left.size() * 4);
    for (std::size_t i = 0; i < left.size(); ++i) {
        for (const float v : {left[i], right[i]}) {
            const auto s =
                static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767));
            PutLittleEndian(samples, static_cast<std::uint16_t>(s), 2);
        }
    }
    std::string wav = "RIFF";
    PutLittleEndian(wav, static_cast<std::uint32_t>(36 + samples.size()), 4);
    wav += "WAVEfmt ";
    PutLittleEndian(wav, 16, 4);
    PutLittleEndian(wav, 1, 2);  // PCM
    PutLittleEndian(wav, 2, 2);  // stereo
    PutLittleEndian(wav, rate, 4);
    PutLittleEndian(wav, rate * 4, 4);
    PutLittleEndian(wav, 4, 2);
    PutLittleEndian(wav, 16, 2);
    wav += "data";
    PutLittleEndian(wav, static_cast<std::uint32_t>(samples.size()), 4);
    return wav + samples;
}

int PlayOnConsole(const std::string& path, int tempo, int channel) {
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
