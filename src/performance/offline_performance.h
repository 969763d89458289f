// A performance without a window: recorded against a clock that only advances (for MIDI files
// and audio files), or played for real on the MIDI output from the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace performance {

struct TimedMessage {
    std::int64_t nanos;  // from the start of the performance
    std::uint32_t message;
    friend bool operator==(const TimedMessage&, const TimedMessage&) = default;
};

// Every MIDI message the performance of the file would send, at the time it is due; nothing when
// the file cannot be opened. The same engine as the dialog's, with a clock that only advances.
std::optional<std::vector<TimedMessage>> RecordPerformance(const std::string& path, int tempo,
                                                           int channel);

// A Standard MIDI File, format 0, 480 ticks a quarter note, with a tempo event.
std::string StandardMidiFile(const std::vector<TimedMessage>& messages, int tempo);

inline constexpr int MidiTicksPerQuarter = 480;

// Renders the messages through the built-in synthesizer to 44.1 kHz 16-bit stereo WAV bytes,
// the last note's release tail included. Nothing when the synthesizer cannot start.
std::optional<std::string> RenderWav(const std::vector<TimedMessage>& messages,
                                     const std::string& soundfont, std::string* problem);

// Plays the file on the installed MIDI output with the dialog's timing. Returns the exit code:
// 0 at the end, 1 when the file is missing or cannot be read, 130 after Ctrl-C.
int PlayOnConsole(const std::string& path, int tempo, int channel);

}  // namespace performance
