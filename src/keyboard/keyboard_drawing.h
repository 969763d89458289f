// The drawn keyboard: the surface interface that both the window's picture and the printer offer,
// and the picture box that keeps its drawing in an image of its own.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRectF>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

namespace keyboard {

// Units of the keyboard picture, whatever its size in pixels.
inline constexpr double PictureScaleWidth = 7005.0;
inline constexpr double PictureScaleHeight = 3000.0;
inline constexpr int DesignFontSize = 11;
inline constexpr int LargeFontSize = 22;
inline const QColor KeyCapColor = QColor(0, 128, 0);
inline const QColor PictureBackColor = QColor(192, 192, 192);
// The mark of a key to strike next in practice: a colour no inversion of the grey picture makes.
inline const QColor GuideMarkColor = QColor(255, 96, 0);

// The square of key k's cap (and of its mark) in picture units.
QRectF KeyCapRect(int k);

// 22 points once the picture is taller than 5000 and wider than 12000 twips, both strictly.
int FontSizeForPicture(double heightTwips, double widthTwips);

// The drawing operations DrawKeyboard uses, offered by the picture and by the printer.
class DrawingSurface {
  public:
    virtual ~DrawingSurface() = default;
    virtual void SetFillColor(QColor color) = 0;
    virtual void SetDrawWidth(int pixels) = 0;
    // A box outline from (x1, y1) to (x2, y2) in the given colour and the current pen width.
    virtual void LineBox(float x1, float y1, float x2, float y2, QColor color) = 0;
    virtual void SetCurrentX(float x) = 0;
    virtual void SetCurrentY(float y) = 0;
    // Prints the text with its top-left corner at the current position.
    virtual void Print(const QString& text) = 0;
};

// The keyboard picture. Lines and boxes are drawn in invert mode (every pixel replaced by its
// inverse), text in the foreground colour. The drawing persists until Cls.
class Picture1 : public QWidget {
    Q_OBJECT
  public:
    explicit Picture1(QWidget* parent = nullptr);

    const QImage& image() const { return m_image; }
    void Cls();
    void SetFontSize(int points);
    int FontSize() const { return m_fontSize; }
    const QFont& font() const { return m_font; }

    // User scale (7005 x 3000) to pixels of the image.
    int toPixelX(double x) const;
    int toPixelY(double y) const;
    double toUnitX(double pixelX) const;
    double toUnitY(double pixelY) const;

    // Inverts every pixel of the box from (x1, y1) to (x2, y2), both corners included.
    void InvertFilledBox(double x1, double y1, double x2, double y2);
    // Inverts the outline of that box, penWidth pixels thick, each pixel once.
    void InvertBoxOutline(double x1, double y1, double x2, double y2, int penWidth);
    void PrintAt(double x, double y, const QString& text);

    // Marks painted over the picture on the screen, never into its image: the boxes (in picture
    // units) of the keys to strike next. Inverting a key's square leaves them as they are, and
    // they leave the inverted marks as they are.
    void SetGuideMarks(std::vector<QRectF> boxes);
    const std::vector<QRectF>& GuideMarks() const { return m_guideMarks; }
    // The picture as the screen shows it: the image with the guide marks over it.
    QImage ShownImage() const;

    // Events are handed to the main window as they come.
    std::function<void(QKeyEvent*)> onKeyPress;
    std::function<void(QKeyEvent*)> onKeyRelease;
    std::function<void(QMouseEvent*)> onMousePress;
    std::function<void(QMouseEvent*)> onMouseMove;
    std::function<void(QMouseEvent*)> onMouseRelease;
    std::function<void()> onFocusLost;
    // The picture can no longer count on seeing the release of a button held on it: a modal
    // window opened, the window was deactivated, or its hold on the mouse was taken away.
    std::function<void()> onMouseLost;

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void loseMouse();
    void ensureImage();
    void invertPixels(QRect rect);
    QRect guidePixels(const QRectF& box) const;
    void paintGuideMarks(QPainter& painter) const;
    QImage m_image;
    std::vector<QRectF> m_guideMarks;
    QFont m_font;
    int m_fontSize = DesignFontSize;
};

// DrawingSurface on the window's picture.
class PictureSurface final : public DrawingSurface {
  public:
    explicit PictureSurface(Picture1& picture) : m_picture(picture) {}
    void SetFillColor(QColor) override {}
    void SetDrawWidth(int pixels) override { m_drawWidth = pixels; }
    void LineBox(float x1, float y1, float x2, float y2, QColor) override {
        m_picture.InvertBoxOutline(x1, y1, x2, y2, m_drawWidth);
    }
    void SetCurrentX(float x) override { m_x = x; }
    void SetCurrentY(float y) override { m_y = y; }
    void Print(const QString& text) override { m_picture.PrintAt(m_x, m_y, text); }

  private:
    Picture1& m_picture;
    int m_drawWidth = 1;
    float m_x = 0;
    float m_y = 0;
};

}  // namespace keyboard
