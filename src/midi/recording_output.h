// Recording at the MIDI output: a backend that passes every message on to the chosen output and
// hands it, with the moment it was sent, to a recorder. Whatever plays (keys, mouse, a performance)
// goes through here, so everything that sounds is recorded.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "output_device.h"

namespace midi {

class MessageRecorder {
  public:
    virtual ~MessageRecorder() = default;
    virtual void Record(std::chrono::steady_clock::time_point when, std::uint32_t message) = 0;
};

class RecordingOutput final : public OutputBackend {
  public:
    using ClockFunction = std::function<std::chrono::steady_clock::time_point()>;
    // The recorder must outlive this backend.
    RecordingOutput(std::unique_ptr<OutputBackend> inner, MessageRecorder& recorder,
                    ClockFunction clock = &std::chrono::steady_clock::now);

    // Always true: the recording receives the messages even when the output cannot sound.
    bool available() override;
    void send(std::uint32_t message) override;
    void sendAside(std::uint32_t message) override;
    void close() override;

    // Whether the output behind the recording makes sound.
    bool outputAvailable();

  private:
    std::unique_ptr<OutputBackend> m_inner;
    MessageRecorder& m_recorder;
    ClockFunction m_clock;
    bool m_checked = false;
    bool m_innerAvailable = false;
};

}  // namespace midi
