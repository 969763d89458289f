// Which system carries MIDI between programs here: the ALSA sequencer when its device exists,
// else a running JACK server, else none. RtMidi's JACK client crashes when no server runs, so
// the server is looked for first without starting one.
#pragma once

#include <rtmidi/RtMidi.h>

#include <memory>
#include <optional>
#include <string>

namespace midi {

enum class MidiSystem { None, Alsa, Jack };

MidiSystem detectMidiSystem();
RtMidi::Api apiOf(MidiSystem system);
std::string nameOf(MidiSystem system);

// JACK's library prints its own failures (no server) on stderr; they are passed on only with
// --verbose. Safe to call more than once.
void quietJackMessages();

// RtMidi prints its constructor's failures on stderr before it throws; the program says itself
// what it could not open, so that text is only for --verbose. Held while a client is made.
class QuietStderr {
  public:
    QuietStderr();
    ~QuietStderr();
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

  private:
    int m_saved = -1;
};

// A client of the system (RtMidiIn or RtMidiOut) named "muruteka", its failures kept quiet;
// nullptr when there is no system or the client cannot be made.
template <typename Client>
std::unique_ptr<Client> makeMidiClient(MidiSystem system) {
    if (system == MidiSystem::None) return nullptr;
    try {
        const QuietStderr quiet;
        auto client = std::make_unique<Client>(apiOf(system), "muruteka");
        client->setErrorCallback([](RtMidiError::Type, const std::string&, void*) {}, nullptr);
        return client;
    } catch (const RtMidiError&) {
        return nullptr;
    }
}

// The port a --midi-out or --midi-in selector names: a port number, or a part of a port's name.
std::optional<unsigned> findPort(RtMidi& client, const std::string& selector);

// --verbose: the MIDI and audio layers pass on what they and their libraries say. Set once at
// start (audio::setAudioVerbose sets it too).
void setVerbose(bool verbose);
bool verbose();

// One line on stderr, "muruteka: midi: TEXT", when verbose.
void midiLog(const std::string& text);

}  // namespace midi
