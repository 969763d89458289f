#include "history_chart.h"

#include <QBuffer>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <filesystem>
#include <memory>

namespace practice {
namespace {

constexpr int Width = 800;
constexpr int PlotHeight = 300;
constexpr int LegendLine = 22;
constexpr std::size_t MaxLines = 8;
constexpr int Left = 70, Right = 30, Top = 40, Bottom = 40;
// The minutes per day: a heading, the numbers above the bars, the tallest bar, the dates, the sum.
constexpr int DaysHeading = 30, DaysFigures = 18, DaysBar = 100, DaysDates = 20, DaysSum = 26;
constexpr int DaysHeight = DaysHeading + DaysFigures + DaysBar + DaysDates + DaysSum;
const QColor MinutesColour(0x5b, 0x8c, 0x3a);

const QColor Palette[MaxLines] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28),
                                  QColor(0x2c, 0xa0, 0x2c), QColor(0xff, 0x7f, 0x0e),
                                  QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
                                  QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf)};

QFont ChartFont(int pixels) {
    QFont font;
    font.setFamilies({QStringLiteral("IPAGothic"), QStringLiteral("IPAPGothic"),
                      QStringLiteral("Noto Sans CJK JP")});
    font.setPixelSize(pixels);
    return font;
}

// The days' bars in a band of the picture from `top`, each as tall as its share of the busiest
// day, in a column of its own.
void DrawDays(QPainter& painter, const std::vector<DayMinutes>& days, int top) {
    double most = 0, total = 0;
    int practised = 0;
    for (const DayMinutes& d : days) {
        most = std::max(most, d.minutes);
        total += d.minutes;
        practised += d.minutes > 0 ? 1 : 0;
    }
    painter.setPen(Qt::black);
    painter.setFont(ChartFont(16));
    painter.drawText(QRect(0, top, Width, DaysHeading), Qt::AlignCenter,
                     QStringLiteral("練習した時間（この%1日間、1日あたりの分）").arg(days.size()));
    const int base = top + DaysHeading + DaysFigures + DaysBar;
    const int column = (Width - Left - Right) / static_cast<int>(days.size());
    painter.fillRect(QRect(Left, base, Width - Left - Right, 1), QColor(0x99, 0x99, 0x99));
    painter.setFont(ChartFont(12));
    for (std::size_t k = 0; k < days.size(); ++k) {
        const int x = Left + static_cast<int>(k) * column;
        const double m = days[k].minutes;
        painter.setPen(Qt::black);
        painter.drawText(QRect(x, base + 2, column, DaysDates), Qt::AlignCenter,
                         QString::fromStdString(days[k].date.substr(5)));
        if (m <= 0) continue;
        const int height = std::max(1, static_cast<int>(std::lround(m / most * DaysBar)));
        painter.fillRect(QRect(x + column / 5, base - height, column - 2 * (column / 5), height),
                         MinutesColour);
        painter.drawText(QRect(x, base - height - DaysFigures, column, DaysFigures),
                         Qt::AlignCenter, QString::number(m, 'f', 1));
    }
    painter.setFont(ChartFont(14));
    painter.drawText(QRect(Left, base + DaysDates, Width - Left - Right, DaysSum),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("合計 %1分、練習した日 %2日")
                         .arg(QString::number(total, 'f', 1))
                         .arg(practised));
}

}  // namespace

std::string AccuracyChartPng(const std::vector<SongHistory>& songs,
                             const std::vector<DayMinutes>& days) {
    std::unique_ptr<QGuiApplication> application;
    static int argc = 1;
    static char name[] = "muruteka";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        application = std::make_unique<QGuiApplication>(argc, argv);
    }
    const std::size_t lines = std::min(songs.size(), MaxLines);
    const int legendRows = static_cast<int>(lines) + (songs.size() > MaxLines ? 1 : 0);
    const int daysTop = Top + PlotHeight + Bottom + legendRows * LegendLine + 10;
    const int height = daysTop + (days.empty() ? 0 : DaysHeight);
    QImage image(Width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect plot(Left, Top, Width - Left - Right, PlotHeight);

    std::int64_t first = 0, last = 0;
    bool any = false;
    for (std::size_t s = 0; s < lines; ++s) {
        for (const HistoryEntry& e : songs[s].entries) {
            const auto t = EntrySeconds(e);
            if (!t) continue;
            first = any ? std::min(first, *t) : *t;
            last = any ? std::max(last, *t) : *t;
            any = true;
        }
    }
    // Points and the grid stay clear of the frame.
    constexpr double Inset = 10;
    auto xOf = [&](std::int64_t t) {
        if (last == first) return plot.center().x() * 1.0;
        return plot.left() + Inset +
               (plot.width() - 2 * Inset) * static_cast<double>(t - first) /
                   static_cast<double>(last - first);
    };
    auto yOf = [&](double percent) {
        return plot.bottom() - Inset - (plot.height() - 2 * Inset) * percent / 100.0;
    };

    painter.setFont(ChartFont(16));
    painter.setPen(Qt::black);
    painter.drawText(QRect(0, 5, Width, Top - 10), Qt::AlignCenter,
                     QStringLiteral("練習の正確さ（%）"));
    painter.setFont(ChartFont(13));
    for (int percent = 0; percent <= 100; percent += 25) {
        const double y = yOf(percent);
        painter.setPen(QPen(QColor(0xdd, 0xdd, 0xdd), 1));
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter.setPen(Qt::black);
        painter.drawText(QRectF(0, y - 10, Left - 8, 20), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(percent) + QLatin1Char('%'));
    }
    painter.drawRect(plot);
    if (any) {
        auto dateOf = [](std::int64_t t) {
            char buffer[16];
            const std::time_t time = static_cast<std::time_t>(t);
            std::tm local{};
            localtime_r(&time, &local);
            std::strftime(buffer, sizeof buffer, "%Y-%m-%d", &local);
            return QString::fromUtf8(buffer);
        };
        const QRect below(plot.left(), plot.bottom() + 4, plot.width(), Bottom - 8);
        painter.drawText(below, Qt::AlignLeft | Qt::AlignTop, dateOf(first));
        if (last != first) painter.drawText(below, Qt::AlignRight | Qt::AlignTop, dateOf(last));
    }
    for (std::size_t s = 0; s < lines; ++s) {
        const QColor color = Palette[s];
        QPainterPath path;
        bool started = false;
        painter.setPen(QPen(color, 2));
        painter.setBrush(color);
        for (const HistoryEntry& e : songs[s].entries) {
            const auto t = EntrySeconds(e);
            if (!t) continue;
            const QPointF point(xOf(*t), yOf(Accuracy(e)));
            if (started) {
                path.lineTo(point);
            } else {
                path.moveTo(point);
                started = true;
            }
            painter.drawEllipse(point, 3.5, 3.5);
        }
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
        const int y = Top + PlotHeight + Bottom + static_cast<int>(s) * LegendLine;
        painter.fillRect(QRect(Left, y + 6, 24, 8), color);
        painter.setPen(Qt::black);
        const std::string label = std::filesystem::path(songs[s].file).filename().string() + "（" +
                                  std::string(ModeLabel(songs[s].mode)) + "）";
        painter.drawText(QRect(Left + 32, y, Width - Left - Right - 32, LegendLine),
                         Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(label));
    }
    if (songs.size() > MaxLines) {
        const int y = Top + PlotHeight + Bottom + static_cast<int>(MaxLines) * LegendLine;
        painter.drawText(QRect(Left + 32, y, Width, LegendLine), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("ほか%1曲").arg(songs.size() - MaxLines));
    }
    if (!days.empty()) DrawDays(painter, days, daysTop);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) return {};
    return bytes.toStdString();
}

}  // namespace practice
