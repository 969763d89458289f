#include "midi_thru.h"

namespace midi {
namespace {

constexpr unsigned char NoteOff = 0x80;
constexpr unsigned char NoteOn = 0x90;
constexpr unsigned char ControlChange = 0xB0;
constexpr unsigned char SustainPedal = 64;

// Program change and channel pressure carry one data byte, the other channel messages two.
std::size_t lengthOf(unsigned char status) {
    const unsigned char kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 2 : 3;
}

}  // namespace

MidiThru::MidiThru(HeldNotes& notes, ChannelFunction channel)
    : m_notes(notes), m_channel(std::move(channel)) {}

void MidiThru::setWake(std::function<void()> wake) {
    const std::lock_guard lock(m_mutex);
    m_wake = std::move(wake);
}

void MidiThru::receive(const unsigned char* bytes, std::size_t size) {
    if (bytes == nullptr || size == 0) return;
    const unsigned char status = bytes[0];
    if (status < 0x80 || status >= 0xF0 || size < lengthOf(status)) return;
    for (std::size_t i = 1; i < lengthOf(status); ++i) {
        if (bytes[i] > 0x7F) return;
    }
    const std::lock_guard lock(m_mutex);
    if (m_stopped) return;
    const std::int32_t channel = m_channel();
    if (channel < 0 || channel > 15) return;
    const unsigned char kind = status & 0xF0;
    const std::size_t input = status & 0x0F;
    if (kind == NoteOn || kind == NoteOff) {
        const std::int32_t note = bytes[1];
        const std::int32_t velocity = kind == NoteOn ? bytes[2] : 0;
        Held& held = m_held[input * 128 + static_cast<std::size_t>(note)];
        if (held.on) {
            // Ended, or struck again without a release between: the old note ends first.
            m_notes.release(held.channel, note);
            held.on = false;
            --m_soundingCount[static_cast<std::size_t>(note)];
            noteEvent(note, false);
        }
        if (velocity > 0) {
            m_notes.press(channel, note, velocity);
            held = {true, static_cast<std::int8_t>(channel)};
            ++m_soundingCount[static_cast<std::size_t>(note)];
            noteEvent(note, true);
        }
        return;
    }
    std::int32_t target = channel;
    if (kind == ControlChange && bytes[1] == SustainPedal) {
        // The pedal is let go where it was pressed, whatever the channel is now.
        auto& pedal = m_pedal[input];
        if (bytes[2] >= 64) {
            pedal = static_cast<std::int8_t>(channel);
        } else if (pedal) {
            target = *pedal;
            pedal.reset();
        }
    }
    std::uint32_t message =
        static_cast<std::uint32_t>(kind | target) | static_cast<std::uint32_t>(bytes[1]) << 8;
    if (lengthOf(status) == 3) message |= static_cast<std::uint32_t>(bytes[2]) << 16;
    m_notes.send(message);
}

void MidiThru::endAll() {
    const std::lock_guard lock(m_mutex);
    endAllLocked();
}

void MidiThru::stop() {
    const std::lock_guard lock(m_mutex);
    endAllLocked();
    m_stopped = true;
}

void MidiThru::endAllLocked() {
    for (std::size_t i = 0; i < m_held.size(); ++i) {
        Held& held = m_held[i];
        if (!held.on) continue;
        const auto note = static_cast<std::int32_t>(i % 128);
        m_notes.release(held.channel, note);
        held.on = false;
        --m_soundingCount[static_cast<std::size_t>(note)];
        noteEvent(note, false);
    }
    for (auto& pedal : m_pedal) {
        if (!pedal) continue;
        m_notes.send(static_cast<std::uint32_t>(ControlChange | *pedal) | SustainPedal << 8);
        pedal.reset();
    }
}

void MidiThru::noteEvent(std::int32_t note, bool on) {
    if (m_events.size() >= MaxPendingEvents) m_events.erase(m_events.begin());
    m_events.push_back({static_cast<std::int16_t>(note - 60), on});
    wakeLocked();
}

void MidiThru::wakeLocked() {
    if (m_wakePending || !m_wake) return;
    m_wakePending = true;
    m_wake();
}

std::vector<MidiThru::NoteEvent> MidiThru::takeEvents() {
    const std::lock_guard lock(m_mutex);
    m_wakePending = false;
    std::vector<NoteEvent> events;
    events.swap(m_events);
    m_events.reserve(64);
    return events;
}

std::bitset<128> MidiThru::sounding() const {
    const std::lock_guard lock(m_mutex);
    std::bitset<128> notes;
    for (std::size_t n = 0; n < 128; ++n) notes[n] = m_soundingCount[n] > 0;
    return notes;
}

}  // namespace midi
