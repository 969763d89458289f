#include "port_output.h"

#include <rtmidi/RtMidi.h>

#include <charconv>
#include <optional>

#include "midi_system.h"

namespace midi {
namespace {}  // namespace

std::optional<unsigned> findPort(RtMidi& client, const std::string& selector) {
    const unsigned count = client.getPortCount();
    unsigned number = 0;
    const char* end = selector.data() + selector.size();
    if (auto [ptr, ec] = std::from_chars(selector.data(), end, number);
        ec == std::errc() && ptr == end) {
        if (number < count) return number;
        return std::nullopt;
    }
    for (unsigned i = 0; i < count; ++i) {
        if (client.getPortName(i).find(selector) != std::string::npos) return i;
    }
    return std::nullopt;
}

PortOutput::PortOutput(std::string selector) : m_selector(std::move(selector)) {}

PortOutput::~PortOutput() = default;

bool PortOutput::available() {
    if (!m_tried) {
        m_tried = true;
        m_out = makeMidiClient<RtMidiOut>(detectMidiSystem());
        if (m_out) {
            try {
                const auto port = findPort(*m_out, m_selector);
                if (port) {
                    m_out->openPort(*port, "muruteka out");
                } else {
                    m_out.reset();
                }
            } catch (const RtMidiError&) {
                m_out.reset();
            }
        }
    }
    return m_out != nullptr && m_out->isPortOpen();
}

void PortOutput::send(std::uint32_t message) {
    if (!m_out) return;
    const unsigned char bytes[3] = {static_cast<unsigned char>(message & 0xFF),
                                    static_cast<unsigned char>((message >> 8) & 0xFF),
                                    static_cast<unsigned char>((message >> 16) & 0xFF)};
    // Program change and channel pressure carry one data byte: a third byte would be read as
    // a second message in running status.
    const unsigned status = message & 0xF0;
    const std::size_t length = status == 0xC0 || status == 0xD0 ? 2 : 3;
    try {
        m_out->sendMessage(bytes, length);
    } catch (const RtMidiError&) {
    }
}

void PortOutput::close() {
    m_out.reset();
    m_tried = false;
}

std::vector<std::string> listMidiPorts() {
    std::vector<std::string> names;
    auto out = makeMidiClient<RtMidiOut>(detectMidiSystem());
    if (!out) return names;
    try {
        for (unsigned i = 0; i < out->getPortCount(); ++i) names.push_back(out->getPortName(i));
    } catch (const RtMidiError&) {
    }
    return names;
}

}  // namespace midi
