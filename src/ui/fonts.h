// The dialogs' fixed-pitch Japanese font, and a metric-compatible face where it is missing.
#pragma once

#include <QFont>

namespace ui {

inline QFont GothicFont(double points) {
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
                      QStringLiteral("IPAGothic")});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSizeF(points);
    return font;
}

}  // namespace ui
