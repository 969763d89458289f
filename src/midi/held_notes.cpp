#include "held_notes.h"

#include "module1.h"

namespace midi {
namespace {

bool valid(std::int32_t channel, std::int32_t note) {
    return channel >= 0 && channel <= 15 && note >= 0 && note <= 127;
}

std::uint32_t noteMessage(std::int32_t channel, std::int32_t note, std::int32_t velocity) {
    return static_cast<std::uint32_t>(0x90 | channel) | static_cast<std::uint32_t>(note) << 8 |
           static_cast<std::uint32_t>(velocity) << 16;
}

}  // namespace

void HeldNotes::press(std::int32_t channel, std::int32_t note, std::int32_t velocity) {
    if (!valid(channel, note) || velocity < 1 || velocity > 127) return;
    const std::lock_guard lock(m_mutex);
    auto& holders = m_holders[static_cast<std::size_t>(channel * 128 + note)];
    if (holders < UINT16_MAX) ++holders;
    m_send(noteMessage(channel, note, velocity));
}

void HeldNotes::release(std::int32_t channel, std::int32_t note) {
    if (!valid(channel, note)) return;
    const std::lock_guard lock(m_mutex);
    auto& holders = m_holders[static_cast<std::size_t>(channel * 128 + note)];
    if (holders > 1) {
        --holders;
        return;
    }
    holders = 0;
    m_send(noteMessage(channel, note, 0));
}

void HeldNotes::clear() {
    const std::lock_guard lock(m_mutex);
    m_holders.fill(0);
}

void HeldNotes::send(std::uint32_t message) {
    const std::lock_guard lock(m_mutex);
    m_send(message);
}

HeldNotes& playerNotes() {
    static HeldNotes notes(
        [](std::uint32_t message) { midiOutShortMsg(Module1::hMidiOut, message); });
    return notes;
}

}  // namespace midi
