#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <cmath>

#include "keyboard_drawing.h"

namespace keyboard {

int FontSizeForPicture(double heightTwips, double widthTwips) {
    return (heightTwips > 5000.0 && widthTwips > 12000.0) ? LargeFontSize : DesignFontSize;
}

Picture1::Picture1(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Picture1"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_font.setFamilies({QStringLiteral("MS UI Gothic"), QStringLiteral("IPAPGothic"),
                        QStringLiteral("IPAGothic")});
    SetFontSize(DesignFontSize);
}

void Picture1::ensureImage() {
    const QSize wanted = size().expandedTo(QSize(1, 1));
    if (m_image.size() == wanted) return;
    QImage grown(wanted, QImage::Format_RGB32);
    grown.fill(PictureBackColor);
    if (!m_image.isNull()) {
        QPainter painter(&grown);
        painter.drawImage(0, 0, m_image);
    }
    m_image = std::move(grown);
}

void Picture1::Cls() {
    ensureImage();
    m_image.fill(PictureBackColor);
    update();
}

void Picture1::SetFontSize(int points) {
    m_fontSize = points;
    m_font.setPixelSize(static_cast<int>(std::lround(points * logicalDpiY() / 72.0)));
}

int Picture1::toPixelX(double x) const {
    return static_cast<int>(std::lround(x * width() / PictureScaleWidth));
}
int Picture1::toPixelY(double y) const {
    return static_cast<int>(std::lround(y * height() / PictureScaleHeight));
}
double Picture1::toUnitX(double pixelX) const {
    return width() > 0 ? pixelX * PictureScaleWidth / width() : 0.0;
}
double Picture1::toUnitY(double pixelY) const {
    return height() > 0 ? pixelY * PictureScaleHeight / height() : 0.0;
}

void Picture1::invertPixels(QRect rect) {
    rect = rect.intersected(m_image.rect());
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_image.scanLine(y));
        for (int x = rect.left(); x <= rect.right(); ++x) line[x] ^= 0x00FFFFFFu;
    }
}

void Picture1::InvertFilledBox(double x1, double y1, double x2, double y2) {
    ensureImage();
    const QRect box(QPoint(toPixelX(x1), toPixelY(y1)), QPoint(toPixelX(x2), toPixelY(y2)));
    invertPixels(box);
    // Only the box is painted again: a whole full-HD picture costs a millisecond.
    update(box);
}

void Picture1::InvertBoxOutline(double x1, double y1, double x2, double y2, int penWidth) {
    ensureImage();
    const QRect box(QPoint(toPixelX(x1), toPixelY(y1)), QPoint(toPixelX(x2), toPixelY(y2)));
    const int w = std::max(1, std::min({penWidth, (box.width() + 1) / 2, (box.height() + 1) / 2}));
    // Four bands that do not overlap, so that no pixel is inverted twice.
    invertPixels(QRect(box.left(), box.top(), box.width(), w));
    invertPixels(QRect(box.left(), box.bottom() - w + 1, box.width(), w));
    invertPixels(QRect(box.left(), box.top() + w, w, box.height() - 2 * w));
    invertPixels(QRect(box.right() - w + 1, box.top() + w, w, box.height() - 2 * w));
    update(box);
}

void Picture1::PrintAt(double x, double y, const QString& text) {
    ensureImage();
    QPainter painter(&m_image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(m_font);
    painter.setPen(Qt::black);
    const QPoint topLeft(toPixelX(x), toPixelY(y));
    painter.drawText(QRect(topLeft, QSize(100000, 100000)),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, text);
    update();
}

void Picture1::SetGuideMarks(std::vector<QRectF> boxes) {
    if (boxes == m_guideMarks) return;
    for (const QRectF& box : m_guideMarks) update(guidePixels(box));
    m_guideMarks = std::move(boxes);
    for (const QRectF& box : m_guideMarks) update(guidePixels(box));
}

// A frame around a key's square, in the gap between the keys: it touches neither the square's
// outline nor anything inside it, where the sounding mark and the texts are.
QRect Picture1::guidePixels(const QRectF& box) const {
    constexpr double Margin = 50;  // half the gap between two keys, in picture units
    return QRect(QPoint(toPixelX(box.left() - Margin), toPixelY(box.top() - Margin)),
                 QPoint(toPixelX(box.right() + Margin), toPixelY(box.bottom() + Margin)));
}

void Picture1::paintGuideMarks(QPainter& painter) const {
    for (const QRectF& box : m_guideMarks) {
        const QRect outer = guidePixels(box);
        const QRect square(QPoint(toPixelX(box.left()), toPixelY(box.top())),
                           QPoint(toPixelX(box.right()), toPixelY(box.bottom())));
        const QRect inner = square.adjusted(-2, -2, 2, 2);
        painter.fillRect(QRect(outer.topLeft(), QPoint(outer.right(), inner.top())),
                         GuideMarkColor);
        painter.fillRect(QRect(QPoint(outer.left(), inner.bottom()), outer.bottomRight()),
                         GuideMarkColor);
        painter.fillRect(
            QRect(QPoint(outer.left(), inner.top()), QPoint(inner.left(), inner.bottom())),
            GuideMarkColor);
        painter.fillRect(
            QRect(QPoint(inner.right(), inner.top()), QPoint(outer.right(), inner.bottom())),
            GuideMarkColor);
    }
}

QImage Picture1::ShownImage() const {
    QImage shown = m_image;
    QPainter painter(&shown);
    paintGuideMarks(painter);
    return shown;
}

void Picture1::paintEvent(QPaintEvent* event) {
    ensureImage();
    QPainter painter(this);
    painter.drawImage(event->rect(), m_image, event->rect());
    paintGuideMarks(painter);
}

void Picture1::resizeEvent(QResizeEvent*) {
    ensureImage();
}

void Picture1::keyPressEvent(QKeyEvent* event) {
    if (onKeyPress) onKeyPress(event);
}
void Picture1::keyReleaseEvent(QKeyEvent* event) {
    if (onKeyRelease) onKeyRelease(event);
}
void Picture1::mousePressEvent(QMouseEvent* event) {
    if (onMousePress) onMousePress(event);
    // Qt sends moves and releases only to the widget that took the first button of a gesture, and
    // forgets it when a modal window or a popup opens meanwhile. A button pressed here after that,
    // with another one still down from before, would then never see its release: the picture holds
    // the mouse itself until the last button is up.
    if (mouseGrabber() != this) grabMouse();
}
void Picture1::mouseMoveEvent(QMouseEvent* event) {
    if (onMouseMove) onMouseMove(event);
}
void Picture1::mouseReleaseEvent(QMouseEvent* event) {
    if (onMouseRelease) onMouseRelease(event);
    if (event->buttons() == Qt::NoButton && mouseGrabber() == this) releaseMouse();
}
void Picture1::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    if (mouseGrabber() == this) releaseMouse();
    if (onFocusLost) onFocusLost();
}

bool Picture1::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::WindowBlocked:  // a modal window takes every later release
        case QEvent::UngrabMouse:
            loseMouse();
            break;
        case QEvent::ActivationChange:
            if (!isActiveWindow()) loseMouse();
            break;
        default:
            break;
    }
    return QWidget::event(event);
}

void Picture1::loseMouse() {
    // The hold must go before a modal window shows, or it could not be clicked.
    if (mouseGrabber() == this) releaseMouse();
    if (onMouseLost) onMouseLost();
}

}  // namespace keyboard
