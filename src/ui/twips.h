// Window and dialog geometry is given in twips, 1440 to the inch.
#pragma once

#include <QPaintDevice>
#include <QRect>
#include <cmath>

namespace ui {

inline constexpr double TwipsPerInch = 1440.0;

inline int twipsToPixelsX(double twips, const QPaintDevice& device) {
    return static_cast<int>(std::lround(twips * device.logicalDpiX() / TwipsPerInch));
}
inline int twipsToPixelsY(double twips, const QPaintDevice& device) {
    return static_cast<int>(std::lround(twips * device.logicalDpiY() / TwipsPerInch));
}
inline double pixelsToTwipsX(int pixels, const QPaintDevice& device) {
    return pixels * TwipsPerInch / device.logicalDpiX();
}
inline double pixelsToTwipsY(int pixels, const QPaintDevice& device) {
    return pixels * TwipsPerInch / device.logicalDpiY();
}
// A control's rectangle from its left, top, width and height in twips.
inline QRect twipsRect(double left, double top, double width, double height,
                       const QPaintDevice& device) {
    return QRect(twipsToPixelsX(left, device), twipsToPixelsY(top, device),
                 twipsToPixelsX(width, device), twipsToPixelsY(height, device));
}

}  // namespace ui
