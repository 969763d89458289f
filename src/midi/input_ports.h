// MIDI input through RtMidi: a port named "ムルテカ" that other programs connect to, joined to
// the hardware sources present at start and to those that appear later; or one source named by
// --midi-in port:NAME|NUMBER. The ALSA sequencer where its device exists, else a JACK server.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace midi {

inline constexpr const char* InputPortName = "ムルテカ";

// A --midi-in value taken apart. kind is one of all, port, none.
struct InputSpec {
    std::string kind;
    std::string argument;  // the source's name or number
};

std::optional<InputSpec> parseInputSpec(const std::string& value);
// The valid forms, one per line, for error messages and --help.
std::string validInputForms();

class MidiInput {
  public:
    using ReceiveFunction = std::function<void(const unsigned char* bytes, std::size_t size)>;
    // receive: every whole message, on the input's own thread. sourceLost: a source that was
    // connected went away (or the MIDI system stopped), on a thread of the input's.
    MidiInput(InputSpec spec, ReceiveFunction receive, std::function<void()> sourceLost);
    ~MidiInput();
    MidiInput(const MidiInput&) = delete;
    MidiInput& operator=(const MidiInput&) = delete;

    // Opens the port. False when there is no MIDI system (one line with --verbose) or the named
    // source does not exist (problem() says so).
    bool open();
    const std::string& problem() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

// The names of the MIDI sources here, in the numbering of --midi-in port:NUMBER; empty when there
// is no MIDI system at all.
std::vector<std::string> listMidiInputs();
// What --list-midi-inputs prints: the forms of --midi-in that can be used here.
std::vector<std::string> describeInputs();

}  // namespace midi
