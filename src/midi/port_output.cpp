#include "port_output.h"

#include <fcntl.h>
#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <iostream>
#include <optional>

#include "audio_log.h"

namespace midi {
namespace {

// Only the ALSA sequencer on Linux: RtMidi's JACK client crashes when no JACK server runs.
RtMidi::Api portApi() {
#if defined(__linux__)
    return RtMidi::LINUX_ALSA;
#else
    return RtMidi::UNSPECIFIED;
#endif
}

// RtMidi prints its constructor's failure (no ALSA sequencer) on stderr before it throws; the
// program says itself that there are no ports, so that text is only for --verbose.
class QuietStderr {
  public:
    QuietStderr() {
        if (audioVerbose()) return;
        std::fflush(stderr);
        m_saved = dup(STDERR_FILENO);
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            dup2(null, STDERR_FILENO);
            close(null);
        }
    }
    ~QuietStderr() {
        if (m_saved < 0) return;
        std::cerr.flush();
        dup2(m_saved, STDERR_FILENO);
        close(m_saved);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

  private:
    int m_saved = -1;
};

std::unique_ptr<RtMidiOut> makeClient() {
    try {
        const QuietStderr quiet;
        auto out = std::make_unique<RtMidiOut>(portApi(), "muruteka");
        out->setErrorCallback([](RtMidiError::Type, const std::string&, void*) {}, nullptr);
        return out;
    } catch (const RtMidiError&) {
        return nullptr;
    }
}

std::optional<unsigned> findPort(RtMidiOut& out, const std::string& selector) {
    const unsigned count = out.getPortCount();
    unsigned number = 0;
    const char* end = selector.data() + selector.size();
    if (auto [ptr, ec] = std::from_chars(selector.data(), end, number);
        ec == std::errc() && ptr == end) {
        if (number < count) return number;
        return std::nullopt;
    }
    for (unsigned i = 0; i < count; ++i) {
        if (out.getPortName(i).find(selector) != std::string::npos) return i;
    }
    return std::nullopt;
}

}  // namespace

PortOutput::PortOutput(std::string selector) : m_selector(std::move(selector)) {}

PortOutput::~PortOutput() = default;

bool PortOutput::available() {
    if (!m_tried) {
        m_tried = true;
        m_out = makeClient();
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
    auto out = makeClient();
    if (!out) return names;
    try {
        for (unsigned i = 0; i < out->getPortCount(); ++i) names.push_back(out->getPortName(i));
    } catch (const RtMidiError&) {
    }
    return names;
}

}  // namespace midi
