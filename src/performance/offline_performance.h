// A performance without a window: recorded against a clock that only advances (for MIDI files
// and audio files), or played for real on the MIDI output from the command line.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "performance_engine.h"

namespace audio {
class SynthEngine;
}

namespace performance {

struct TimedMessage {
    std::int64_t nanos;  // from the start of the performance
    std::uint32_t message;
    friend bool operator==(const TimedMessage&, const TimedMessage&) = default;
};

// Where the bytes of a MIDI or audio file go: a file being written, or a string.
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    virtual void Write(std::string_view bytes) = 0;
    // Overwrites bytes written before, from offset on (a length known only at the end).
    virtual void Patch(std::uint64_t offset, std::string_view bytes) = 0;
};

class StringSink : public ByteSink {
  public:
    void Write(std::string_view bytes) override { this->bytes += bytes; }
    void Patch(std::uint64_t offset, std::string_view patch) override {
        bytes.replace(static_cast<std::size_t>(offset), patch.size(), patch);
    }
    std::string bytes;
};

// Receives each message of a performance when it is due; false ends the performance there.
using MessageSink = std::function<bool(const TimedMessage&)>;

// Plays the file with the dialog's engine against a clock that only advances, handing every
// MIDI message to sink at the time it is due. False when the file cannot be opened. Nothing of
// the performance is kept: memory does not grow with the tune.
// open: how the song is opened (see SongOpener); empty: as a music file.
bool RecordPerformance(const std::string& path, int tempo, int channel, const MessageSink& sink,
                       const SongOpener& open = {});

// Every message at once, for short tunes; nothing when the file cannot be opened.
std::optional<std::vector<TimedMessage>> RecordPerformance(const std::string& path, int tempo,
                                                           int channel);

inline constexpr int MidiTicksPerQuarter = 480;

// A Standard MIDI File, format 0, 480 ticks a quarter note, with a tempo event, written as the
// messages come; the track's length is filled in by Finish.
class MidiFileWriter {
  public:
    MidiFileWriter(ByteSink& out, int tempo);
    void Add(const TimedMessage& message);
    // False when the track has outgrown the format's 32-bit length (nothing more is written).
    bool Finish();

  private:
    void put(std::string_view bytes);
    ByteSink& m_out;
    double m_ticksPerNano;
    std::int64_t m_previousTick = 0;
    std::uint64_t m_trackBytes = 0;
    std::string m_buffer;
};

std::string StandardMidiFile(const std::vector<TimedMessage>& messages, int tempo);

// Renders messages through the built-in synthesizer to a 44.1 kHz 16-bit stereo WAV file as they
// come, a block at a time, and adds the last note's release tail at the end.
class WavWriter {
  public:
    WavWriter(ByteSink& out, const std::string& soundfont);
    ~WavWriter();
    bool ready() const;
    const std::string& problem() const;
    // Renders up to the message's time, then sends it to the synthesizer. False once the audio
    // would outgrow what a WAV file can hold (see MaxWavNanos).
    bool Add(const TimedMessage& message);
    // The release tail (until a tenth of a second stays silent, at most five seconds) and the
    // sizes in the header. False when the file would be too long.
    bool Finish();

  private:
    bool renderTo(std::uint64_t frames, float* peak = nullptr);
    ByteSink& m_out;
    std::unique_ptr<audio::SynthEngine> m_synth;
    std::uint64_t m_frames = 0;
    bool m_tooLong = false;
};

// The longest performance (up to its last message) that a WAV file's 32-bit sizes can hold
// with the longest release tail: about 6 hours 45 minutes.
extern const std::int64_t MaxWavNanos;

// WAV bytes of the messages; nothing when the synthesizer cannot start (problem says why).
std::optional<std::string> RenderWav(const std::vector<TimedMessage>& messages,
                                     const std::string& soundfont, std::string* problem);

// Plays the file on the installed MIDI output with the dialog's timing. Returns the exit code:
// 0 at the end, 1 when the file is missing or cannot be read, 130 after Ctrl-C.
int PlayOnConsole(const std::string& path, int tempo, int channel, const SongOpener& open = {});

}  // namespace performance
