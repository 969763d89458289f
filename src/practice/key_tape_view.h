// The key tape in the keyboard window: a strip above the drawn keyboard that shows the keys
// ahead (key_tape.h). In wait mode it is painted only when the practice moves on; in time it is
// repainted at the screen's refresh rate while the practice runs, and only the strip.
#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>

#include "key_tape.h"

namespace keyboard {
class Form1;
}

namespace practice {

// The colours of a played cell: hit in its window, struck near it but outside, missed.
inline const QColor TapeHitColor = QColor(0, 176, 0);
inline const QColor TapeNearColor = QColor(255, 176, 0);
inline const QColor TapeMissedColor = QColor(150, 150, 150);

class KeyTapeView : public QWidget {
    Q_OBJECT
  public:
    KeyTapeView(const keyboard::Form1& form, const KeyTape& tape, const PracticeEngine& engine,
                QWidget* parent = nullptr);

    // The clock of the in-time scroll; the steady clock unless a test sets one.
    void setClock(std::function<TimePoint()> clock) { m_clock = std::move(clock); }
    // Where the now line stands, in units from the song's start; nothing once the practice is
    // over (wait mode).
    std::optional<double> Position() const;
    // The pixel column of a place on the tape, in units from the now line.
    int PixelX(double units) const;
    // The cell that starts at this position takes a colour: for a moment (a hit, a strike near
    // it), or until it leaves the tape (missed).
    void MarkCell(std::uint64_t at, QColor color, bool brief);
    // The text a screen reader reads: the next bar's keys in words.
    QString NextBarText() const;
    // The practice moved on: painted afresh (wait mode), the screen reader's text renewed.
    void Moved();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    struct Mark {
        QColor color;
        std::optional<TimePoint> until;
    };

    const keyboard::Form1& m_form;
    const KeyTape& m_tape;
    const PracticeEngine& m_engine;
    std::function<TimePoint()> m_clock = [] { return Clock::now(); };
    std::map<std::uint64_t, Mark> m_marks;
    QTimer m_frame;
};

}  // namespace practice
