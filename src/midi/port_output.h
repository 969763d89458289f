// A system MIDI port, through RtMidi (the ALSA sequencer on Linux).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "output_device.h"

class RtMidiOut;

namespace midi {

class PortOutput final : public OutputBackend {
  public:
    // selector: a port number, or a part of a port's name.
    explicit PortOutput(std::string selector);
    ~PortOutput() override;
    bool available() override;
    void send(std::uint32_t message) override;
    void close() override;

  private:
    std::string m_selector;
    std::unique_ptr<RtMidiOut> m_out;
    bool m_tried = false;
};

// The names of the system's MIDI output ports; empty when there is no MIDI system at all.
std::vector<std::string> listMidiPorts();

}  // namespace midi
