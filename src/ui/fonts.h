// The program's Japanese fonts: the dialogs' fixed-pitch one and the message boxes' one, each with
// a metric-compatible face where the first is missing.
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

// The message boxes' font: base's size, a proportional Japanese face. That face has the digits and
// signs too, so a line never falls back: with a face that has no Japanese (the desktop's default),
// Qt draws the digits and signs after a kana in the fallback face and after a kanji in the first
// one, and two lines of one box come out in two faces.
inline QFont MessageFont(QFont base) {
    base.setFamilies({QStringLiteral("MS UI Gothic"), QStringLiteral("ＭＳ Ｐゴシック"),
                      QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic")});
    base.setStyleHint(QFont::SansSerif);
    return base;
}

}  // namespace ui
