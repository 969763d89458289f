// The key tape in the keyboard window: a strip above the drawn keyboard that shows the keys
// ahead (key_tape.h). A tape that waits (a practice in wait mode) is painted only when told that
// the player moved on; a tape that scrolls (in time) is repainted at the screen's refresh rate,
// and only the strip. It knows nothing of who moves it: a practice, or a performance.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <unordered_map>

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
    // position: where the now line stands, in units from the song's start (KeyTape); nothing
    // when there is nothing to show. scrolls: repainted at the screen's rate.
    using PositionSource = std::function<std::optional<double>()>;
    KeyTapeView(const keyboard::Form1& form, const KeyTape& tape, PositionSource position,
                bool scrolls, QWidget* parent = nullptr);

    std::optional<double> Position() const { return m_position(); }
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
    QPixmap DrawCell(const TapeCell& cell, QSize size, bool current, QColor fill, QFont font) const;
    struct Mark {
        QColor color;
        std::optional<TimePoint> until;
    };

    const keyboard::Form1& m_form;
    const KeyTape& m_tape;
    PositionSource m_position;
    std::map<std::uint64_t, Mark> m_marks;
    QTimer m_frame;
    // Each step's cell drawn once and kept while it scrolls by: laying out its text again at
    // every frame cost most of the frame. Keyed by what the cell shows and its size.
    std::unordered_map<QString, QPixmap> m_cellImages;
};

}  // namespace practice
