// Widgets that speak to screen readers the way the program needs: a list said by its name, a
// status line whose changes are heard, and a way to say a short sentence.
//
// Nothing here runs unless an assistive technology asks Qt for an accessible object: the
// interfaces come from a factory.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QString>

namespace ui {

// Registers the factory with Qt; later calls do nothing.
void InstallWidgetAccessibility();

// A caption as a screen reader should say it: "ﾌｧｲﾙ名(&F)：" is "ﾌｧｲﾙ名：".
QString WithoutAccessKey(const QString& caption);

// A list whose accessible name, when it has one, is what a screen reader says for it (Qt on
// Linux would say its current item instead).
class NamedComboBox : public QComboBox {
    Q_OBJECT
  public:
    using QComboBox::QComboBox;
};

// A line that tells how things stand ("  演奏中", "演奏完了" ...): a status bar to a screen
// reader, whose name is its text and whose every change is sent on as a name change.
class StatusStrip : public QLabel {
    Q_OBJECT
  public:
    StatusStrip(const QString& text, QWidget* parent);
};

// Says a short sentence ("配列 F4、ドは Q", "次は E ミ") through the screen reader, if one
// listens, on behalf of the widget that has the news; nothing otherwise.
void Announce(QWidget* source, const QString& text);

}  // namespace ui
