#include "recording_output.h"

namespace midi {

RecordingOutput::RecordingOutput(std::unique_ptr<OutputBackend> inner, MessageRecorder& recorder,
                                 ClockFunction clock)
    : m_inner(std::move(inner)), m_recorder(recorder), m_clock(std::move(clock)) {}

bool RecordingOutput::available() {
    outputAvailable();
    return true;
}

bool RecordingOutput::outputAvailable() {
    if (!m_checked) {
        m_checked = true;
        m_innerAvailable = m_inner != nullptr && m_inner->available();
    }
    return m_innerAvailable;
}

void RecordingOutput::send(std::uint32_t message) {
    // The sound goes out first; the recorder's bookkeeping must not delay the key.
    if (outputAvailable()) m_inner->send(message);
    m_recorder.Record(m_clock(), message);
}

void RecordingOutput::sendAside(std::uint32_t message) {
    if (outputAvailable()) m_inner->send(message);
}

void RecordingOutput::close() {
    if (m_inner != nullptr) m_inner->close();
}

}  // namespace midi
