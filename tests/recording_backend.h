// A MIDI backend for tests: keeps every message it is sent, in order.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "output_device.h"

namespace testing_support {

struct Recording {
    std::vector<std::uint32_t> messages;
    bool available = true;
    int closes = 0;
};

class RecordingBackend final : public midi::OutputBackend {
  public:
    explicit RecordingBackend(std::shared_ptr<Recording> recording)
        : m_recording(std::move(recording)) {}
    bool available() override { return m_recording->available; }
    void send(std::uint32_t message) override { m_recording->messages.push_back(message); }
    void close() override { ++m_recording->closes; }

  private:
    std::shared_ptr<Recording> m_recording;
};

// Installs a fresh recording backend and returns what it records.
inline std::shared_ptr<Recording> installRecording(bool available = true) {
    auto recording = std::make_shared<Recording>();
    recording->available = available;
    midi::installBackend(std::make_unique<RecordingBackend>(recording));
    return recording;
}

}  // namespace testing_support
