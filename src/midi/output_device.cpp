#include "output_device.h"

#include <mutex>

namespace midi {
namespace {

constexpr HMIDIOUT kOpenHandle = 1;
constexpr std::uint32_t kNoError = 0;
constexpr std::uint32_t kInvalidHandle = 5;
constexpr std::uint32_t kBadDeviceId = 2;

std::unique_ptr<OutputBackend>& backendSlot() {
    static std::unique_ptr<OutputBackend> backend;
    return backend;
}

bool deviceOpen = false;

// The window's thread and the MIDI input's thread both send: one message at a time reaches the
// backend (and the trace file or recorder behind it).
std::mutex& deviceMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

void installBackend(std::unique_ptr<OutputBackend> backend) {
    const std::lock_guard lock(deviceMutex());
    if (backendSlot()) backendSlot()->close();
    deviceOpen = false;
    backendSlot() = std::move(backend);
}

std::uint32_t midiOutGetNumDevs() {
    const std::lock_guard lock(deviceMutex());
    OutputBackend* backend = backendSlot().get();
    return backend != nullptr && backend->available() ? 1 : 0;
}

std::uint32_t midiOutOpen(HMIDIOUT* handle, std::int32_t device) {
    if (handle == nullptr) return kInvalidHandle;
    if ((device != MIDI_MAPPER && device != 0) || midiOutGetNumDevs() == 0) {
        *handle = 0;
        return kBadDeviceId;
    }
    const std::lock_guard lock(deviceMutex());
    deviceOpen = true;
    *handle = kOpenHandle;
    return kNoError;
}

std::uint32_t midiOutShortMsg(HMIDIOUT handle, std::uint32_t message) {
    const std::lock_guard lock(deviceMutex());
    if (handle != kOpenHandle || !deviceOpen) return kInvalidHandle;
    backendSlot()->send(message);
    return kNoError;
}

std::uint32_t midiOutShortMsgAside(HMIDIOUT handle, std::uint32_t message) {
    if (handle != kOpenHandle || !deviceOpen) return kInvalidHandle;
    backendSlot()->sendAside(message);
    return kNoError;
}

std::uint32_t midiOutClose(HMIDIOUT handle) {
    const std::lock_guard lock(deviceMutex());
    if (handle != kOpenHandle || !deviceOpen) return kInvalidHandle;
    deviceOpen = false;
    backendSlot()->close();
    return kNoError;
}

}  // namespace midi
