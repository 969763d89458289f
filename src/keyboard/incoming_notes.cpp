// Notes from a MIDI keyboard as the window shows them. They have already sounded on the input's
// thread; here their keys are marked, once for as many notes as arrived since the last look, so
// that a flood of messages costs the window one pass instead of one per message.
#include "main_window.h"

namespace keyboard {

void Form1::ConnectMidiInput(midi::MidiThru& thru) {
    m_midiThru = &thru;
    thru.setWake([this] {
        QMetaObject::invokeMethod(
            this, [this] { ShowIncomingNotes(); }, Qt::QueuedConnection);
    });
}

void Form1::HoldMark(std::int16_t k, bool on) {
    if (k < 1 || k > KeyCount) return;
    auto& holders = m_markHolders[static_cast<std::size_t>(k)];
    if (on) {
        if (holders++ == 0) BarFunc(k);
    } else if (holders > 0 && --holders == 0) {
        BarFunc(k);
    }
}

void Form1::ShowIncomingNotes() {
    if (m_midiThru == nullptr) return;
    for (const midi::MidiThru::NoteEvent& event : m_midiThru->takeEvents()) {
        if (m_playerNoteObserver) m_playerNoteObserver(event.note, event.on);
    }
    const std::bitset<128> sounding = m_midiThru->sounding();
    for (std::size_t n = 0; n < sounding.size(); ++n) {
        std::int16_t& marked = m_incomingKey[n];
        if (!sounding[n] && marked != 0) {
            HoldMark(marked, false);
            marked = 0;
        } else if (sounding[n] && marked == 0) {
            // Only a note on the current layout has a key to mark.
            const auto note = static_cast<std::int16_t>(static_cast<int>(n) - 60);
            for (int k = 1; k <= KeyCount; ++k) {
                if (m_tables.KeyNote[static_cast<std::size_t>(k)] == note && note != NoNote) {
                    marked = static_cast<std::int16_t>(k);
                    HoldMark(marked, true);
                    break;
                }
            }
        }
    }
}

}  // namespace keyboard
