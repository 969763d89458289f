// The MIDI output device layer: one interface for every backend, and the four calls the program
// makes on it (count, open the default device, send a packed short message, close).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace midi {

// One way of making sound out of short messages. A backend is "a device" only when it can really
// deliver messages; the program's no-MIDI start-up path is taken when it cannot.
class OutputBackend {
  public:
    virtual ~OutputBackend() = default;
    // True when messages sent through this backend reach something (a synthesizer that plays,
    // an existing port, a trace file). May do the expensive set-up on its first call.
    virtual bool available() = 0;
    virtual void send(std::uint32_t message) = 0;
    // A message the program adds of its own accord (a practice's clicks and wrong-note sound):
    // it sounds like any other, but it is not what the player played, and recordings skip it.
    virtual void sendAside(std::uint32_t message) { send(message); }
    virtual void close() = 0;
};

using HMIDIOUT = std::uint32_t;
inline constexpr std::int32_t MIDI_MAPPER = -1;

// Installs the backend that stands behind the calls below; the previous one is closed first.
void installBackend(std::unique_ptr<OutputBackend> backend);

// Number of output devices: 1 when the installed backend is available, else 0.
std::uint32_t midiOutGetNumDevs();
// Opens the default device; the handle stays 0 when there is no device. Returns 0 on success.
std::uint32_t midiOutOpen(HMIDIOUT* handle, std::int32_t device);
// Messages to a handle that is not open are rejected (non-zero result) and go nowhere.
std::uint32_t midiOutShortMsg(HMIDIOUT handle, std::uint32_t message);
std::uint32_t midiOutClose(HMIDIOUT handle);
// midiOutShortMsg for a message of the program's own (OutputBackend::sendAside).
std::uint32_t midiOutShortMsgAside(HMIDIOUT handle, std::uint32_t message);

}  // namespace midi
