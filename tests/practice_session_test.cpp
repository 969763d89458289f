// A practice in the window against a recording MIDI backend: the messages beyond the player's
// notes, written out, with the built-in synthesizer and on a MIDI port; and Esc during practice.
#include "practice_session.h"

#include <cstdlib>

#include "form_fixture.h"
#include "temp_file.h"

using testing_support::FormTest;

TEST_F(FormTest, WrongNotesGetAnInstrumentOfTheirOwnOnlyFromTheBuiltInSynthesizer) {
    testing_support::TempFolder folder;
    setenv("XDG_DATA_HOME", folder.path().c_str(), 1);
    const std::string song = folder.write("song.txt", "ド4,レ4\r\n");
    for (const bool synth : {true, false}) {
        SCOPED_TRACE(synth ? "synth" : "port");
        practice::PracticeSession* session = nullptr;
        keyboard::Form1Hooks hooks;
        hooks.stopPractice = [&session] { return session->Stop(); };
        start({}, hooks);
        practice::PracticeSession practice(*form, synth);
        session = &practice;
        form->setPlayerNoteObserver([&](std::int16_t n, bool on) { practice.PlayerNote(n, on); });
        ASSERT_TRUE(practice.Start({song}));
        EXPECT_EQ(form->NextNotes(), std::vector<std::int16_t>{0});
        for (const int key : {Qt::Key_Q, Qt::Key_E, Qt::Key_R}) {  // ラL (wrong), ド, レ
            press(key);
            release(key);
        }
        // Channel 16 plays square lead (program 80) for the wrong note, then piano again.
        const std::vector<std::uint32_t> expected =
            synth
                ? std::vector<std::uint32_t>{0x50CF,   0x7F3990, 0x7F399F, 0x3990, 0x399F,
                                             0x7F3C90, 0x3C90,   0x7F3E90, 0x00CF, 0x3E90}
                : std::vector<std::uint32_t>{0x7F3990, 0x3990, 0x7F3C90, 0x3C90, 0x7F3E90, 0x3E90};
        EXPECT_EQ(recording->messages, expected);
        EXPECT_TRUE(form->NextNotes().empty());
        QApplication::processEvents();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, QStringLiteral("ムルテカの練習結果"));

        // Esc stops a practice and shows its result instead of printing; then it prints again.
        ASSERT_TRUE(practice.Start({song}));
        press(Qt::Key_Escape);
        release(Qt::Key_Escape);
        QApplication::processEvents();
        EXPECT_EQ(form->windowTitle(), QStringLiteral("ムルテカ"));
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[1].caption, QStringLiteral("ムルテカの練習結果"));
        EXPECT_FALSE(practice.Stop());
        boxes.clear();
        form.reset();
    }
    unsetenv("XDG_DATA_HOME");
}
