#include <QMouseEvent>
#include <QtTest/QTest>
#include <functional>

#include "form_fixture.h"

using testing_support::FormTest;

namespace {

using Messages = std::vector<std::uint32_t>;

struct Edge {
    const char* what;
    float x, y;
    int key;           // 0: no key there
    std::uint32_t on;  // the note-on it sends in the standard layout, 0: none
};

// The first and last key of each row, at the exact edges of their caps and bands.
const Edge Edges[] = {
    {"1 left top", 200, 200, 1, 0x007F3890},    {"0 right bottom", 6100, 700, 10, 0},
    {"Q left top", 500, 800, 11, 0x007F3990},   {"P right bottom", 6400, 1300, 20, 0x007F4890},
    {"A left top", 700, 1400, 21, 0x007F4990},  {"L right bottom", 6000, 1900, 29, 0x007F5790},
    {"Z left top", 1000, 2000, 30, 0x007F4A90}, {"M right bottom", 5100, 2500, 36, 0x007F5490},
    {"left of 1", 199.9f, 400, 0, 0},           {"gap after Q", 1000.5f, 1000, 0, 0},
    {"between rows", 800, 750, 0, 0},           {"below Z row", 1200, 2500.5f, 0, 0},
    {"right of M", 5100.1f, 2200, 0, 0},
};

TEST_F(FormTest, PressAndReleaseAtTheExactEdgesOfEachRowsEndKeys) {
    start();
    const auto resting = form->picture()->image().copy();
    for (const auto& e : Edges) {
        recording->messages.clear();
        form->Picture1_MouseMove(e.x, e.y);
        EXPECT_EQ(form->MouseKey(), e.key) << e.what;
        form->Picture1_MouseDown();
        if (e.key != 0) {
            EXPECT_NE(form->picture()->image(), resting) << e.what;
        }
        form->Picture1_MouseUp();
        EXPECT_EQ(form->picture()->image(), resting) << e.what;
        // A note ends with a note-on of velocity 0.
        const Messages expected = e.on == 0 ? Messages{} : Messages{e.on, e.on & 0xFFFF};
        EXPECT_EQ(recording->messages, expected) << e.what;
    }
}

TEST_F(FormTest, DraggingOffAndBackMovesTheMarkButNotTheNote) {
    start();
    form->Picture1_MouseMove(600, 1000);  // Q
    form->Picture1_MouseDown();
    EXPECT_TRUE(marked(11));
    form->Picture1_MouseMove(1200, 1000);  // W
    EXPECT_FALSE(marked(11));
    EXPECT_FALSE(marked(12));
    form->Picture1_MouseMove(1050, 1000);  // the gap
    form->Picture1_MouseMove(600, 1000);
    EXPECT_TRUE(marked(11));
    form->Picture1_MouseUp();
    EXPECT_FALSE(marked(11));
    EXPECT_EQ(recording->messages, (Messages{0x007F3990, 0x00003990}));
}

TEST_F(FormTest, AReleaseAwayFromThePlayedKeyStillEndsItsNote) {
    start();
    form->Picture1_MouseMove(600, 1000);
    form->Picture1_MouseDown();
    form->Picture1_MouseMove(3000, 2800);
    form->Picture1_MouseUp();
    EXPECT_EQ(recording->messages, (Messages{0x007F3990, 0x00003990}));
    EXPECT_EQ(markedKeys(), (std::vector<int>{1, 2, 4, 5, 7, 8, 9, 21, 22, 24, 25, 26, 28, 29}));
}

TEST_F(FormTest, ASecondButtonOnAnotherKeyEndsTheFirstNote) {
    start();
    form->Picture1_MouseMove(600, 1000);  // Q
    form->Picture1_MouseDown();
    form->Picture1_MouseMove(1200, 1000);  // W
    form->Picture1_MouseDown();
    EXPECT_FALSE(marked(11));
    EXPECT_TRUE(marked(12));
    form->Picture1_MouseDown();  // again on the key it plays: nothing
    form->Picture1_MouseUp();
    form->Picture1_MouseUp();
    EXPECT_EQ(recording->messages, (Messages{0x007F3990, 0x00003990, 0x007F3B90, 0x00003B90}));
    EXPECT_FALSE(marked(12));
}

TEST_F(FormTest, ABlackKeyPlayedByMouseLosesItsMarkWhileHeld) {
    start();
    form->Picture1_MouseMove(300, 400);  // key 1
    form->Picture1_MouseDown();
    EXPECT_FALSE(marked(1));
    form->Picture1_MouseUp();
    EXPECT_TRUE(marked(1));
    EXPECT_EQ(recording->messages, (Messages{0x007F3890, 0x00003890}));
}

TEST_F(FormTest, RealMouseEventsArriveInPictureUnits) {
    start();
    auto* picture = form->picture();
    const QPointF onQ(picture->toPixelX(700), picture->toPixelY(1100));
    QMouseEvent down(QEvent::MouseButtonPress, onQ, picture->mapToGlobal(onQ), Qt::RightButton,
                     Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &down);
    EXPECT_TRUE(marked(11));
    QMouseEvent up(QEvent::MouseButtonRelease, onQ, picture->mapToGlobal(onQ), Qt::RightButton,
                   Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &up);
    EXPECT_EQ(recording->messages, (Messages{0x007F3990, 0x00003990}));
}

}  // namespace

namespace {

// However the window loses the mouse while a button plays Q, Q's note ends at once, once, on the
// channel it started on, and the picture lets the mouse go; the releases that come later (if any
// do) find nothing to end.
TEST_F(FormTest, EveryWayOfLosingTheMouseEndsItsNoteOnce) {
    const struct {
        const char* what;
        std::function<void(keyboard::Form1&)> lose;
    } cases[] = {
        {"a modal window opens",
         [](keyboard::Form1& f) {
             QEvent blocked(QEvent::WindowBlocked);
             QApplication::sendEvent(&f, &blocked);
         }},
        {"the hold on the mouse is taken",
         [](keyboard::Form1& f) {
             QEvent ungrab(QEvent::UngrabMouse);
             QApplication::sendEvent(f.picture(), &ungrab);
         }},
        {"the window is hidden", [](keyboard::Form1& f) { f.hide(); }},
        {"the channel list takes the focus",
         [](keyboard::Form1& f) {
             f.channelList()->show();
             f.channelList()->setFocus();
         }},
        {"another window becomes active",
         [](keyboard::Form1&) {
             auto* other = new QWidget;
             other->setAttribute(Qt::WA_DeleteOnClose);
             other->show();
             other->activateWindow();
             QApplication::processEvents();
             other->close();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        start();
        QWindow* window = form->windowHandle();
        const QPoint onQ(form->picture()->toPixelX(700), form->picture()->toPixelY(1050));
        QTest::mousePress(window, Qt::LeftButton, {}, onQ);
        form->channelList()->setCurrentIndex(5);
        c.lose(*form);
        QApplication::processEvents();
        EXPECT_EQ(recording->messages, (Messages{0x007F3990, 0x00003990}));
        EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
        form->show();
        QApplication::processEvents();
        EXPECT_EQ(markedKeys(),
                  (std::vector<int>{1, 2, 4, 5, 7, 8, 9, 21, 22, 24, 25, 26, 28, 29}));
        QTest::mouseRelease(window, Qt::LeftButton, {}, onQ);
        EXPECT_EQ(recording->messages.size(), 2u);
        form.reset();
    }
}

}  // namespace
