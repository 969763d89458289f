#include "main_window.h"

namespace keyboard {
namespace {

struct Band {
    int firstKey;
    int lastKey;
    float top;
    float bottom;
};

constexpr Band Bands[] = {
    {1, 10, 200, 700}, {11, 20, 800, 1300}, {21, 29, 1400, 1900}, {30, 36, 2000, 2500}};

}  // namespace

void Form1::Picture1_MouseMove(float x, float y) {
    m_mouseKey = 0;
    for (const Band& band : Bands) {
        if (band.top <= y && y <= band.bottom) {
            for (int k = band.firstKey; k <= band.lastKey; ++k) {
                const float left = KeyLeft[static_cast<std::size_t>(k)];
                if (left <= x && x <= left + 500.0f) {
                    m_mouseKey = static_cast<std::int16_t>(k);
                    break;
                }
            }
        }
    }
    if (m_mouseDownKey == 0) return;
    // The played key's mark is on only while the pointer is on its cap.
    if (!m_mouseMarkOff && m_mouseKey == 0) {
        HoldMark(m_mouseDownKey, false);
        m_mouseMarkOff = true;
    }
    if (!m_mouseMarkOff && m_mouseKey != m_mouseDownKey) {
        HoldMark(m_mouseDownKey, false);
        m_mouseMarkOff = true;
    }
    if (m_mouseMarkOff && m_mouseKey == m_mouseDownKey) {
        HoldMark(m_mouseDownKey, true);
        m_mouseMarkOff = false;
    }
}

void Form1::Picture1_MouseDown() {
    if (m_mouseKey == 0 || m_mouseKey == m_mouseDownKey) return;
    // Another button pressed on another key: the key the mouse was playing ends first.
    if (m_mouseDownKey != 0) {
        if (!m_mouseMarkOff) HoldMark(m_mouseDownKey, false);
        if (m_mouseSounding) EndNote(*m_mouseSounding);
        m_mouseSounding.reset();
    }
    HoldMark(m_mouseKey, true);
    m_mouseMarkOff = false;
    m_mouseDownKey = m_mouseKey;
    m_mouseSounding = StartNote(m_tables.KeyNote[static_cast<std::size_t>(m_mouseDownKey)]);
}

void Form1::Picture1_MouseUp() {
    if (!m_mouseMarkOff && m_mouseDownKey != 0) HoldMark(m_mouseDownKey, false);
    m_mouseMarkOff = true;
    // The note ends wherever the pointer is: a release off the key must not leave it sounding.
    if (m_mouseDownKey != 0 && m_mouseSounding) EndNote(*m_mouseSounding);
    m_mouseSounding.reset();
    m_mouseDownKey = 0;
}

// Whatever took the mouse away, the key it was playing ends now, as a release would end it; the
// releases that may still come find nothing left to end.
void Form1::MouseLost() {
    if (m_mouseDownKey == 0) return;
    if (!m_mouseMarkOff) HoldMark(m_mouseDownKey, false);
    m_mouseMarkOff = true;
    if (m_mouseSounding) EndNote(*m_mouseSounding);
    m_mouseSounding.reset();
    m_mouseDownKey = 0;
}

}  // namespace keyboard
