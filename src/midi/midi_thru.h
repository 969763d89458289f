// What a message from a MIDI keyboard does: its notes and other channel messages are played on
// the program's current channel at once, on the thread that received them, and the window is told
// afterwards which notes sound (to mark their keys) and which notes started and ended (for
// practice). System messages are not passed on.
#pragma once

#include <array>
#include <atomic>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "held_notes.h"

namespace midi {

class MidiThru {
  public:
    using ChannelFunction = std::function<std::int32_t()>;
    // A note started or ended: its offset from middle C (MIDI 60), as the window counts notes.
    struct NoteEvent {
        std::int16_t note;
        bool on;
    };
    // The window is told of at most this many note events between two looks; older ones are
    // dropped first. Sound is never dropped.
    static constexpr std::size_t MaxPendingEvents = 1024;

    // channel: the program's current channel, read for every message.
    MidiThru(HeldNotes& notes, ChannelFunction channel);

    // Called when there is something new for the window, once until the window has looked.
    void setWake(std::function<void()> wake);

    // A whole message from the input; any thread.
    void receive(const unsigned char* bytes, std::size_t size);
    // A source went away: every note it started ends now, and a held sustain pedal is let go.
    void endAll();
    // From here on nothing is played; what sounds ends.
    void stop();

    // The window's side: the note events since the last call, and the notes (MIDI numbers on the
    // output) that sound from the input now.
    std::vector<NoteEvent> takeEvents();
    std::bitset<128> sounding() const;

  private:
    struct Held {
        bool on = false;
        std::int8_t channel = 0;  // the output channel it started on
    };
    void endAllLocked();
    void noteEvent(std::int32_t note, bool on);
    void wakeLocked();

    HeldNotes& m_notes;
    ChannelFunction m_channel;
    std::function<void()> m_wake;
    mutable std::mutex m_mutex;
    std::array<Held, 16 * 128> m_held{};                   // by input channel and note
    std::array<std::optional<std::int8_t>, 16> m_pedal{};  // output channel of a held pedal
    std::array<std::uint16_t, 128> m_soundingCount{};
    std::vector<NoteEvent> m_events;
    bool m_wakePending = false;
    bool m_stopped = false;
};

}  // namespace midi
