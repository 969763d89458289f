#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTimer>
#include <fstream>
#include <sstream>

#include "help_menu.h"
#include "help_pages.h"
#include "twips.h"

using namespace help;

namespace {

QString ExpectedPage(const char* name) {
    std::ifstream in(std::string(MURUTEKA_TEST_DATA) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return QString::fromStdString(text.str());
}

TEST(HelpPages, EachPageIsItsTableJoinedWithCrLf) {
    const QString keys = ExpectedPage("help_keys_page.txt");
    const QString music = ExpectedPage("help_music_file_page.txt");
    EXPECT_EQ(QString::fromStdString(KeysPage()), keys);
    EXPECT_EQ(QString::fromStdString(MusicFilePage()), music);
    EXPECT_EQ(keys.size(), 370);
    EXPECT_EQ(music.size(), 1183);
    EXPECT_EQ(music.count(QStringLiteral("\r\n")), 51);
    EXPECT_EQ(RuleLine().size(), 71u);
}

class HelpMenuTest : public ::testing::Test {
  protected:
    HelpMenu dialog;
};

TEST_F(HelpMenuTest, OpensOnTheKeysPageScrolledToTheTop) {
    dialog.show();
    QApplication::processEvents();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("ヘルプ"));
    // 9075 x 4110 twips at 96 dots an inch, 15 twips a pixel.
    EXPECT_EQ(dialog.size(), QSize(605, 274));
    EXPECT_EQ(dialog.Combo1()->currentText(), QStringLiteral("その他のキーの割当て"));
    EXPECT_EQ(dialog.Combo1()->count(), 2);
    EXPECT_EQ(dialog.Combo1()->itemText(1), QStringLiteral("ミュージックファイルの書き方"));
    EXPECT_TRUE(dialog.Combo1()->isVisible());
    EXPECT_TRUE(dialog.Text1()->isVisible());
    EXPECT_EQ(dialog.Text1()->Text(), ExpectedPage("help_keys_page.txt"));
    EXPECT_EQ(dialog.Text1()->verticalScrollBar()->value(), 0);
    EXPECT_EQ(dialog.Text1()->geometry(), ui::twipsRect(210, 500, 8640, 3450, dialog));
    EXPECT_EQ(dialog.Command2()->text(), QStringLiteral("閉じる(&X)"));
    EXPECT_EQ(dialog.Command2()->geometry(), ui::twipsRect(7860, 5, 1080, 370, dialog));
    EXPECT_EQ(dialog.Combo1()->geometry(), ui::twipsRect(105, 5, 2800, 370, dialog));
    EXPECT_EQ(QApplication::focusWidget(), dialog.Text1());
    EXPECT_NEAR(dialog.Text1()->font().pointSizeF(), 11.25, 0.01);
    EXPECT_NEAR(dialog.Combo1()->font().pointSizeF(), 9.0, 0.01);
}

TEST_F(HelpMenuTest, SwitchingPagesBackAndForthGivesTheSameTexts) {
    const QString keys = ExpectedPage("help_keys_page.txt");
    const QString music = ExpectedPage("help_music_file_page.txt");
    for (int round = 0; round < 3; ++round) {
        dialog.Combo1()->setCurrentIndex(1);
        EXPECT_EQ(dialog.Text1()->Text(), music);
        EXPECT_EQ(dialog.Text1()->toPlainText(), QString(music).replace("\r\n", "\n"));
        dialog.Combo1()->setCurrentIndex(0);
        EXPECT_EQ(dialog.Text1()->Text(), keys);
    }
    dialog.ShowHelpTopic(5);
    EXPECT_EQ(dialog.Text1()->Text(), keys) << "an unknown topic leaves the text";
}

TEST_F(HelpMenuTest, TheTextCannotBeEdited) {
    dialog.show();
    const QString before = dialog.Text1()->toPlainText();
    EXPECT_TRUE(dialog.Text1()->isReadOnly());
    QKeyEvent typed(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(dialog.Text1(), &typed);
    QKeyEvent erase(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QApplication::sendEvent(dialog.Text1(), &erase);
    EXPECT_EQ(dialog.Text1()->toPlainText(), before);
}

TEST_F(HelpMenuTest, TheFrameStandsAroundTheLaidOutBox) {
    struct Expected {
        int x1, y1, x2, y2;
        QColor color;
        int width;
    };
    const QColor text = dialog.palette().color(QPalette::WindowText);
    const Expected lines[] = {
        {105, 420, 105, 4025, Qt::white, 1}, {8920, 420, 8920, 4025, Qt::black, 1},
        {105, 420, 8920, 420, Qt::white, 1}, {105, 4025, 8820, 4025, Qt::black, 1},
        {210, 4045, 8950, 4045, text, 3},    {8950, 525, 8950, 4035, text, 3},
    };
    for (std::size_t i = 0; i < 6; ++i) {
        const LineShape& line = dialog.Lines()[i];
        EXPECT_EQ(line.X1, lines[i].x1) << i;
        EXPECT_EQ(line.Y1, lines[i].y1) << i;
        EXPECT_EQ(line.X2, lines[i].x2) << i;
        EXPECT_EQ(line.Y2, lines[i].y2) << i;
        EXPECT_EQ(line.color, lines[i].color) << i;
        EXPECT_EQ(line.widthPixels, lines[i].width) << i;
    }
    // And on screen: the dark bottom edge of the frame at y 4025, left of the shadow.
    dialog.show();
    const QImage shown = dialog.grab().toImage();
    EXPECT_EQ(shown.pixelColor(ui::twipsToPixelsX(4000, dialog), ui::twipsToPixelsY(4025, dialog)),
              QColor(Qt::black));
    EXPECT_EQ(shown.pixelColor(ui::twipsToPixelsX(105, dialog), ui::twipsToPixelsY(2000, dialog)),
              QColor(Qt::white));
}

TEST(HelpFont, ColumnsLineUpForHalfAndFullWidthCharacters) {
    HelpMenu dialog;
    const QFontMetrics metrics(dialog.Text1()->font());
    const int half = metrics.horizontalAdvance(QStringLiteral("=-=-=-=-=-"));
    EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("iiiiiiiiii")), half);
    EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("　「ド」の")), half);
}

TEST(HelpMenuOpening, EachOpeningStartsAgainOnTheFirstPage) {
    for (int opening = 0; opening < 2; ++opening) {
        QString shown;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<HelpMenu*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            shown = dialog->Combo1()->currentText();
            dialog->Combo1()->setCurrentIndex(1);
            dialog->Command2()->click();
        });
        ShowHelpMenu();
        EXPECT_EQ(shown, QStringLiteral("その他のキーの割当て"));
    }
}

}  // namespace
