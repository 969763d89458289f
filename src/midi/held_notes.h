// Notes the player holds, counted per channel and note: a note held both on the typing keyboard
// and on a MIDI keyboard sounds until both let go. Shared by the window's thread and the MIDI
// input's thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>

namespace midi {

class HeldNotes {
  public:
    using SendFunction = std::function<void(std::uint32_t message)>;
    explicit HeldNotes(SendFunction send) : m_send(std::move(send)) {}

    // Sends the note-on (a note already held is struck again) and counts one more holder.
    // channel 0..15, note 0..127, velocity 1..127; anything else is ignored.
    void press(std::int32_t channel, std::int32_t note, std::int32_t velocity);
    // One holder lets go; the note ends (note-on, velocity 0) when it was the last. A release
    // of a note nobody holds ends it anyway, so that it can never stay on.
    void release(std::int32_t channel, std::int32_t note);
    // Forgets every holder without a message: for a device just opened, where nothing sounds.
    void clear();
    // Sends any other message in turn with the notes, so that no release overtakes a press.
    void send(std::uint32_t message);

  private:
    std::mutex m_mutex;
    SendFunction m_send;
    std::array<std::uint16_t, 16 * 128> m_holders{};
};

// The player's notes on the program's MIDI output (Module1::hMidiOut).
HeldNotes& playerNotes();

}  // namespace midi
