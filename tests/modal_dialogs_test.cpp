// The keyboard window around its modal dialogs and the channel list's popup: a mouse gesture that
// goes on across them, and the keyboard focus after them. Mouse and key events go in through the
// window system layer (QTest on the window), so that Qt routes them as it does on a screen.
#include <QComboBox>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <map>

#include "form_fixture.h"

namespace {

using Messages = std::vector<std::uint32_t>;

const std::vector<int> BlackKeysF6 = {1, 2, 4, 5, 7, 8, 9, 21, 22, 24, 25, 26, 28, 29};

// A modal dialog that closes itself as soon as its event loop runs, as Alt+X or Esc would.
void RunDialogThatCloses() {
    QDialog dialog;
    dialog.resize(200, 100);
    QTimer::singleShot(0, &dialog, &QDialog::reject);
    dialog.exec();
}

// Answers the next real message box with its Cancel button.
void CancelNextMessageBox() {
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        box->button(QMessageBox::Cancel)->click();
    });
}

// What is wrong with a MIDI trace: a note struck while sounding, a note-off for nothing, or a
// note left sounding. Each note is a (channel, note number) pair read from the packed message.
std::string Unbalanced(const Messages& messages) {
    std::map<std::pair<int, int>, bool> sounding;
    std::string faults;
    for (const std::uint32_t m : messages) {
        const std::pair<int, int> note(static_cast<int>(m & 0x0F),
                                       static_cast<int>((m >> 8) & 0x7F));
        const bool on = ((m >> 16) & 0x7F) != 0;
        if (on == sounding[note]) faults += on ? "struck twice; " : "note-off for nothing; ";
        sounding[note] = on;
    }
    for (const auto& [note, on] : sounding) {
        if (on) {
            faults += "channel " + std::to_string(note.first) + " note " +
                      std::to_string(note.second) + " left sounding; ";
        }
    }
    return faults;
}

enum class Path { PerformanceDialog, HelpDialog, PrintConfirmation, ChannelList };

class ModalDialogsTest : public testing_support::FormTest {
  protected:
    void startWithDialogs() {
        keyboard::Form1Hooks hooks;
        hooks.showAutoPerformance = RunDialogThatCloses;
        hooks.showHelp = RunDialogThatCloses;
        start({}, hooks);
        ui::setMessageHandler({});  // the real message boxes
    }
    void TearDown() override {
        form.reset();
        FormTest::TearDown();
    }
    QPoint at(double x, double y) const {
        return {form->picture()->toPixelX(x), form->picture()->toPixelY(y)};
    }
    QWindow* window() const { return form->windowHandle(); }

    // Opens and closes one of the modal windows (or the channel list's popup) from the keyboard.
    void goThrough(Path path) {
        switch (path) {
            case Path::PerformanceDialog:
                QTest::keyClick(window(), Qt::Key_F2);
                break;
            case Path::HelpDialog:
                QTest::keyClick(window(), Qt::Key_F11);
                break;
            case Path::PrintConfirmation:
                CancelNextMessageBox();
                QTest::keyClick(window(), Qt::Key_Escape);
                break;
            case Path::ChannelList: {
                QTest::keyClick(window(), Qt::Key_0, Qt::KeypadModifier);
                QComboBox* list = form->channelList();
                ASSERT_TRUE(list->isVisible());
                list->setFocus();
                list->showPopup();
                QApplication::processEvents();
                QTest::mouseMove(window(), at(3000, 2000));
                list->setCurrentIndex(3);
                list->hidePopup();
                break;
            }
        }
        QApplication::processEvents();
    }
};

// Button 1 holds key 1, a modal window comes and goes, then button 2 strikes Q with button 1
// still down, and both are let go: every note struck ends once, on its own channel.
TEST_F(ModalDialogsTest, AMouseGestureAcrossAModalWindowLeavesNoNoteSounding) {
    const struct {
        const char* what;
        Path path;
        Qt::MouseButton firstUp;
    } cases[] = {
        {"F2, button 1 up first", Path::PerformanceDialog, Qt::LeftButton},
        {"F2, button 2 up first", Path::PerformanceDialog, Qt::RightButton},
        {"F11, button 1 up first", Path::HelpDialog, Qt::LeftButton},
        {"F11, button 2 up first", Path::HelpDialog, Qt::RightButton},
        {"Esc and Cancel, button 1 up first", Path::PrintConfirmation, Qt::LeftButton},
        {"Esc and Cancel, button 2 up first", Path::PrintConfirmation, Qt::RightButton},
        {"channel list, button 1 up first", Path::ChannelList, Qt::LeftButton},
        {"channel list, button 2 up first", Path::ChannelList, Qt::RightButton},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        startWithDialogs();
        const QPoint key1 = at(400, 450);
        const QPoint keyQ = at(700, 1050);
        QTest::mousePress(window(), Qt::LeftButton, {}, key1);
        ASSERT_EQ(recording->messages, (Messages{0x007F3890}));
        goThrough(c.path);
        QTest::mouseMove(window(), keyQ);
        QTest::mousePress(window(), Qt::RightButton, {}, keyQ);
        QTest::mouseRelease(window(), c.firstUp, {}, keyQ);
        QTest::mouseRelease(
            window(), c.firstUp == Qt::LeftButton ? Qt::RightButton : Qt::LeftButton, {}, keyQ);
        QApplication::processEvents();
        EXPECT_EQ(Unbalanced(recording->messages), "");
        const int channel = c.path == Path::ChannelList ? 3 : 0;
        EXPECT_EQ(std::count(recording->messages.begin(), recording->messages.end(),
                             0x007F3990u + channel),
                  1)
            << "Q struck once";
        EXPECT_EQ(markedKeys(), BlackKeysF6);
        EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
        form.reset();
    }
}

// When a dialog closes, the keyboard window takes the keyboard back by itself: nothing else
// does when no window manager runs.
TEST_F(ModalDialogsTest, TheKeyboardComesBackToThePictureWhenADialogCloses) {
    const struct {
        const char* what;
        Path path;
    } cases[] = {
        {"performance dialog", Path::PerformanceDialog},
        {"help dialog", Path::HelpDialog},
        {"print confirmation", Path::PrintConfirmation},
    };
    startWithDialogs();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        goThrough(c.path);
        EXPECT_EQ(QApplication::activeWindow(), form.get());
        EXPECT_EQ(QApplication::focusWidget(), form->picture());
    }
}

}  // namespace
