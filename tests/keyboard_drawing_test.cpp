// The drawn keyboard judged by its pixels alone: the caps are found by scanning the picture for
// their outlines, and the two texts of each cap (its character and its note) by scanning inside.
#include <QPainter>
#include <map>
#include <optional>

#include "form_fixture.h"
#include "twips.h"

using testing_support::FormTest;

namespace {

const QRgb Background = qRgb(192, 192, 192);
const QRgb Inverted = qRgb(63, 63, 63);

int RunLength(const QImage& image, int x, int y, int dx, int dy) {
    int n = 0;
    while (x >= 0 && y >= 0 && x < image.width() && y < image.height() &&
           image.pixel(x, y) == Inverted) {
        ++n;
        x += dx;
        y += dy;
    }
    return n;
}

// Caps are squares outlined in the inverted colour; a marked cap is a filled square of it. Both
// begin at a top-left corner from which long runs go right and down. In reading order.
std::vector<QRect> CapsOf(const QImage& image, int minimum) {
    std::vector<QRect> caps;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != Inverted) continue;
            if (x > 0 && image.pixel(x - 1, y) == Inverted) continue;
            if (y > 0 && image.pixel(x, y - 1) == Inverted) continue;
            // Corners below a text inside a marked cap belong to that cap.
            if (std::any_of(caps.begin(), caps.end(),
                            [&](const QRect& cap) { return cap.contains(x, y); })) {
                continue;
            }
            const int width = RunLength(image, x, y, 1, 0), height = RunLength(image, x, y, 0, 1);
            if (width < minimum || height < minimum) continue;
            // A filled square is a marked cap's inside: its outline, inverted twice, is around.
            const bool filled = image.pixel(x + 2, y + 2) == Inverted;
            caps.push_back(QRect(x, y, width, height).adjusted(-filled, -filled, filled, filled));
        }
    }
    std::stable_sort(caps.begin(), caps.end(), [](const QRect& a, const QRect& b) {
        return a.top() != b.top() ? a.top() < b.top() : a.left() < b.left();
    });
    return caps;
}

// Ink: the pixels of an area that differ from its paper, as a mask of the area's size.
QImage InkMask(const QImage& image, QRect area, QRgb paper) {
    QImage mask(area.size(), QImage::Format_Mono);
    for (int y = 0; y < area.height(); ++y) {
        for (int x = 0; x < area.width(); ++x) {
            mask.setPixel(x, y, image.pixel(area.left() + x, area.top() + y) != paper);
        }
    }
    return mask;
}

// A text drawn alone in the picture's way and font, as the mask of its ink's bounding box.
QImage InkOfText(const QString& text, const QFont& font) {
    QImage image(120, 80, QImage::Format_RGB32);
    image.fill(Background);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QRect(10, 10, 100, 60), Qt::AlignLeft | Qt::AlignTop, text);
    }
    const QImage mask = InkMask(image, image.rect(), Background);
    QRect bounds;
    for (int y = 0; y < mask.height(); ++y) {
        for (int x = 0; x < mask.width(); ++x) {
            if (mask.pixelIndex(x, y) != 0) bounds |= QRect(x, y, 1, 1);
        }
    }
    return mask.copy(bounds);
}

// Where the text's ink stands in the mask, pixel for pixel, and takes it out of the mask.
std::optional<QPoint> TakeText(QImage& mask, const QImage& text) {
    for (int y = 0; y + text.height() <= mask.height(); ++y) {
        for (int x = 0; x + text.width() <= mask.width(); ++x) {
            bool same = true;
            for (int ty = 0; ty < text.height() && same; ++ty) {
                for (int tx = 0; tx < text.width() && same; ++tx) {
                    same = mask.pixelIndex(x + tx, y + ty) == text.pixelIndex(tx, ty);
                }
            }
            if (!same) continue;
            for (int ty = 0; ty < text.height(); ++ty) {
                for (int tx = 0; tx < text.width(); ++tx) {
                    if (text.pixelIndex(tx, ty) != 0) mask.setPixel(x + tx, y + ty, 0);
                }
            }
            return QPoint(x, y);
        }
    }
    return std::nullopt;
}

bool Blank(const QImage& mask) {
    for (int y = 0; y < mask.height(); ++y) {
        for (int x = 0; x < mask.width(); ++x) {
            if (mask.pixelIndex(x, y) != 0) return false;
        }
    }
    return true;
}

// The note names as the keys show them, by semitone above ド.
QString NameOfNote(int note) {
    static const char* const names[] = {"ド",  "ﾄﾞ#", "レ",  " ﾚ#", "ミ",  "ﾌｧ",
                                        "ﾌｧ#", "ソ",  " ｿ#", "ラ",  " ﾗ#", "シ"};
    return QString::fromUtf8(names[((note % 12) + 12) % 12]);
}

// At the design size and enlarged past the point where the font doubles.
TEST_F(FormTest, EveryCapShowsItsCharacterTopLeftAndItsNoteBelowInEveryLayoutAndSize) {
    start();
    const QString characters = QStringLiteral("1234567890QWERTYUIOPASDFGHJKLZXCVBNM");
    const int rowStarts[] = {0, 10, 20, 29, 36};
    const struct {
        int key;
        const char* name;
    } layouts[] = {{Qt::Key_F4, "F4"}, {Qt::Key_F5, "F5"}, {Qt::Key_F6, "F6"}, {Qt::Key_F7, "F7"}};
    for (const int fontSize : {11, 22}) {
        if (fontSize == 22) {
            form->resize(ui::twipsToPixelsX(15000, *form), ui::twipsToPixelsY(6000, *form));
            QApplication::processEvents();
        }
        ASSERT_EQ(form->picture()->FontSize(), fontSize);
        const QFont font = form->picture()->font();
        std::map<QString, QImage> inks;
        auto inkOf = [&](const QString& text) -> const QImage& {
            auto it = inks.find(text);
            if (it == inks.end()) it = inks.emplace(text, InkOfText(text, font)).first;
            return it->second;
        };
        for (const auto& layout : layouts) {
            press(layout.key);
            release(layout.key);
            const QImage image = form->picture()->image();
            const auto caps = CapsOf(image, image.height() / 8);
            ASSERT_EQ(caps.size(), 36u) << layout.name;
            for (int k = 1; k <= keyboard::KeyCount; ++k) {
                const QRect cap = caps[static_cast<std::size_t>(k - 1)];
                const int row = static_cast<int>(std::upper_bound(rowStarts, rowStarts + 5, k - 1) -
                                                 rowStarts) -
                                1;
                const QString character = characters.mid(k - 1, 1);
                SCOPED_TRACE(std::string(layout.name) + " key " + character.toStdString() + " at " +
                             std::to_string(fontSize) + " points");
                if (k > 1) {
                    const QRect before = caps[static_cast<std::size_t>(k - 2)];
                    EXPECT_TRUE(k - 1 == rowStarts[row]
                                    ? cap.top() > before.bottom()
                                    : cap.left() > before.right() && cap.top() == before.top())
                        << "caps in reading order, rows of 10, 10, 9 and 7";
                }
                // Inside the outline: the character, the note's name, and nothing else.
                int edge = 1;
                while (image.pixel(cap.topLeft() + QPoint(edge, edge)) ==
                       image.pixel(cap.topLeft())) {
                    ++edge;
                }
                const QRect inner = cap.adjusted(edge, edge, -edge, -edge);
                QImage ink = InkMask(image, inner, image.pixel(inner.bottomLeft()));
                const auto at = TakeText(ink, inkOf(character));
                ASSERT_TRUE(at) << "the cap's character";
                EXPECT_LT(at->x(), cap.width() / 4);
                EXPECT_LT(at->y(), cap.height() / 4);
                const auto note = form->noteTables().KeyNote[static_cast<std::size_t>(k)];
                if (note != keyboard::NoNote) {
                    const auto label = TakeText(ink, inkOf(NameOfNote(note)));
                    ASSERT_TRUE(label) << "the note's name " << NameOfNote(note).toStdString();
                    // Below the middle; white keys' names from the middle on, black keys' left.
                    EXPECT_GE(label->y() + edge, cap.height() / 2);
                    const double from = static_cast<double>(label->x() + edge) / cap.width();
                    if (row == 0 || row == 2) {
                        EXPECT_TRUE(from > 0.1 && from < 0.5) << from;
                    } else {
                        EXPECT_TRUE(from > 0.45 && from < 0.6) << from;
                    }
                }
                EXPECT_TRUE(Blank(ink)) << "other ink in the cap";
            }
        }
    }
}

// The next-key mark of a practice, judged on the picture as the screen shows it: the drawing
// itself is grey, so any coloured pixel belongs to the mark. It frames its keys from outside their
// squares, follows a layout change, and a pressed key still shows the usual inverted mark.
TEST_F(FormTest, NextKeyMarksFrameTheirKeysInColourAndLeaveTheSoundingMarkAlone) {
    start();
    form->resize(934, 400);
    QApplication::processEvents();
    const QImage plain = form->picture()->image();
    const auto caps = CapsOf(plain, plain.height() / 8);
    ASSERT_EQ(caps.size(), 36u);
    auto coloured = [](const QImage& image, QRect area) {
        int n = 0;
        area &= image.rect();
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                n += (c.red() != c.green() || c.green() != c.blue()) ? 1 : 0;
            }
        }
        return n;
    };
    // Keys in reading order: 1..0, then Q W E R T ... (E is the 13th cap, Q the 11th).
    auto framed = [&](std::vector<int> expected) {
        const QImage shown = form->picture()->ShownImage();
        int total = coloured(shown, shown.rect());
        for (int i = 0; i < 36; ++i) {
            const QRect cap = caps[static_cast<std::size_t>(i)];
            const int ring = coloured(shown, cap.adjusted(-7, -7, 7, 7));
            EXPECT_EQ(coloured(shown, cap), 0) << "inside cap " << i + 1;
            const bool want = std::find(expected.begin(), expected.end(), i + 1) != expected.end();
            EXPECT_EQ(ring >= 2 * (cap.width() + cap.height()), want)
                << "cap " << i + 1 << ": " << ring;
            if (want) total -= ring;
        }
        EXPECT_EQ(total, 0) << "coloured pixels away from the marked keys";
    };
    form->SetNextNotes({0, 4});  // ド and ミ: E and T in the standard layout
    EXPECT_EQ(form->picture()->image(), plain) << "the mark is not drawn into the picture";
    framed({13, 15});
    press(Qt::Key_E);
    EXPECT_TRUE(marked(13));
    framed({13, 15});
    release(Qt::Key_E);
    EXPECT_FALSE(marked(13));
    EXPECT_EQ(form->picture()->image(), plain);
    press(Qt::Key_F4);  // ド on Q: ド and ミ are Q and E
    release(Qt::Key_F4);
    framed({11, 13});
    form->SetNextNotes({});
    framed({});
}

}  // namespace
