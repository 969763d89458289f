// What a screen reader hears of the keyboard window: the drawn keys as 36 accessible buttons,
// and a status-bar role for the labels that report what the program is doing.
//
// Nothing here runs unless an assistive technology asks Qt for an accessible object: the
// interfaces come from a factory, and the event hooks return at once while none exists.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QString>
#include <cstdint>

namespace keyboard {

class Picture1;

// Registers the factory with Qt; later calls do nothing.
void InstallKeyboardAccessibility();

// What is said for key k (1..36) in a layout: its character and the label drawn on it, e.g.
// "Q ラ" (just "3" where no label is drawn), and its note, e.g. "ラ3 (57)". Octaves are
// numbered as in international (scientific) pitch notation, so middle C, MIDI 60, is ド4.
QString AccessibleKeyName(int k, std::int16_t layoutDegree);
QString AccessibleNoteDescription(std::int16_t note);

// A caption as a screen reader should say it: "ﾌｧｲﾙ名(&F)：" is "ﾌｧｲﾙ名：".
QString WithoutAccessKey(const QString& caption);

// A list whose accessible name, when it has one, is what a screen reader says for it (Qt on
// Linux would say its current item instead).
class NamedComboBox : public QComboBox {
    Q_OBJECT
  public:
    using QComboBox::QComboBox;
};

// A line that tells how things stand ("  演奏中", "演奏完了" ...): a status bar to a screen
// reader, whose name is its text and whose every change is sent on as a name change.
class StatusStrip : public QLabel {
    Q_OBJECT
  public:
    StatusStrip(const QString& text, QWidget* parent);
};

// Hooks for the window: key k's mark went on or off; the keyboard was drawn afresh.
void KeyMarkChanged(Picture1& picture, int k, bool on);
void KeyboardDrawn(Picture1& picture, std::int16_t layoutDegree);

}  // namespace keyboard
