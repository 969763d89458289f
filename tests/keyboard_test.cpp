#include <QResizeEvent>

#include "form_fixture.h"
#include "twips.h"

using testing_support::FormTest;

namespace {

using Messages = std::vector<std::uint32_t>;
using keyboard::KeyCount;

const std::vector<int> BlackKeysF6 = {1, 2, 4, 5, 7, 8, 9, 21, 22, 24, 25, 26, 28, 29};

bool helpHintShown(const keyboard::Picture1& picture) {
    const QRect area(QPoint(picture.toPixelX(200), picture.toPixelY(2600)),
                     QPoint(picture.toPixelX(1500), picture.toPixelY(2950)));
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (picture.image().pixelColor(x, y) != QColor(192, 192, 192)) return true;
        }
    }
    return false;
}

TEST_F(FormTest, AtStartTheFourteenBlackKeysAreMarkedAndNothingElse) {
    start();
    EXPECT_EQ(markedKeys(), BlackKeysF6);
    EXPECT_TRUE(helpHintShown(*form->picture()));
}

TEST_F(FormTest, QSoundsWhileHeldAndItsReleaseRestoresThePictureExactly) {
    start();
    const QImage before = form->picture()->image().copy();
    press(Qt::Key_Q, 24);
    EXPECT_EQ(recording->messages, Messages{0x007F3990});
    EXPECT_TRUE(marked(11));
    release(Qt::Key_Q, 24);
    EXPECT_EQ(recording->messages, (Messages{0x007F3990, 0x00003990}));
    EXPECT_EQ(form->picture()->image(), before);
}

TEST_F(FormTest, AutoRepeatNeitherStrikesAgainNorReleases) {
    start();
    press(Qt::Key_Q, 24);
    for (int i = 0; i < 5; ++i) {
        key(QEvent::KeyRelease, Qt::Key_Q, 24, Qt::NoModifier, true);
        key(QEvent::KeyPress, Qt::Key_Q, 24, Qt::NoModifier, true);
    }
    EXPECT_EQ(recording->messages, Messages{0x007F3990});
    EXPECT_TRUE(marked(11));
    release(Qt::Key_Q, 24);
    EXPECT_EQ(recording->messages, (Messages{0x007F3990, 0x00003990}));
}

TEST_F(FormTest, ModifiersAndKeyboardLayoutsDoNotChangeWhichKeyPlays) {
    struct Case {
        const char* what;
        int pressKey;
        int releaseKey;
        quint32 scan;
        Qt::KeyboardModifiers mods;
        std::uint32_t on;
    };
    const Case cases[] = {
        {"Shift+Q", Qt::Key_Q, Qt::Key_Q, 24, Qt::ShiftModifier, 0x007F3990},
        {"Ctrl+Q", Qt::Key_Q, Qt::Key_Q, 24, Qt::ControlModifier, 0x007F3990},
        {"Shift+1 released after Shift", Qt::Key_Exclam, Qt::Key_1, 10, Qt::ShiftModifier,
         0x007F3890},
        {"Shift+1 without a key position", Qt::Key_Exclam, Qt::Key_1, 0, Qt::ShiftModifier,
         0x007F3890},
        {"AZERTY: the key in Q's place", Qt::Key_A, Qt::Key_A, 24, Qt::NoModifier, 0x007F3990},
        {"QWERTZ: the key in Z's place", Qt::Key_Y, Qt::Key_Y, 52, Qt::NoModifier, 0x007F4A90},
    };
    for (const auto& c : cases) {
        start();
        press(c.pressKey, c.scan, c.mods);
        release(c.releaseKey, c.scan);
        EXPECT_EQ(recording->messages, (Messages{c.on, c.on & 0xFFFF})) << c.what;
    }
    start();
    press(Qt::Key_Shift);
    release(Qt::Key_Shift);
    EXPECT_TRUE(recording->messages.empty());
}

TEST_F(FormTest, AKeyWithoutANoteIsMarkedButSilent) {
    start();
    press(Qt::Key_3, 12);
    EXPECT_TRUE(marked(3));
    release(Qt::Key_3, 12);
    EXPECT_FALSE(marked(3));
    EXPECT_TRUE(recording->messages.empty());
}

TEST_F(FormTest, TwoKeysTogetherEachEndByTheirOwnRelease) {
    start();
    press(Qt::Key_Q, 24);
    press(Qt::Key_W, 25);
    release(Qt::Key_Q, 24);
    release(Qt::Key_W, 25);
    EXPECT_EQ(recording->messages, (Messages{0x007F3990, 0x007F3B90, 0x00003990, 0x00003B90}));
}

TEST_F(FormTest, LayoutKeysRelabelAndDropTheHelpHintUntilTheNextResize) {
    start();
    const struct {
        int key;
        std::uint32_t qNote;
    } layouts[] = {{Qt::Key_F4, 0x007F3C90},
                   {Qt::Key_F5, 0x007F3B90},
                   {Qt::Key_F7, 0x007F3790},
                   {Qt::Key_F6, 0x007F3990}};
    for (const auto& layout : layouts) {
        press(layout.key);
        release(layout.key);
        recording->messages.clear();
        press(Qt::Key_Q, 24);
        release(Qt::Key_Q, 24);
        EXPECT_EQ(recording->messages.front(), layout.qNote);
        EXPECT_FALSE(helpHintShown(*form->picture()));
    }
    EXPECT_EQ(markedKeys(), BlackKeysF6);
    form->resize(form->size() + QSize(10, 10));
    QApplication::processEvents();
    EXPECT_TRUE(helpHintShown(*form->picture()));
}

TEST(FontSize, GrowsOnlyPastBothThresholds) {
    const struct {
        double height, width;
        int size;
    } cases[] = {{3000, 7005, 11},  {5000, 12001, 11}, {5001, 12000, 11},
                 {5001, 12001, 22}, {5000, 12000, 11}, {9000, 20000, 22}};
    for (const auto& c : cases) {
        EXPECT_EQ(keyboard::FontSizeForPicture(c.height, c.width), c.size)
            << c.height << " x " << c.width;
    }
}

TEST_F(FormTest, ResizingStretchesThePictureAndPicksTheFont) {
    start();
    EXPECT_EQ(form->picture()->FontSize(), 11);
    form->resize(ui::twipsToPixelsX(15000, *form), ui::twipsToPixelsY(6000, *form));
    QApplication::processEvents();
    EXPECT_EQ(form->picture()->size(), form->size());
    EXPECT_EQ(form->picture()->FontSize(), 22);
    EXPECT_EQ(markedKeys(), BlackKeysF6);
    form->resize(ui::twipsToPixelsX(12000, *form), ui::twipsToPixelsY(6000, *form));
    QApplication::processEvents();
    EXPECT_EQ(form->picture()->FontSize(), 11) << "exactly 12000 twips wide keeps 11 points";
    form->showMinimized();
    QApplication::processEvents();
    EXPECT_EQ(markedKeys(), BlackKeysF6);
}

// Restoring from minimized keeps the size, so no resize comes; the window must still be redrawn
// as a size change redraws it: the font of its size, the current layout, the help hint.
TEST_F(FormTest, RestoringFromMinimizedRedrawsAsASizeChangeDoes) {
    const struct {
        const char* what;
        int widthTwips, heightTwips;
    } cases[] = {{"design size", 7005, 3000}, {"enlarged, 22 points", 15000, 6000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        start();
        form->resize(ui::twipsToPixelsX(c.widthTwips, *form),
                     ui::twipsToPixelsY(c.heightTwips, *form));
        QApplication::processEvents();
        press(Qt::Key_F4);
        release(Qt::Key_F4);
        // What a size change draws in this layout: shrink and grow back.
        const QSize size = form->size();
        form->resize(size - QSize(1, 1));
        form->resize(size);
        QApplication::processEvents();
        const QImage afterResize = form->picture()->image().copy();
        ASSERT_TRUE(helpHintShown(*form->picture()));
        press(Qt::Key_F4);
        release(Qt::Key_F4);
        ASSERT_FALSE(helpHintShown(*form->picture()));

        form->setWindowState(Qt::WindowMinimized);
        QApplication::processEvents();
        EXPECT_FALSE(helpHintShown(*form->picture())) << "minimizing draws nothing";
        form->setWindowState(Qt::WindowNoState);
        QApplication::processEvents();
        EXPECT_TRUE(helpHintShown(*form->picture()));
        EXPECT_EQ(form->picture()->image(), afterResize);
        EXPECT_EQ(markedKeys(), (std::vector<int>{2, 3, 5, 6, 7, 9, 10, 22, 23, 24, 26, 27, 29}));
        form.reset();
    }
}

TEST_F(FormTest, BarFuncTogglesAndIgnoresKeyNumbersBelowOne) {
    start();
    const QImage before = form->picture()->image().copy();
    for (std::int16_t k : {0, -1, -99}) form->BarFunc(k);
    EXPECT_EQ(form->picture()->image(), before);
    for (int k = 1; k <= KeyCount; ++k) {
        form->BarFunc(static_cast<std::int16_t>(k));
        EXPECT_NE(form->picture()->image(), before) << k;
        form->BarFunc(static_cast<std::int16_t>(k));
        EXPECT_EQ(form->picture()->image(), before) << k;
    }
    form->SetPrinting(true);
    form->BarFunc(11);
    form->SetPrinting(false);
    EXPECT_EQ(form->picture()->image(), before);
}

// A key released after a layout change ends the note its press started, and its square ends at
// rest on the new drawing.
TEST_F(FormTest, AKeyHeldAcrossALayoutChangeEndsItsOwnNote) {
    start();
    press(Qt::Key_Q, 24);  // F6: Q plays -3
    press(Qt::Key_F4);
    release(Qt::Key_F4);
    EXPECT_TRUE(marked(11)) << "still sounding, so shown marked on the new drawing";
    release(Qt::Key_Q, 24);
    EXPECT_EQ(recording->messages, (Messages{0x007F3990, 0x00003990}));
    EXPECT_FALSE(marked(11));
    EXPECT_EQ(markedKeys(), (std::vector<int>{2, 3, 5, 6, 7, 9, 10, 22, 23, 24, 26, 27, 29}));
}

TEST_F(FormTest, ABlackKeyHeldAcrossAResizeReturnsToItsMark) {
    start();
    press(Qt::Key_1, 10);
    EXPECT_FALSE(marked(1));
    form->resize(form->size() + QSize(20, 0));
    QApplication::processEvents();
    EXPECT_FALSE(marked(1));
    release(Qt::Key_1, 10);
    EXPECT_TRUE(marked(1));
}

TEST_F(FormTest, ANoteEndsOnTheChannelItStartedOn) {
    start();
    press(Qt::Key_Q, 24);
    form->channelList()->setCurrentIndex(5);
    release(Qt::Key_Q, 24);
    EXPECT_EQ(recording->messages, (Messages{0x007F3990, 0x00003990}));
}

TEST_F(FormTest, LosingTheFocusReleasesEveryHeldKeyAndTheMouse) {
    start();
    press(Qt::Key_Q, 24);
    press(Qt::Key_1, 10);
    form->Picture1_MouseMove(1900, 1000);  // E
    form->Picture1_MouseDown();
    ASSERT_EQ(recording->messages.size(), 3u);
    form->channelList()->show();
    form->channelList()->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(recording->messages,
              (Messages{0x007F3990, 0x007F3890, 0x007F3C90, 0x00003890, 0x00003990, 0x00003C90}));
    EXPECT_EQ(form->KeyHeld('Q'), 0);
    EXPECT_EQ(form->KeyHeld('1'), 0);
    EXPECT_EQ(markedKeys(), BlackKeysF6);
    // The releases that come later find nothing left to end.
    form->picture()->setFocus();
    release(Qt::Key_Q, 24);
    form->Picture1_MouseUp();
    EXPECT_EQ(recording->messages.size(), 6u);
}

}  // namespace

namespace {

TEST_F(FormTest, AKeyMarkedByAPerformanceKeepsItsMarkAcrossAResize) {
    start();
    form->BarFunc(13);  // a performance sounds ド on E
    form->resize(form->size() + QSize(0, 30));
    QApplication::processEvents();
    EXPECT_TRUE(marked(13));
    form->BarFunc(13);
    EXPECT_EQ(markedKeys(), BlackKeysF6);
}

}  // namespace

namespace {

// X11 sends a held key's repeats as release-press pairs with one time; when they arrive unmarked
// the release is taken back, and a real release ends the note a moment later.
TEST_F(FormTest, AnUnmarkedRepeatPairWithOneTimeIsNoReleaseAndRealReleasesStillEnd) {
    start();
    auto timed = [this](QEvent::Type type, quint64 time) {
        QKeyEvent event(type, Qt::Key_Q, Qt::NoModifier, 24, 0, 0, QStringLiteral("q"));
        event.setTimestamp(time);
        QApplication::sendEvent(form->picture(), &event);
    };
    timed(QEvent::KeyPress, 1000);
    timed(QEvent::KeyRelease, 1500);
    timed(QEvent::KeyPress, 1500);
    timed(QEvent::KeyRelease, 1530);
    timed(QEvent::KeyPress, 1530);
    Module1::Wait(0.02f);
    EXPECT_EQ(recording->messages, Messages{0x007F3990});
    timed(QEvent::KeyRelease, 2000);
    EXPECT_EQ(recording->messages, Messages{0x007F3990}) << "the release waits for a press";
    Module1::Wait(0.02f);
    EXPECT_EQ(recording->messages, (Messages{0x007F3990, 0x00003990}));
    // A new press at another time is a new note; the release before it ends the old one first.
    timed(QEvent::KeyPress, 3000);
    timed(QEvent::KeyRelease, 3100);
    timed(QEvent::KeyPress, 3200);
    EXPECT_EQ(recording->messages,
              (Messages{0x007F3990, 0x00003990, 0x007F3990, 0x00003990, 0x007F3990}));
}

}  // namespace

namespace {

// Every function key acts on each of ten presses, whether it is let go at once or held while the
// window system repeats it (release-press pairs marked as auto-repeat): a key that stayed "held"
// after its first use would act once and never again.
TEST_F(FormTest, EveryFunctionKeyActsOnEachOfTenPressesWithAndWithoutAutoRepeat) {
    int performances = 0, helps = 0;
    keyboard::Form1Hooks hooks;
    hooks.showAutoPerformance = [&] { ++performances; };
    hooks.showHelp = [&] { ++helps; };
    start({}, hooks);
    answer = ui::Answer::Cancel;  // Esc asks before printing
    auto boxesSaying = [this](const char* text) {
        return static_cast<int>(std::count_if(boxes.begin(), boxes.end(), [&](const auto& box) {
            return box.text == QString::fromUtf8(text);
        }));
    };
    quint64 time = 1000;
    auto send = [&](QEvent::Type type, int qtKey, quint32 scan, Qt::KeyboardModifiers mods,
                    bool autoRepeat) {
        QKeyEvent event(type, qtKey, mods, scan, 0, 0, QString(), autoRepeat);
        event.setTimestamp(time += 25);
        QApplication::sendEvent(form->picture(), &event);
    };
    const std::function<int()> qNote = [this] { return form->noteTables().KeyNote[11]; };
    const struct {
        const char* name;
        int qtKey;
        quint32 scan;
        Qt::KeyboardModifiers mods;
        int otherLayout;  // pressed first, so that a layout key has something to change
        std::function<int()> state;
    } cases[] = {
        {"F2", Qt::Key_F2, 68, {}, 0, [&] { return performances; }},
        {"F4", Qt::Key_F4, 70, {}, Qt::Key_F7, qNote},
        {"F5", Qt::Key_F5, 71, {}, Qt::Key_F4, qNote},
        {"F6", Qt::Key_F6, 72, {}, Qt::Key_F4, qNote},
        {"F7", Qt::Key_F7, 73, {}, Qt::Key_F4, qNote},
        {"F11", Qt::Key_F11, 95, {}, 0, [&] { return helps; }},
        {"F12", Qt::Key_F12, 96, {}, 0, [&] { return boxesSaying("ﾊﾞｰｼﾞｮﾝ 1.4.4"); }},
        {"Esc",
         Qt::Key_Escape,
         9,
         {},
         0,
         [&] { return boxesSaying("現在のキー配列を印刷します。"); }},
        {"keypad 0", Qt::Key_0, 90, Qt::KeypadModifier, 0,
         [&] { return static_cast<int>(form->channelList()->isVisible()); }},
    };
    for (const auto& c : cases) {
        for (const bool autoRepeat : {false, true}) {
            for (int press = 1; press <= 10; ++press) {
                if (c.otherLayout != 0) {
                    send(QEvent::KeyPress, c.otherLayout, 0, {}, false);
                    send(QEvent::KeyRelease, c.otherLayout, 0, {}, false);
                }
                const int before = c.state();
                send(QEvent::KeyPress, c.qtKey, c.scan, c.mods, false);
                EXPECT_NE(c.state(), before)
                    << c.name << " press " << press << (autoRepeat ? " with auto-repeat" : "");
                for (int repeat = 0; autoRepeat && repeat < 3; ++repeat) {
                    send(QEvent::KeyRelease, c.qtKey, c.scan, c.mods, true);
                    send(QEvent::KeyPress, c.qtKey, c.scan, c.mods, true);
                }
                send(QEvent::KeyRelease, c.qtKey, c.scan, c.mods, false);
                EXPECT_NE(c.state(), before) << c.name << " released after press " << press;
            }
        }
    }
    EXPECT_TRUE(recording->messages.empty()) << "function keys play no note";
}

}  // namespace
