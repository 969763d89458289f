// What a screen reader hears of the keyboard window: the drawn keys as 36 accessible buttons.
//
// Nothing here runs unless an assistive technology asks Qt for an accessible object: the
// interfaces come from a factory, and the event hooks return at once while none exists.
#pragma once

#include <QString>
#include <cstdint>

namespace keyboard {

class Picture1;

// Registers the factory with Qt, and that of the shared widgets; later calls do nothing.
void InstallKeyboardAccessibility();

// What is said for key k (1..36) in a layout: its character and the label drawn on it, e.g.
// "Q ラ" (just "3" where no label is drawn), and its note, e.g. "ラ3 (57)". Octaves are
// numbered as in international (scientific) pitch notation, so middle C, MIDI 60, is ド4.
QString AccessibleKeyName(int k, std::int16_t layoutDegree);
QString AccessibleNoteDescription(std::int16_t note);

// Hooks for the window: key k's mark went on or off; the keyboard was drawn afresh.
void KeyMarkChanged(Picture1& picture, int k, bool on);
void KeyboardDrawn(Picture1& picture, std::int16_t layoutDegree);

}  // namespace keyboard
