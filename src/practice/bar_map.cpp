#include "bar_map.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "practice_history.h"

namespace practice {
namespace {

constexpr int Cell = 16;
constexpr int Gap = 4;
constexpr int PerRow = 16;

QColor ColourOf(BarGrade grade) {
    switch (grade) {
        case BarGrade::Good:
            return QColor(60, 176, 74);
        case BarGrade::Fair:
            return QColor(240, 192, 48);
        case BarGrade::Poor:
            return QColor(216, 58, 46);
        case BarGrade::NotPlayed:
            break;
    }
    return QColor(192, 192, 192);
}

}  // namespace

BarMap::BarMap(std::vector<BarFigures> bars, Mode mode, std::function<void(std::size_t)> choose,
               QWidget* parent)
    : QWidget(parent),
      m_bars(std::move(bars)),
      m_mode(mode),
      m_choose(std::move(choose)),
      m_texts(BarTexts(m_bars, mode)) {
    setObjectName(QStringLiteral("BarMap"));
    setFocusPolicy(Qt::StrongFocus);
    setFixedSize(sizeHint());
    QStringList all;
    for (const std::string& text : m_texts) all << QString::fromStdString(text);
    setAccessibleDescription(all.join(QStringLiteral("、")));
    setToolTip(QStringLiteral("小節を選ぶと、その小節と次の小節をくり返し練習します"));
    setCurrent(0);
}

QRect BarMap::cellRect(std::size_t bar) const {
    const int column = static_cast<int>(bar % PerRow);
    const int row = static_cast<int>(bar / PerRow);
    return QRect(Gap + column * (Cell + Gap), Gap + row * (Cell + Gap), Cell, Cell);
}

QSize BarMap::sizeHint() const {
    const int count = std::max<int>(1, static_cast<int>(m_bars.size()));
    const int columns = std::min(count, PerRow);
    const int rows = (count + PerRow - 1) / PerRow;
    return QSize(Gap + columns * (Cell + Gap), Gap + rows * (Cell + Gap));
}

void BarMap::setCurrent(std::size_t bar) {
    if (m_bars.empty()) return;
    m_current = std::min(bar, m_bars.size() - 1);
    setAccessibleName(QString::fromStdString(m_texts[m_current]));
    update();
}

void BarMap::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    for (std::size_t i = 0; i < m_bars.size(); ++i) {
        const QRect cell = cellRect(i);
        painter.fillRect(cell, ColourOf(GradeOf(m_bars[i], m_mode)));
        if (i == m_current) {
            painter.setPen(QPen(palette().color(QPalette::WindowText), 2));
            painter.drawRect(cell.adjusted(-2, -2, 1, 1));
        }
    }
}

void BarMap::keyPressEvent(QKeyEvent* event) {
    const std::size_t row = PerRow;
    switch (event->key()) {
        case Qt::Key_Left:
            if (m_current > 0) setCurrent(m_current - 1);
            return;
        case Qt::Key_Right:
            setCurrent(m_current + 1);
            return;
        case Qt::Key_Up:
            if (m_current >= row) setCurrent(m_current - row);
            return;
        case Qt::Key_Down:
            if (m_current + row < m_bars.size()) setCurrent(m_current + row);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            if (!m_bars.empty() && m_choose) m_choose(m_current);
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void BarMap::mousePressEvent(QMouseEvent* event) {
    for (std::size_t i = 0; i < m_bars.size(); ++i) {
        if (!cellRect(i).contains(event->position().toPoint())) continue;
        setCurrent(i);
        if (m_choose) m_choose(i);
        return;
    }
}

}  // namespace practice
