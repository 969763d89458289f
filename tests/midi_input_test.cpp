// Notes from a MIDI keyboard in the window, mixed with typed keys: what reaches the output, which
// keys are marked, and what the player-note observer hears.
#include <string>
#include <vector>

#include "form_fixture.h"
#include "held_notes.h"
#include "midi_thru.h"

namespace {

struct Step {
    const char* what;  // "midi 93 39 50", "press", "release", "channel 5", "lost"
    std::vector<std::uint32_t> sent;
    bool qMarked;
};

class MidiInputFormTest : public testing_support::FormTest {};

TEST_F(MidiInputFormTest, IncomingMessagesPlayOnTheProgramsChannelAndShareKeysWithTyping) {
    midi::MidiThru thru(midi::playerNotes(), &Module1::CurrentChannel);
    start();
    form->ConnectMidiInput(thru);
    std::vector<std::pair<std::int16_t, bool>> heard;
    form->setPlayerNoteObserver([&](std::int16_t note, bool on) { heard.emplace_back(note, on); });
    const Step steps[] = {
        {"midi 93 39 50", {0x503990}, true},    // A3 from channel 3, velocity 80: Q
        {"press", {0x7F3990}, true},            // Q typed too: struck again, marked once
        {"midi 83 39 00", {}, true},            // the MIDI key lets go: Q still holds it
        {"release", {0x003990}, false},         // the last holder: the note ends
        {"channel 5", {}, false},               //
        {"midi 90 3c 64", {0x643C95}, false},   // middle C on channel 5
        {"channel 0", {}, false},               //
        {"midi 80 3c 40", {0x003C95}, false},   // ends where it began
        {"midi b2 07 64", {0x6407B0}, false},   // volume, pitch bend, program: channel 0
        {"midi e1 00 40", {0x4000E0}, false},   //
        {"midi c9 05", {0x05C0}, false},        //
        {"midi f8", {}, false},                 // clock, SysEx, a lone data byte: nothing
        {"midi f0 7e 7f f7", {}, false},        //
        {"midi 39 50", {}, false},              //
        {"midi 90 39 01", {0x013990}, true},    // held with the pedal, then the port goes
        {"midi b0 40 7f", {0x7F40B0}, true},    //
        {"lost", {0x003990, 0x0040B0}, false},  //
        {"midi b0 40 40", {0x4040B0}, false},   // 64 is down by the MIDI rule
        {"lost", {0x0040B0}, false},            // so the pedal is let go with the cable
    };
    for (const Step& step : steps) {
        const std::string what = step.what;
        if (what.rfind("midi", 0) == 0) {
            std::vector<unsigned char> bytes;
            for (std::size_t i = 5; i < what.size(); i += 3)
                bytes.push_back(
                    static_cast<unsigned char>(std::stoi(what.substr(i, 2), nullptr, 16)));
            thru.receive(bytes.data(), bytes.size());
        } else if (what == "press" || what == "release") {
            key(what == "press" ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_Q, 24);
        } else if (what == "lost") {
            thru.endAll();
        } else {
            form->channelList()->setCurrentIndex(std::stoi(what.substr(8)));
        }
        QApplication::processEvents();
        EXPECT_EQ(recording->messages, step.sent) << what;
        EXPECT_EQ(marked(11), step.qMarked) << what;
        recording->messages.clear();
    }
    const std::vector<std::pair<std::int16_t, bool>> expected = {
        {-3, true}, {-3, true}, {-3, false}, {-3, false},
        {0, true},  {0, false}, {-3, true},  {-3, false}};
    EXPECT_EQ(heard, expected);
}

}  // namespace
