// A practice in the keyboard window: it follows the player's notes through the window's note
// observer, wakes on a timer for what time brings (clicks, missed notes), marks the keys to
// strike next, shows the progress in the caption, and at the end reports the result on the
// screen, on stdout and in the history.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "echo_session.h"
#include "key_tape.h"
#include "key_tape_view.h"
#include "main_window.h"
#include "practice_engine.h"
#include "practice_request.h"
#include "tempo_ramp.h"

class QDialog;

namespace practice {

class PracticeSession : public QObject {
  public:
    // builtInSynth: the notes go to the built-in synthesizer, so a wrong note may sound with an
    // instrument of its own; on any other output practice sends nothing beyond the notes and the
    // clicks.
    PracticeSession(keyboard::Form1& form, bool builtInSynth);
    ~PracticeSession() override;

    // F3: the practice dialog; Start with its choices.
    void ShowDialog();
    // Starts a practice; a running one is stopped first. False when the file cannot be read
    // (the player has been told).
    bool Start(const PracticeRequest& request);
    // Esc: stops the practice and shows the result so far; false when none runs.
    bool Stop();
    // Every note the player starts or ends, typed, clicked or from a MIDI keyboard.
    void PlayerNote(std::int16_t note, bool on);

    bool running() const {
        return m_echo.running() || (m_engine != nullptr && !m_engine->finished());
    }
    const PracticeEngine* engine() const { return m_engine.get(); }
    // The key tape above the keyboard while a practice runs; null otherwise.
    KeyTapeView* tapeView() const { return m_tapeView; }
    // Listen, then repeat: the player's turn to play the phrase back.
    bool echoTurn() const { return m_echo.running() && m_echo.coach()->playerTurn(); }
    // What a screen reader was last told of the step ahead: "次は E ド", or the bar ahead.
    const QString& nextSentence() const { return m_nextSentence; }

  private:
    void Wake();
    void Handle(const std::vector<Happening>& happenings);
    void ShowProgress();
    void Schedule();
    void Click(bool countIn, bool downbeat);
    void EndClick();
    void EndWrongNotes();
    void Finish(bool showBox);
    void Report(const Result& result, bool showBox);
    void ShowTape(const Song& fullSong);
    void HideTape();
    // In time: a played note colours the cell it was meant for.
    void MarkPlayed(Note note, const Reaction& reaction, TimePoint now);
    // Slow first, then faster: a pass ended; false when the ramp ends with it.
    bool NextRampPass(TimePoint when);
    Result WithRamp(Result result) const;
    // Listen, then repeat: its practice ended.
    void EchoDone(const Result& result, bool showBox);
    // The result box's bar map; choosing a bar closes the box and loops that bar and the next.
    std::function<QWidget*(QDialog*)> BarMapMaker(std::vector<BarFigures> bars, Mode mode);

    keyboard::Form1& m_form;
    bool m_builtInSynth;
    PracticeRequest m_last;
    std::unique_ptr<PracticeEngine> m_engine;
    std::unique_ptr<KeyTape> m_tape;
    QPointer<KeyTapeView> m_tapeView;  // a child of the window, gone with it
    std::optional<std::size_t> m_tapeStep;
    std::string m_file;  // absolute
    QString m_caption;   // the window's caption before the practice
    std::optional<std::size_t> m_announcedStep;
    QTimer m_wake;
    QTimer m_clickOff;
    QTimer m_sayNext;  // says m_nextSentence once the key that played the step has been named
    QString m_nextSentence;
    int m_clickNote = -1;
    // Wrong notes sounding on the wrong-note channel: note and channel.
    std::vector<std::pair<std::int16_t, int>> m_wrongSounding;
    int m_wrongChannel = -1;  // -1: no instrument set for wrong notes
    // The tempo ramp: each pass is an engine of its own at the ramp's tempo.
    std::optional<TempoRamp> m_ramp;
    int m_cleanAtGoal = 0;  // clean passes in a row at the goal
    EchoSession m_echo;
};

}  // namespace practice
