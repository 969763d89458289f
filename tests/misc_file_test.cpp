#include "misc_file.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <cmath>

#include "form_fixture.h"
#include "songs_folder.h"
#include "temp_file.h"
#include "twips.h"

using namespace performance;
using testing_support::FormTest;

namespace {

using Messages = std::vector<std::uint32_t>;

class MiscFileTest : public FormTest {
  protected:
    void SetUp() override {
        FormTest::SetUp();
        start();
        setFileChooser({});
    }
    void TearDown() override {
        setFileChooser({});
        setPerformanceClock({});
        FormTest::TearDown();
    }
    std::unique_ptr<MiscFile> open() {
        return std::make_unique<MiscFile>(form->noteTables(),
                                          [this](std::int16_t k) { form->BarFunc(k); });
    }
    testing_support::TempFolder folder;
};

QRect twips(const QWidget& w, int left, int top, int width, int height) {
    return ui::twipsRect(left, top, width, height, w);
}

TEST_F(MiscFileTest, LoadsWithItsControlsWhereTheyBelong) {
    auto dialog = open();
    dialog->show();
    QApplication::processEvents();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("自動演奏"));
    // 7935 x 2055 twips at 96 dots an inch, 15 twips a pixel.
    EXPECT_EQ(dialog->size(), QSize(529, 137));
    // Fixed pitch: every half-width character one cell, every full-width one two.
    const QFontMetrics metrics(dialog->font());
    EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("iiiiiiiiii")),
              metrics.horizontalAdvance(QStringLiteral("WWWWWWWWWW")));
    EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("iiiiiiiiii")),
              metrics.horizontalAdvance(QStringLiteral("ドドドドド")));
    EXPECT_NEAR(dialog->font().pointSizeF(), 9.75, 0.01);
    const struct {
        QWidget* widget;
        QString text;
        QRect rect;
    } controls[] = {
        {dialog->Label1(), QStringLiteral("ﾌｧｲﾙ名(&F)："), twips(*dialog, 80, 400, 1200, 225)},
        {dialog->Text1(), QString(), twips(*dialog, 1215, 350, 6625, 330)},
        {dialog->Command3(), QStringLiteral("参照(&R)..."), twips(*dialog, 6440, 840, 1400, 400)},
        {dialog->Command2(), QStringLiteral("実\u3000行"), twips(*dialog, 4970, 1460, 1400, 460)},
        {dialog->Command1(), QStringLiteral("閉じる(&X)"), twips(*dialog, 6440, 1460, 1400, 460)},
        {dialog->Label2(), QStringLiteral(" "), twips(*dialog, 1215, 915, 3720, 225)},
        {dialog->Label3(), QStringLiteral("ﾃﾝﾎﾟ(&T):"), twips(*dialog, 100, 1510, 3720, 225)},
        {dialog->Combo1(), QStringLiteral("126"), twips(*dialog, 1215, 1460, 1000, 300)},
        {dialog->Picture2(), QString(), twips(*dialog, 1215, 0, 6700, 700)},
    };
    for (const auto& c : controls) {
        EXPECT_EQ(c.widget->geometry(), c.rect) << c.widget->metaObject()->className();
        QString text;
        if (auto* label = qobject_cast<QLabel*>(c.widget)) text = label->text();
        if (auto* button = qobject_cast<QPushButton*>(c.widget)) text = button->text();
        if (auto* edit = qobject_cast<QLineEdit*>(c.widget)) text = edit->text();
        if (auto* combo = qobject_cast<QComboBox*>(c.widget)) text = combo->currentText();
        if (!c.text.isNull()) {
            EXPECT_EQ(text, c.text);
        }
    }
    QStringList tempos;
    for (int i = 0; i < dialog->Combo1()->count(); ++i) tempos << dialog->Combo1()->itemText(i);
    EXPECT_EQ(tempos, (QStringList{"108", "126", "138", "150", "168"}));
    EXPECT_EQ(dialog->engine().TimeUnit, TimeUnitForTempo(126));
    EXPECT_EQ(dialog->engine().Playing, 0);
    EXPECT_EQ(dialog->Label1()->buddy(), dialog->Text1());
    EXPECT_EQ(dialog->Label3()->buddy(), dialog->Combo1());
    EXPECT_EQ(QApplication::focusWidget(), dialog->Text1());
    // Tab order: name, browse, execute, close, tempo, the key tape's choice (off).
    EXPECT_FALSE(dialog->Check1()->isChecked());
    QWidget* expected[] = {dialog->Command3(), dialog->Command2(), dialog->Command1(),
                           dialog->Combo1(),   dialog->Check1(),   dialog->Text1()};
    QWidget* w = dialog->Text1();
    for (QWidget* next : expected) {
        do {
            w = w->nextInFocusChain();
        } while (w->focusPolicy() == Qt::NoFocus || !w->isVisible());
        EXPECT_EQ(w, next);
    }
    // The explanation in dark red.
    const QImage strip = dialog->Picture2()->grab().toImage();
    bool darkRed = false;
    for (int y = 0; y < strip.height() && !darkRed; ++y) {
        for (int x = 0; x < strip.width() && !darkRed; ++x) {
            darkRed = strip.pixelColor(x, y) == QColor(128, 0, 0);
        }
    }
    EXPECT_TRUE(darkRed);
    EXPECT_EQ(dialog->engine().KeyOfNote[100], 13) << "ド is E in the standard layout";
}

TEST_F(MiscFileTest, TheCommandLineTextGoesIntoTheNameBoxAsItIs) {
    Module1::CommandLineFile = "\"C:\\曲\\a song.txt\" ";
    auto dialog = open();
    EXPECT_EQ(dialog->Text1()->text(), QStringLiteral("\"C:\\曲\\a song.txt\" "));
}

TEST_F(MiscFileTest, TheFileChooserIsAskedAsItShouldAndItsAnswerTaken) {
    std::vector<FileChooserRequest> requests;
    std::optional<QString> answer = QStringLiteral("/music/tune.txt");
    setFileChooser([&](QWidget*, const FileChooserRequest& r) {
        requests.push_back(r);
        return answer;
    });
    auto dialog = open();
    dialog->Command3_Click();
    EXPECT_EQ(dialog->Text1()->text(), QStringLiteral("/music/tune.txt"));
    answer.reset();
    dialog->Text1()->setText(QStringLiteral("dropped.txt"));
    dialog->Command3_Click();
    EXPECT_EQ(dialog->Text1()->text(), QStringLiteral("dropped.txt")) << "cancel keeps the name";
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].title, QStringLiteral("ファイルの選択"));
    EXPECT_EQ(
        requests[0].filters,
        (QStringList{QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ(*.txt)"),
                     QStringLiteral("MIDI・MusicXML(*.mid *.midi *.kar *.musicxml *.xml *.mxl)"),
                     QStringLiteral("全てのﾌｧｲﾙ(*.*)")}));
    EXPECT_TRUE(requests[0].preselected.isEmpty());
    EXPECT_EQ(requests[1].preselected, QStringLiteral("/music/tune.txt"));
}

TEST_F(MiscFileTest, ADropOfThreeFilesTakesTheFirstAndADropOfTextNothing) {
    auto dialog = open();
    dialog->show();
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/a/first.txt"), QUrl::fromLocalFile("/a/second.mid"),
                   QUrl::fromLocalFile("/a/third")});
    const QPointF at(5, 5);
    // A drop arrives after the drag has entered the box.
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dialog->Text1(), &enter);
    QDropEvent drop(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dialog->Text1(), &drop);
    EXPECT_EQ(dialog->Text1()->text(), QStringLiteral("/a/first.txt"));
    QMimeData text;
    text.setText(QStringLiteral("ド2,レ2"));
    QDragEnterEvent textEnter(at.toPoint(), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dialog->Text1(), &textEnter);
    QDropEvent textDrop(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dialog->Text1(), &textDrop);
    EXPECT_EQ(dialog->Text1()->text(), QStringLiteral("/a/first.txt"));
}

TEST_F(MiscFileTest, AMissingFileIsReportedWithAnExclamation) {
    auto dialog = open();
    dialog->Text1()->setText(QStringLiteral("ない.txt"));
    dialog->Command2_Click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("「ない.txt」ﾌｧｲﾙはありません。"));
    EXPECT_EQ(boxes[0].caption, QStringLiteral("ムルテカ"));
    EXPECT_EQ(boxes[0].icon, ui::Icon::Exclamation);
}

TEST_F(MiscFileTest, WhilePlayingOnlyTheTempoAndCancelStayUsable) {
    auto dialog = open();
    dialog->Combo1()->setCurrentIndex(4);  // 168
    dialog->Text1()->setText(QString::fromStdString(folder.write("t.txt", "ド1,レ1")));
    dialog->show();
    struct {
        bool text, browse, close, tempo, button;
        QString caption, status;
    } during{};
    QTimer::singleShot(30, [&] {
        during = {dialog->Text1()->isEnabled(),    dialog->Command3()->isEnabled(),
                  dialog->Command1()->isEnabled(), dialog->Combo1()->isEnabled(),
                  dialog->Command2()->isEnabled(), dialog->Command2()->text(),
                  dialog->Label2()->text()};
    });
    dialog->Command2_Click();
    EXPECT_FALSE(during.text);
    EXPECT_FALSE(during.browse);
    EXPECT_FALSE(during.close);
    EXPECT_TRUE(during.tempo);
    EXPECT_TRUE(during.button);
    EXPECT_EQ(during.caption, QStringLiteral("ｷｬﾝｾﾙ"));
    EXPECT_EQ(during.status, QStringLiteral("  演奏中"));
    EXPECT_TRUE(dialog->Text1()->isEnabled());
    EXPECT_TRUE(dialog->Command1()->isEnabled());
    EXPECT_TRUE(dialog->Command3()->isEnabled());
    EXPECT_EQ(dialog->Command2()->text(), QStringLiteral("実\u3000行"));
    EXPECT_EQ(dialog->Label2()->text(), QStringLiteral(" "));
    EXPECT_EQ(recording->messages, (Messages{0x007F3C90, 0x00003C90, 0x007F3E90, 0x00003E90}));
    EXPECT_EQ(markedKeys().size(), 14u) << "every key back at rest";
}

// The tempo list is picked from the keyboard during the first of three quarter notes, on a
// clock that moves only when the performance waits.
TEST_F(MiscFileTest, ATempoPickedInTheListDuringAPerformanceSetsTheSpeedFromTheNextToken) {
    auto dialog = open();
    const Clock::time_point start{};
    Clock::time_point now = start;
    std::vector<std::int64_t> deadlines;  // µs from the start
    setPerformanceClock({[&] { return now; },
                         [&](Clock::time_point deadline) {
                             if (deadlines.empty()) {
                                 QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
                                 QApplication::sendEvent(dialog->Combo1(), &end);
                             }
                             now = std::max(now, deadline);
                             deadlines.push_back(std::llround(
                                 std::chrono::duration<double, std::micro>(now - start).count()));
                         }});
    dialog->Text1()->setText(QString::fromStdString(folder.write("t.txt", "ド4,レ4,ミ4")));
    dialog->Command2_Click();
    EXPECT_EQ(dialog->Combo1()->currentText(), QStringLiteral("168"));
    // A quarter note lasts 60/126 s, then 60/168 s; the end message stays 1.9 s.
    const std::vector<std::int64_t> expected = {476190, 833333, 1190476, 3090476};
    ASSERT_EQ(deadlines.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(deadlines[i], expected[i], 1) << i;
}

// The key tape over the keyboard, on a clock that moves only when the performance waits: where
// its now line stands as each token begins (-1: no tape), first with the choice off.
TEST_F(MiscFileTest, TheKeyTapeShowsWhileAFilePlaysOnlyWhenChosen) {
    auto dialog = open();
    dialog->SetTapeWindow(form.get());
    const QSize size = form->size();
    Clock::time_point now{};
    std::vector<double> positions;
    setPerformanceClock({[&] { return now; },
                         [&](Clock::time_point deadline) {
                             auto* tape = static_cast<practice::KeyTapeView*>(form->TopStrip());
                             positions.push_back(tape != nullptr ? *tape->Position() : -1);
                             now = std::max(now, deadline);
                         }});
    dialog->Text1()->setText(QString::fromStdString(folder.write("t.txt", "ド4,-4,レ2,ミ2")));
    dialog->Command2_Click();
    dialog->Check1()->setChecked(true);
    dialog->Command2_Click();
    // Four tokens and the end message's pause, twice.
    EXPECT_EQ(positions, (std::vector<double>{-1, -1, -1, -1, -1, 0, 4, 8, 10, -1}));
    EXPECT_EQ(form->size(), size);
}

TEST_F(MiscFileTest, ClosingDuringAPerformanceEndsItAfterTheCurrentTokenThenCloses) {
    auto dialog = open();
    dialog->Text1()->setText(QString::fromStdString(folder.write("t.txt", "ド:ミ4,レ4,ミ4")));
    QTimer::singleShot(0, [&] { dialog->Command2_Click(); });
    QTimer::singleShot(100, [&] {
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_TRUE(dialog->engine().running());
        EXPECT_EQ(recording->messages, (Messages{0x007F3C90, 0x007F4090})) << "ド:ミ sounding";
        EXPECT_TRUE(marked(13) && marked(15));
        dialog->close();
    });
    const int result = dialog->exec();
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(recording->messages, (Messages{0x007F3C90, 0x007F4090, 0x00003C90, 0x00004090}));
    EXPECT_EQ(markedKeys().size(), 14u);
}

TEST_F(MiscFileTest, EscapeAndTheCloseButtonCloseTheIdleDialog) {
    for (const bool byEscape : {true, false}) {
        auto dialog = open();
        QTimer::singleShot(0, [&] { byEscape ? dialog->reject() : dialog->Command1()->click(); });
        dialog->exec();
        EXPECT_FALSE(dialog->isVisible());
    }
}

TEST_F(MiscFileTest, F2OpensTheDialogModallyAndReleasesHeldKeysFirst) {
    keyboard::Form1Hooks hooks;
    bool opened = false;
    hooks.showAutoPerformance = [&] {
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<MiscFile*>(QApplication::activeModalWidget());
            opened = dialog != nullptr && dialog->Text1()->text().isEmpty();
            if (dialog) dialog->close();
        });
        ShowMiscFile(*form);
    };
    start({}, hooks);
    press(Qt::Key_Q, 24);
    press(Qt::Key_F2);
    EXPECT_TRUE(opened);
    EXPECT_EQ(recording->messages, (Messages{0x007F3990, 0x00003990}));
}

TEST(SongsFolder, IsFoundBesideTheProgramFirstThenInTheDesktopsDataFolders) {
    testing_support::TempFolder folder;
    const QString root = QString::fromStdString(folder.path().string());
    for (const char* dir : {"usr/bin", "usr/share/muruteka/songs", "data1/muruteka/songs",
                            "data0/muruteka", "build/src/app"}) {
        std::filesystem::create_directories(folder.path() / dir);
    }
    // A file where the folder should be is no songs folder.
    folder.write("data0/muruteka/songs", "ド4", false);
    const struct {
        const char* programDir;
        QStringList dataDirs;
        QString expected;
    } cases[] = {
        {"usr/bin", {root + "/data1"}, root + "/usr/share/muruteka/songs"},
        {"build/src/app",
         {root + "/data0", root + "/nowhere", root + "/data1"},
         root + "/data1/muruteka/songs"},
        {"build/src/app", {root + "/data0"}, QString()},
        {"build/src/app", {}, QString()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SongsFolder(root + "/" + c.programDir, c.dataDirs), c.expected)
            << c.programDir << " " << c.dataDirs.join(' ').toStdString();
    }
}

TEST_F(MiscFileTest, TheChooserOffersTheInstalledSongsAmongItsPlacesOnlyWhenThereAreSome) {
    const QByteArray oldDirs = qgetenv("XDG_DATA_DIRS");
    const QByteArray oldHome = qgetenv("XDG_DATA_HOME");
    const QString data = QString::fromStdString(folder.path().string());
    qputenv("XDG_DATA_HOME", (data + "/home").toLocal8Bit());
    qputenv("XDG_DATA_DIRS", (data + "/system").toLocal8Bit());
    std::vector<FileChooserRequest> requests;
    setFileChooser([&](QWidget*, const FileChooserRequest& r) {
        requests.push_back(r);
        return std::nullopt;
    });
    auto dialog = open();
    dialog->Command3_Click();
    std::filesystem::create_directories(folder.path() / "system/muruteka/songs");
    dialog->Command3_Click();
    qputenv("XDG_DATA_DIRS", oldDirs);
    qputenv("XDG_DATA_HOME", oldHome);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[0].places.isEmpty());
    EXPECT_EQ(requests[1].places, QStringList{data + "/system/muruteka/songs"});
}

}  // namespace

// A MIDI file named: the dialog grows by a row with its parts and hands and what fitting does,
// and Execute plays the imported notes; a music file named again takes the row away.
TEST_F(MiscFileTest, AMidiFileBringsItsPartsAndPlaysTheChosenOne) {
    auto dialog = open();
    dialog->show();
    // Two tracks: ド on channel 1, then ミ on channel 2 (a quarter note each, 96 ticks).
    const std::string midi(
        "MThd\0\0\0\6\0\1\0\2\0\x60"
        "MTrk\0\0\0\x0B\0\x90\x3C\x40\x60\x3C\0\0\xFF\x2F\0"
        "MTrk\0\0\0\x0B\0\x91\x40\x40\x60\x40\0\0\xFF\x2F\0",
        52);
    dialog->Text1()->setText(QString::fromStdString(folder.write("two.mid", midi, false)));
    QApplication::processEvents();
    EXPECT_EQ(dialog->size(), QSize(529, 184));
    ASSERT_EQ(dialog->Combo2()->count(), 3);
    EXPECT_EQ(dialog->Combo2()->itemText(2), QStringLiteral("2: トラック2"));
    EXPECT_EQ(dialog->Label5()->text(), QStringLiteral("トラック1: そのまま弾けます"));
    dialog->Combo2()->setCurrentIndex(2);
    setPerformanceClock({[] { return Clock::time_point{}; }, [](Clock::time_point) {}});
    dialog->Command2_Click();
    EXPECT_EQ(recording->messages, (Messages{0x007F4090, 0x00004090}));
    dialog->Text1()->setText(QString::fromStdString(folder.write("t.txt", "ド4")));
    QApplication::processEvents();
    EXPECT_EQ(dialog->size(), QSize(529, 137));
    EXPECT_TRUE(dialog->Combo2()->isHidden());
}
