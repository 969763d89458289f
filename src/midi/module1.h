// The program's shared MIDI state and the routines every part uses to make sound and keep time.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "output_device.h"

namespace Module1 {

// Semitone offset that means "no note": a black-row key without a black key, or a rest.
inline constexpr std::int16_t NoNote = -99;
// Offsets that give MIDI notes 0..127.
inline constexpr std::int16_t LowestValidOffset = -60;
inline constexpr std::int16_t HighestValidOffset = 67;

inline midi::HMIDIOUT hMidiOut = 0;
inline std::int32_t MidiChannel = 0;
// The General MIDI program (instrument) of --program, 0..127, sent on the channel whenever the
// channel is set; -1: none is sent and the output keeps its own (the piano, as a rule).
inline std::int32_t Program = -1;
// The command-line text naming a music file to open at start-up; emptied once its dialog closed.
inline std::string CommandLineFile;

// The packed short message for a note-on (velocity 127) or a note ending (note-on, velocity 0),
// or nothing when the offset is NoNote or would not give a MIDI note number of 0..127.
constexpr std::optional<std::uint32_t> PackNoteMessage(std::int16_t offset, std::int32_t channel,
                                                       bool sounding) {
    if (offset == NoNote || offset < LowestValidOffset || offset > HighestValidOffset) {
        return std::nullopt;
    }
    const auto shifted = static_cast<std::int16_t>(offset * 256);
    const std::int32_t base = sounding ? 0x7F3C90 : 0x3C90;
    return static_cast<std::uint32_t>(base + shifted + channel);
}

void NoteOn(std::int16_t offset);
void NoteOff(std::int16_t offset);
// A short message of the program's own (a click on the percussion channel, a program change),
// packed as status | data1 << 8 | data2 << 16: it sounds through the same output as the notes,
// and a recording of what the player played leaves it out.
constexpr std::uint32_t PackShortMessage(std::uint8_t status, std::uint8_t data1,
                                         std::uint8_t data2 = 0) {
    return status | (static_cast<std::uint32_t>(data1 & 0x7F) << 8) |
           (static_cast<std::uint32_t>(data2 & 0x7F) << 16);
}
void SendShortMessage(std::uint32_t message);
// Ends a note on the channel it was started on, whatever the current channel is now.
void NoteOff(std::int16_t offset, std::int32_t channel);
// Sets the channel of NoteOn and NoteOff, and sends Program on it.
void SetChannel(std::int32_t index);
// MidiChannel as another thread (the MIDI input's) reads it.
std::int32_t CurrentChannel();

// Lets the given time pass while pending window events are processed; blocks between events
// instead of spinning. Zero or negative durations return at once without processing any events.
void Wait(float seconds);
void WaitUntil(std::chrono::steady_clock::time_point deadline);

}  // namespace Module1
