#include <QComboBox>

#include "form_fixture.h"
#include "twips.h"

using testing_support::FormTest;

namespace {

using Messages = std::vector<std::uint32_t>;

TEST_F(FormTest, StartUpOpensTheOutputOnChannelZeroWithTheChannelListHidden) {
    start();
    EXPECT_TRUE(form->midiAvailable());
    EXPECT_NE(Module1::hMidiOut, 0u);
    EXPECT_EQ(Module1::MidiChannel, 0);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(beeps, 0);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("ムルテカ"));
    EXPECT_EQ(form->size(),
              QSize(ui::twipsToPixelsX(7005, *form), ui::twipsToPixelsY(3000, *form)));
    EXPECT_EQ(form->picture()->image().pixelColor(1, 1), QColor(192, 192, 192));
    EXPECT_TRUE(form->picture()->hasFocus());
    QComboBox* combo = form->channelList();
    EXPECT_FALSE(combo->isVisible());
    ASSERT_EQ(combo->count(), 16);
    EXPECT_EQ(combo->itemText(0), QStringLiteral(" 0"));
    EXPECT_EQ(combo->itemText(9), QStringLiteral(" 9"));
    EXPECT_EQ(combo->itemText(15), QStringLiteral(" 15"));
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(form->LayoutDegree(), keyboard::LayoutF6);
    EXPECT_EQ(form->noteTables().KeyNote,
              keyboard::NoteTablesForLayout(keyboard::LayoutF6).KeyNote);
    EXPECT_TRUE(recording->messages.empty());
}

TEST_F(FormTest, ChoosingChannelNineSendsEveryLaterNoteWithStatus99) {
    start();
    form->channelList()->setCurrentIndex(9);
    press(Qt::Key_Q, 24);
    release(Qt::Key_Q, 24);
    EXPECT_EQ(recording->messages, (Messages{0x007F3999, 0x00003999}));
}

TEST_F(FormTest, AProgramIsSentAtStartAndOnEveryChannelChosen) {
    Module1::Program = 40;
    form = std::make_unique<keyboard::Form1>();
    form->Form_Load({});
    EXPECT_EQ(recording->messages, (Messages{0x28C0}));
    form->channelList()->setCurrentIndex(9);
    press(Qt::Key_Q, 24);
    release(Qt::Key_Q, 24);
    EXPECT_EQ(recording->messages, (Messages{0x28C0, 0x28C9, 0x007F3999, 0x00003999}));
}

TEST_F(FormTest, ACommandLineFileOpensTheDialogDuringLoadAndIsThenForgotten) {
    std::string seen;
    bool shownBeforeWindow = false;
    keyboard::Form1Hooks hooks;
    hooks.showAutoPerformance = [&] {
        seen = Module1::CommandLineFile;
        shownBeforeWindow = !form->isVisible();
    };
    start("\"my song.txt\"", hooks);
    EXPECT_EQ(seen, "\"my song.txt\"");
    EXPECT_TRUE(shownBeforeWindow);
    EXPECT_TRUE(Module1::CommandLineFile.empty());

    seen = "not called";
    start("", hooks);
    EXPECT_EQ(seen, "not called");
}

TEST_F(FormTest, KeypadZeroTogglesTheChannelListOncePerPress) {
    start();
    press(Qt::Key_0, 90, Qt::KeypadModifier);
    EXPECT_TRUE(form->channelList()->isVisible());
    key(QEvent::KeyPress, Qt::Key_0, 90, Qt::KeypadModifier, true);  // auto-repeat
    EXPECT_TRUE(form->channelList()->isVisible());
    release(Qt::Key_0, 90, Qt::KeypadModifier);
    press(Qt::Key_0, 90, Qt::KeypadModifier);
    EXPECT_FALSE(form->channelList()->isVisible());
    EXPECT_TRUE(recording->messages.empty()) << "keypad digits play nothing";
}

TEST_F(FormTest, F12ShowsTheVersion) {
    start();
    press(Qt::Key_F12);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, QStringLiteral("ムルテカのﾊﾞｰｼﾞｮﾝ情報"));
    EXPECT_EQ(boxes[0].text, QStringLiteral("ﾊﾞｰｼﾞｮﾝ 1.4.4"));
    EXPECT_EQ(boxes[0].icon, ui::Icon::None);
    EXPECT_EQ(boxes[0].buttons, ui::Buttons::Ok);
}

TEST_F(FormTest, F9AndTheCloseBoxBothEndNotesAndCloseTheOutput) {
    for (const bool byF9 : {true, false}) {
        start();
        recording->closes = 0;
        press(Qt::Key_Q, 24);
        byF9 ? press(Qt::Key_F9) : static_cast<void>(form->close());
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(recording->messages, (Messages{0x007F3990, 0x00003990})) << byF9;
        EXPECT_EQ(recording->closes, 1);
        recording = testing_support::installRecording();
    }
}

class NoMidiFormTest : public FormTest {
  protected:
    bool midiAvailable() const override { return false; }
};

TEST_F(NoMidiFormTest, BeepsReportsAndStillDrawsASilentKeyboard) {
    start("song.txt");
    EXPECT_EQ(beeps, 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("ご使用の環境では、MIDI音源を使用できません。"));
    EXPECT_EQ(boxes[0].caption, QStringLiteral("ムルテカ"));
    EXPECT_EQ(boxes[0].icon, ui::Icon::None);
    EXPECT_EQ(boxes[0].buttons, ui::Buttons::Ok);
    EXPECT_FALSE(form->midiAvailable());
    EXPECT_EQ(Module1::hMidiOut, 0u);
    EXPECT_TRUE(Module1::CommandLineFile.empty()) << "the command line is not taken";
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(markedKeys().size(), 14u);
    press(Qt::Key_Q, 24);
    EXPECT_TRUE(marked(11));
    release(Qt::Key_Q, 24);
    EXPECT_TRUE(recording->messages.empty());
}

}  // namespace
