#include "keyboard_drawing.h"

#include <algorithm>

#include "keyboard_accessibility.h"
#include "main_window.h"
#include "twips.h"

namespace keyboard {
namespace {

struct RowGeometry {
    float capTop;
    float bandTop;
    float bandBottom;
    int penWidth;
    float labelDx;
    float labelY;
};

RowGeometry GeometryOf(Row row) {
    switch (row) {
        case Row::Digits:
            return {200, 200, 700, 1, 100, 460};
        case Row::Q:
            return {800, 800, 1300, 2, 250, 1050};
        case Row::A:
            return {1400, 1400, 1900, 1, 100, 1660};
        case Row::Z:
            break;
    }
    return {2000, 2000, 2500, 2, 250, 2250};
}

void DrawKeyCap(DrawingSurface& surface, const QString& text, float x, float y) {
    surface.LineBox(x, y, x + 500, y + 500, KeyCapColor);
    surface.SetCurrentX(x + 50);
    surface.SetCurrentY(y + 20);
    surface.Print(text);
}

void PrintAt(DrawingSurface& surface, const QString& text, float x, float y) {
    surface.SetCurrentX(x);
    surface.SetCurrentY(y);
    surface.Print(text);
}

}  // namespace

QRectF KeyCapRect(int k) {
    const RowGeometry g = GeometryOf(RowOfKey(k));
    return {KeyLeft[static_cast<std::size_t>(k)], g.bandTop, 500, g.bandBottom - g.bandTop};
}

void Form1::DrawKeyboard(DrawingSurface& surface) {
    surface.SetFillColor(QColor(0, 0, 0));
    const std::pair<int, int> rows[] = {{1, 10}, {11, 20}, {21, 29}, {30, 36}};
    for (const auto& [first, last] : rows) {
        const RowGeometry g = GeometryOf(RowOfKey(first));
        surface.SetDrawWidth(g.penWidth);
        for (int k = first; k <= last; ++k) {
            DrawKeyCap(surface, QString(QChar(KeyCharacter[static_cast<std::size_t>(k)])),
                       KeyLeft[static_cast<std::size_t>(k)], g.capTop);
        }
    }
    surface.SetFillColor(QColor(0, 0, 255));

    m_tables.KeyNote.fill(0);
    const auto layout = LayoutRule(m_layoutDegree);
    for (int k = 1; k <= KeyCount; ++k) {
        const auto index = static_cast<std::size_t>(k);
        const Row row = RowOfKey(k);
        const RowGeometry g = GeometryOf(row);
        const std::string_view label = layout[index].label;
        PrintAt(surface, QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size())),
                KeyLeft[index] + g.labelDx, g.labelY);
        // The black keys carry a mark whenever the keyboard is drawn.
        if (IsSharpRow(row) && label != NoBlackKeyLabel) BarFunc(static_cast<std::int16_t>(k));
        m_tables.KeyNote[index] = layout[index].note;
    }
    BuildNoteKey(m_tables);
}

void Form1::BarFunc(std::int16_t k) {
    if (m_printing != 0) return;
    if (k < 1 || k > KeyCount) return;
    InvertKeySquare(k);
    // Marks of sounding keys, set by the keyboard, the mouse or a performance; the black keys'
    // marks belong to the drawing itself.
    if (m_drawingPass) return;
    const bool on = (m_markToggled[static_cast<std::size_t>(k)] ^= true);
    KeyMarkChanged(*m_picture, k, on);
}

void Form1::InvertKeySquare(int k) {
    const RowGeometry g = GeometryOf(RowOfKey(k));
    const float left = KeyLeft[static_cast<std::size_t>(k)];
    m_picture->InvertFilledBox(left, g.bandTop, left + 500, g.bandBottom);
}

void Form1::Form_Resize() {
    if (isMinimized() || m_picture == nullptr) return;
    if (m_topStrip != nullptr) m_topStrip->setGeometry(0, 0, width(), m_stripHeight);
    m_picture->setGeometry(rect().adjusted(0, m_stripHeight, 0, 0));
    m_picture->Cls();
    const double heightTwips = ui::pixelsToTwipsY(m_picture->height(), *m_picture);
    const double widthTwips = ui::pixelsToTwipsX(m_picture->width(), *m_picture);
    m_picture->SetFontSize(FontSizeForPicture(heightTwips, widthTwips));
    DrawPicture();
    m_picture->PrintAt(200, 2600, QStringLiteral("HELP : F11"));
}

void Form1::RedrawPicture() {
    m_picture->Cls();
    DrawPicture();
}

// A drawing pass on the window's picture. The pass leaves every key at rest; a key whose mark was
// toggled since (a key still sounding) gets it back, so that its release returns it to rest.
void Form1::DrawPicture() {
    PictureSurface surface(*m_picture);
    m_drawingPass = true;
    DrawKeyboard(surface);
    m_drawingPass = false;
    for (int k = 1; k <= KeyCount; ++k) {
        if (m_markToggled[static_cast<std::size_t>(k)]) InvertKeySquare(k);
    }
    KeyboardDrawn(*m_picture, m_layoutDegree);
    ShowNextKeys();
    if (m_topStrip != nullptr) m_topStrip->update();
}

void Form1::SetTopStrip(QWidget* strip) {
    if (strip == m_topStrip) return;
    if (m_topStrip != nullptr) m_topStrip->hide();
    const int grownBy = m_stripGrew ? m_stripHeight : 0;
    m_topStrip = strip;
    m_stripHeight = strip != nullptr ? strip->height() : 0;
    if (strip != nullptr) {
        strip->setParent(this);
        strip->setGeometry(0, 0, width(), m_stripHeight);
        strip->show();
    }
    // A maximized or full-screen window keeps its size: the keyboard makes room.
    const bool fixedSize = isMaximized() || isFullScreen();
    m_stripGrew = strip != nullptr && !fixedSize;
    const int grow = (m_stripGrew ? m_stripHeight : 0) - grownBy;
    if (grow != 0 && !fixedSize) resize(width(), height() + grow);
    Form_Resize();
}

void Form1::SetNextNotes(std::vector<std::int16_t> notes) {
    m_nextNotes = std::move(notes);
    ShowNextKeys();
}

void Form1::ShowNextKeys() {
    std::vector<QRectF> boxes;
    for (int k = 1; k <= KeyCount; ++k) {
        const std::int16_t note = m_tables.KeyNote[static_cast<std::size_t>(k)];
        if (note != NoNote &&
            std::find(m_nextNotes.begin(), m_nextNotes.end(), note) != m_nextNotes.end()) {
            boxes.push_back(KeyCapRect(k));
        }
    }
    m_picture->SetGuideMarks(std::move(boxes));
}

}  // namespace keyboard
