#include "key_tape_view.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cmath>

#include "keyboard_drawing.h"
#include "main_window.h"
#include "twips.h"

namespace practice {
namespace {

constexpr int TapeHeightTwips = 1200;
constexpr int BriefMs = 250;
const QColor TapeBackColor = QColor(240, 240, 240);
const QColor LaterTextColor = QColor(96, 96, 96);

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The tape to a screen reader: one object whose name is the next bar's keys in words.
class TapeAccessible final : public QAccessibleWidget {
  public:
    explicit TapeAccessible(KeyTapeView* view) : QAccessibleWidget(view, QAccessible::StaticText) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) return static_cast<KeyTapeView*>(widget())->NextBarText();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* TapeFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("practice::KeyTapeView") && object != nullptr)
        return new TapeAccessible(static_cast<KeyTapeView*>(object));
    return nullptr;
}

}  // namespace

KeyTapeView::KeyTapeView(const keyboard::Form1& form, const KeyTape& tape, PositionSource position,
                         bool scrolls, QWidget* parent)
    : QWidget(parent), m_form(form), m_tape(tape), m_position(std::move(position)) {
    static const bool installed = [] {
        QAccessible::installFactory(TapeFactory);
        return true;
    }();
    (void)installed;
    setObjectName(QStringLiteral("KeyTape"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    resize(parent != nullptr ? parent->width() : 0, ui::twipsToPixelsY(TapeHeightTwips, form));
    if (scrolls) {
        const QScreen* screen = form.screen();
        const double hz =
            screen != nullptr && screen->refreshRate() > 1 ? screen->refreshRate() : 60;
        m_frame.setTimerType(Qt::PreciseTimer);
        m_frame.setInterval(static_cast<int>(std::lround(1000.0 / hz)));
        connect(&m_frame, &QTimer::timeout, this, [this] { update(); });
        m_frame.start();
    }
}

int KeyTapeView::PixelX(double units) const {
    const double perUnit = static_cast<double>(width()) / (TapeBehindUnits + TapeAheadUnits);
    return static_cast<int>(std::lround((units + TapeBehindUnits) * perUnit));
}

void KeyTapeView::MarkCell(std::uint64_t at, QColor color, bool brief) {
    std::optional<TimePoint> until;
    if (brief) until = Clock::now() + std::chrono::milliseconds(BriefMs);
    m_marks[at] = {color, until};
    // While the tape scrolls, its next frame shows the colour (within one refresh): painted now,
    // in the same pass as the key's own mark, it would hold that mark back by a frame's paint.
    if (!m_frame.isActive()) update();
}

QString KeyTapeView::NextBarText() const {
    const auto position = Position();
    if (!position) return {};
    return FromUtf8(m_tape.NextBarText(std::max(0.0, *position), m_form.noteTables()));
}

void KeyTapeView::Moved() {
    update();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

QPixmap KeyTapeView::DrawCell(const TapeCell& cell, QSize size, bool current, QColor fill,
                              QFont font) const {
    QPixmap image(size * devicePixelRatioF());
    image.setDevicePixelRatio(devicePixelRatioF());
    image.fill(fill);
    QPainter painter(&image);
    const QRect box(QPoint(0, 0), size);
    painter.setPen(current ? QPen(keyboard::GuideMarkColor, 3) : QPen(LaterTextColor, 1));
    painter.drawRect(box.adjusted(current ? 1 : 0, current ? 1 : 0, -1, -1));
    painter.setPen(current ? Qt::black : LaterTextColor);
    const int rows = static_cast<int>(cell.keys.size());
    const int rowHeight = (box.height() - 1) / std::max(1, rows);
    for (int row = 0; row < rows; ++row) {
        const TapeKey& key = cell.keys[static_cast<std::size_t>(row)];
        const QRect line(3, row * rowHeight, box.width() - 4, rowHeight);
        font.setPixelSize(std::max(6, std::min({rowHeight * 7 / 10, box.width() / 2, 32})));
        font.setBold(current);
        painter.setFont(font);
        const QString cap = FromUtf8(key.cap);
        painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, cap);
        const int capWidth = painter.fontMetrics().horizontalAdvance(cap);
        font.setPixelSize(std::max(6, std::min(rowHeight * 4 / 10, 16)));
        font.setBold(false);
        painter.setFont(font);
        painter.drawText(line.adjusted(capWidth + 2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         FromUtf8(key.name));
    }
    return image;
}

void KeyTapeView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), TapeBackColor);
    const auto position = Position();
    if (!position) return;
    const TimePoint now = Clock::now();
    const TapeView view = m_tape.At(*position, m_form.noteTables());
    // Marks of cells that have left the tape, and brief marks over, are let go.
    for (auto mark = m_marks.begin(); mark != m_marks.end();) {
        const bool gone = static_cast<double>(mark->first) + 16 < *position - TapeBehindUnits;
        mark = gone || (mark->second.until && *mark->second.until <= now) ? m_marks.erase(mark)
                                                                          : std::next(mark);
    }
    const int top = 3;
    const int bottom = height() - 3;
    bool currentFound = false;
    QFont font = painter.font();
    for (const TapeCell& cell : view.cells) {
        const int left = PixelX(cell.x) + 1;
        const int right = PixelX(cell.x + cell.width) - 1;
        const QRect box(QPoint(left, top), QPoint(right, bottom));
        // The current step: the first whose cell has not wholly passed the now line.
        const bool current = !currentFound && cell.beat == 0 && cell.x + cell.width > 0;
        currentFound = currentFound || current;
        QColor fill = Qt::white;
        if (const auto mark = m_marks.find(cell.at); cell.beat == 0 && mark != m_marks.end())
            fill = mark->second.color;
        if (cell.beat > 0) {
            painter.fillRect(box, TapeBackColor);
            painter.setPen(QPen(LaterTextColor, 1));
            painter.drawRect(box.adjusted(0, 0, -1, -1));
            font.setPixelSize(std::max(8, (bottom - top) / 2));
            painter.setFont(font);
            painter.drawText(box, Qt::AlignCenter, QString::number(cell.beat));
            continue;
        }
        QString key = QString::number(box.width()) + QLatin1Char('x') +
                      QString::number(box.height()) + QLatin1Char(current ? 'c' : 'l') +
                      QString::number(fill.rgba(), 16);
        for (const TapeKey& k : cell.keys) key += QLatin1Char('|') + FromUtf8(k.cap + " " + k.name);
        auto image = m_cellImages.find(key);
        if (image == m_cellImages.end()) {
            if (m_cellImages.size() > 256) m_cellImages.clear();
            image =
                m_cellImages.emplace(key, DrawCell(cell, box.size(), current, fill, font)).first;
        }
        painter.drawPixmap(box.topLeft(), image->second);
    }
    painter.setPen(QPen(Qt::black, 1));
    for (const double x : view.barLines) {
        const int column = PixelX(x);
        painter.drawLine(column, 0, column, height());
    }
    painter.fillRect(QRect(PixelX(0) - 1, 0, 3, height()), keyboard::GuideMarkColor);
}

}  // namespace practice
