// A practice in the window against a recording MIDI backend: the messages beyond the player's
// notes, written out, with the built-in synthesizer and on a MIDI port; and Esc during practice.
#include "practice_session.h"

#include <QAccessible>
#include <QDialog>
#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>

#include "form_fixture.h"
#include "practice_dialog.h"
#include "practice_history.h"
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
        EXPECT_EQ(boxes.size(), 2u);  // the result, as Orca hears it in orca_speech.py
        EXPECT_FALSE(practice.Stop());
        boxes.clear();
        form.reset();
    }
    unsetenv("XDG_DATA_HOME");
}

TEST_F(FormTest, ThePracticeDialogOffersSlowTempiAndStartsOnlyWithAFileThere) {
    testing_support::TempFolder folder;
    const std::string song = folder.write("song.txt", "ド4\r\n");
    practice::PracticeDialog dialog({});
    QStringList tempi;
    for (int i = 0; i < dialog.Combo1()->count(); ++i) tempi << dialog.Combo1()->itemText(i);
    EXPECT_EQ(tempi.join(' '), QStringLiteral("60 72 84 96 108 126 138 150 168"));
    EXPECT_FALSE(dialog.Check1()->isEnabled()) << "no metronome while waiting";
    dialog.Option2()->setChecked(true);
    EXPECT_TRUE(dialog.Check1()->isEnabled());
    dialog.Check1()->setChecked(true);
    dialog.Spin1()->setValue(7);
    dialog.Spin2()->setValue(3);
    dialog.Text1()->setText(QString::fromStdString(song + "x"));
    dialog.Command2_Click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QString::fromStdString("「" + song + "x」ﾌｧｲﾙはありません。"));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    performance::setFileChooser([&](QWidget*, const performance::FileChooserRequest&) {
        return std::optional<QString>(QString::fromStdString(song));
    });
    dialog.Command3_Click();
    performance::setFileChooser({});
    dialog.Command2_Click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const practice::PracticeRequest r = dialog.Request();
    EXPECT_EQ(r.file, song);
    EXPECT_TRUE(r.inTime && r.metronome);
    EXPECT_EQ(r.fromLine * 10 + r.toLine, 37) << "a passage given backwards is turned round";
    EXPECT_EQ(r.rampFrom, 0);
    dialog.Combo4()->setCurrentIndex(2);
    EXPECT_EQ(dialog.Combo4()->currentText(), QStringLiteral("72から"));
    EXPECT_EQ(dialog.Request().rampFrom, 72);
}

// A practice in the window (no built-in synthesizer), its history in a folder of its own.
class CoachTest : public FormTest {
  protected:
    void SetUp() override {
        FormTest::SetUp();
        setenv("XDG_DATA_HOME", folder.path().c_str(), 1);
        start({});
        session = std::make_unique<practice::PracticeSession>(*form, false);
        form->setPlayerNoteObserver(
            [this](std::int16_t n, bool on) { session->PlayerNote(n, on); });
    }
    void TearDown() override {
        session.reset();
        unsetenv("XDG_DATA_HOME");
        FormTest::TearDown();
    }
    void type(std::initializer_list<int> keys) {
        for (const int k : keys) {
            press(k);
            release(k);
        }
    }
    testing_support::TempFolder folder;
    std::unique_ptr<practice::PracticeSession> session;
};

// The song list: the history's songs newest first, a gone file greyed; typing filters, and Enter
// starts the first song shown.
TEST_F(CoachTest, TheDialogListsTheSongsPractisedTypingFiltersAndEnterStarts) {
    const std::string song = folder.write("song.txt", "ド4\r\n");
    std::filesystem::create_directories(folder.path() / "muruteka");
    folder.write("muruteka/practice.tsv",
                 "2026-12-01T10:00:00+09:00\t" + song + "\twait\t84\t1\t1\t0\t\t\t\t\t6.0\n" +
                     "2026-12-02T10:00:00+09:00\t/gone.txt\twait\t84\t1\t1\t0\t\t\t\t\t6.0\n",
                 false);
    practice::PracticeDialog dialog({});
    ASSERT_GE(dialog.List1()->count(), 2);
    EXPECT_TRUE(dialog.List1()->item(0)->text().startsWith(QStringLiteral("gone.txt  最後 100%")));
    EXPECT_FALSE(dialog.List1()->item(0)->flags() & Qt::ItemIsEnabled) << "greyed";
    dialog.Text1()->setText(QStringLiteral("SONG"));
    emit dialog.Text1()->textEdited(dialog.Text1()->text());
    EXPECT_TRUE(dialog.List1()->item(0)->isHidden());
    EXPECT_FALSE(dialog.List1()->item(1)->isHidden());
    dialog.Command2_Click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Request().file, song);
}

// The result box's bar map: a wrong note in bar 2 paints its cell red; choosing it (keys on the
// map) closes the box and loops bars 2 and 3.
TEST_F(CoachTest, TheBarMapShowsWhereTheMistakesWereAndLoopsTheChosenBar) {
    const std::string song = folder.write("song.txt", "ド4,レ4\r\nミ4,ファ4\r\nソ4\r\n");
    ASSERT_TRUE(session->Start({song}));
    type({Qt::Key_E, Qt::Key_R, Qt::Key_T, Qt::Key_Q, Qt::Key_Y,
          Qt::Key_U});  // ド レ / ミ ラL ファ / ソ
    QApplication::processEvents();
    ASSERT_TRUE(boxes.size() == 1u && boxes[0].extra);
    QDialog box;
    QWidget* map = boxes[0].extra(&box);
    EXPECT_EQ(map->accessibleName(), QStringLiteral("1小節目 正確さ 100%"));
    // The cells' colours, read from the painted pixels: green, red, green.
    const QImage image = map->grab().toImage();
    const QRgb expected[] = {qRgb(60, 176, 74), qRgb(216, 58, 46), qRgb(60, 176, 74)};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(image.pixel(12 + 20 * i, 12), expected[i]) << i;
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, {}),
        enter(QEvent::KeyPress, Qt::Key_Return, {});
    QApplication::sendEvent(map, &right);
    EXPECT_EQ(map->accessibleName(), QStringLiteral("2小節目 正確さ 67%"));
    QApplication::sendEvent(map, &enter);
    EXPECT_EQ(box.result(), QDialog::Accepted);
    QApplication::processEvents();
    ASSERT_TRUE(session->running());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("ムルテカ  [練習 0/3]"));
    EXPECT_TRUE(session->engine()->options().loop);
    EXPECT_EQ(session->engine()->song().steps.front().line, 2u);
    session->Stop();
}

// Listen, then repeat: the phrase's notes go out, then the practice waits for the player.
TEST_F(CoachTest, EchoPlaysThePhraseThenWaitsForThePlayBack) {
    const std::string song = folder.write("song.txt", "ド4,レ4\r\n");
    practice::PracticeRequest request{song};
    request.echo = true;
    request.tempo = 999;  // a unit is 15 ms
    ASSERT_TRUE(session->Start(request));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("ムルテカ  [練習 聴いてまねる 1/1]"));
    // Bounded waits for the phrase to be played; nothing is timed.
    auto waitFor = [](const std::function<bool()>& done) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 5000) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
    };
    waitFor([&] { return recording->messages.size() >= 4; });
    EXPECT_EQ(recording->messages,
              (std::vector<std::uint32_t>{0x7F3C90, 0x3C90, 0x7F3E90, 0x3E90}));
    waitFor([&] { return session->echoTurn(); });
    EXPECT_EQ(form->NextNotes(), std::vector<std::int16_t>{0}) << "waits for ド";
    type({Qt::Key_E, Qt::Key_R});
    QApplication::processEvents();
    EXPECT_FALSE(session->running());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("弾いた音: 2")) &&
                boxes[0].text.contains(QStringLiteral("聴いてまねる・テンポ999")))
        << boxes[0].text.toStdString();
}

// Slow first: each pass is a history line at its own tempo, the caption says the tempo.
TEST_F(CoachTest, TheRampRaisesTheTempoAfterACleanPassAndWritesEachPass) {
    const std::string song = folder.write("song.txt", "ド4,レ4\r\n");
    practice::PracticeRequest request{song};
    request.tempo = 84;
    request.rampFrom = 60;
    ASSERT_TRUE(session->Start(request));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("ムルテカ  [練習 テンポ60 0/2]"));
    // Clean at 60, a wrong note at 72 (ラL), clean at 72: the tempo climbs 60, 72, 72, 84.
    type({Qt::Key_E, Qt::Key_R, Qt::Key_E, Qt::Key_Q, Qt::Key_R, Qt::Key_E, Qt::Key_R});
    EXPECT_EQ(form->windowTitle(), QStringLiteral("ムルテカ  [練習 テンポ84 0/2]"));
    ASSERT_TRUE(session->Stop());
    QApplication::processEvents();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("ミスなしの最高テンポ: 72")))
        << boxes[0].text.toStdString();
    std::string lines;  // tempo/wrong/the ramp's start; the pass stopped before a note is no line
    for (const auto& e : practice::ReadHistory(folder.path() / "muruteka/practice.tsv").entries)
        lines += std::to_string(e.tempo) + "/" + std::to_string(e.wrong) + "/" +
                 std::to_string(e.rampFrom) + " ";
    EXPECT_EQ(lines, "60/0/60 72/1/60 72/0/60 ");
}

TEST_F(FormTest, TheKeyTapeShowsAboveTheKeyboardOnlyWhileAPracticeRuns) {
    testing_support::TempFolder folder;
    setenv("XDG_DATA_HOME", folder.path().c_str(), 1);
    const std::string song = folder.write("song.txt", "ド4,レ4\r\n");
    start();
    practice::PracticeSession practice(*form, false);
    const QSize size = form->size();
    const QImage before = form->grab().toImage();
    ASSERT_TRUE(practice.Start({song}));
    QApplication::processEvents();
    practice::KeyTapeView* tape = practice.tapeView();
    ASSERT_NE(tape, nullptr);
    EXPECT_EQ(form->size(), QSize(size.width(), size.height() + tape->height()));
    EXPECT_EQ(form->picture()->geometry(), QRect(QPoint(0, tape->height()), size));
    // The now line, in the next-key frame's orange.
    EXPECT_EQ(tape->grab().toImage().pixelColor(tape->PixelX(0), tape->height() / 2),
              keyboard::GuideMarkColor);
    // A screen reader finds it as one text: the bar ahead in words.
    QAccessibleInterface* text = QAccessible::queryAccessibleInterface(tape);
    EXPECT_EQ(text->role(), QAccessible::StaticText);
    EXPECT_EQ(text->text(QAccessible::Name), QStringLiteral("次の小節: E ド、R レ"));
    practice.Stop();
    QApplication::processEvents();
    EXPECT_EQ(practice.tapeView(), nullptr);
    EXPECT_EQ(form->size(), size);
    EXPECT_EQ(form->grab().toImage(), before);

    // Maximized, the window keeps its size and the keyboard makes room.
    form->showMaximized();
    QApplication::processEvents();
    const QSize maximized = form->size();
    const QImage maximizedBefore = form->grab().toImage();
    ASSERT_TRUE(practice.Start({song}));
    QApplication::processEvents();
    EXPECT_EQ(form->size(), maximized);
    EXPECT_EQ(form->picture()->height(), maximized.height() - practice.tapeView()->height());
    practice.Stop();
    QApplication::processEvents();
    EXPECT_EQ(form->grab().toImage(), maximizedBefore);
    unsetenv("XDG_DATA_HOME");
}

// Asked for, a screen reader hears the bar ahead instead of the next key as a bar begins.
TEST_F(CoachTest, WaitModeReadsTheBarAheadAsABarBeginsWhenAsked) {
    practice::PracticeRequest request{folder.write("song.txt", "ド4,レ4\r\nミ4\r\n")};
    request.readBars = true;
    ASSERT_TRUE(session->Start(request));
    QStringList heard{session->nextSentence()};
    for (const int key : {Qt::Key_E, Qt::Key_R}) {
        type({key});
        heard << session->nextSentence();
    }
    EXPECT_EQ(heard.join('|'), QStringLiteral("次の小節: E ド、R レ|次は R レ|次の小節: T ミ"));
}
