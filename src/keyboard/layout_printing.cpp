#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

#include "main_window.h"
#include "message_box.h"

namespace keyboard {
namespace {

// The printer as a drawing surface: twips from the printable area's top-left corner, pen widths
// in printer pixels, outlines only and text in black.
class PrinterSurface final : public DrawingSurface {
  public:
    PrinterSurface(QPainter& painter, double pixelsPerTwip)
        : m_painter(painter), m_scale(pixelsPerTwip) {}
    void SetFillColor(QColor) override {}
    void SetDrawWidth(int pixels) override { m_drawWidth = pixels; }
    void LineBox(float x1, float y1, float x2, float y2, QColor color) override {
        QPen pen(color, m_drawWidth);
        pen.setJoinStyle(Qt::MiterJoin);
        m_painter.setPen(pen);
        m_painter.setBrush(Qt::NoBrush);
        m_painter.drawRect(
            QRectF(x1 * m_scale, y1 * m_scale, (x2 - x1) * m_scale, (y2 - y1) * m_scale));
    }
    void SetCurrentX(float x) override { m_x = x; }
    void SetCurrentY(float y) override { m_y = y; }
    void Print(const QString& text) override {
        m_painter.setPen(Qt::black);
        m_painter.drawText(QRectF(m_x * m_scale, m_y * m_scale, 1e6, 1e6),
                           Qt::AlignLeft | Qt::AlignTop, text);
    }

  private:
    QPainter& m_painter;
    double m_scale;
    int m_drawWidth = 1;
    float m_x = 0;
    float m_y = 0;
};

std::function<std::unique_ptr<QPrinter>()>& printerFactory() {
    static std::function<std::unique_ptr<QPrinter>()> factory;
    return factory;
}

const QString NoPrinterMessage = QStringLiteral("ご使用の環境では、プリンタを使用できません。");
const QString PrintFailedMessage = QStringLiteral("キー配列を印刷できませんでした。");

}  // namespace

void setPrinterFactory(std::function<std::unique_ptr<QPrinter>()> factory) {
    printerFactory() = std::move(factory);
}

void Form1::PrintLayout() {
    const ui::Answer answer =
        ui::showMessage(this, {QStringLiteral("現在のキー配列を印刷します。"), ui::AppTitle,
                               ui::Icon::None, ui::Buttons::OkCancel});
    if (answer != ui::Answer::Ok) return;
    std::unique_ptr<QPrinter> printer;
    if (printerFactory()) {
        printer = printerFactory()();
    } else if (const QPrinterInfo info = QPrinterInfo::defaultPrinter(); !info.isNull()) {
        printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    }
    if (!printer) {
        ui::showMessage(this, {NoPrinterMessage, ui::AppTitle, ui::Icon::None, ui::Buttons::Ok});
        return;
    }
    if (!PrintLayoutOn(*printer)) {
        ui::showMessage(this, {PrintFailedMessage, ui::AppTitle, ui::Icon::None, ui::Buttons::Ok});
    }
}

bool Form1::PrintLayoutOn(QPrinter& printer) {
    // The marks in the window stay as they are while the pass runs on the printer, whatever
    // happens to the print job.
    struct PrintingFlag {
        std::int16_t& flag;
        explicit PrintingFlag(std::int16_t& f) : flag(f) { flag = 1; }
        ~PrintingFlag() { flag = 0; }
    } printing(m_printing);
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    QFont font = m_picture->font();
    font.setPointSize(DesignFontSize);
    painter.setFont(font);
    PrinterSurface surface(painter, printer.resolution() / 1440.0);
    DrawKeyboard(surface);
    return painter.end();
}

bool Form1::PrintLayoutToPdf(const QString& path) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setResolution(600);
    printer.setOutputFileName(path);
    return PrintLayoutOn(printer);
}

}  // namespace keyboard
