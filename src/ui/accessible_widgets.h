// Widgets that speak to screen readers the way the program needs: a list said by its name, a
// status line whose changes are heard, and a way to say a short sentence.
//
// Nothing here runs unless an assistive technology asks Qt for an accessible object: the
// interfaces come from a factory.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QString>

namespace ui {

// Registers the factory with Qt; later calls do nothing.
void InstallWidgetAccessibility();

// A caption as a screen reader should say it: "ﾌｧｲﾙ名(&F)：" is "ﾌｧｲﾙ名：".
QString WithoutAccessKey(const QString& caption);

// A list whose accessible name, when it has one, is what a screen reader says for it (Qt on
// Linux would say its current item instead), with its current item as its value and text: Orca
// reads a list's value from its text, and says the line at the caret when the caret moves.
class NamedComboBox : public QComboBox {
    Q_OBJECT
  public:
    explicit NamedComboBox(QWidget* parent = nullptr);
    // Orca passes over a caret move to where its caret already was: each change of item moves
    // the caret between the two ends of the current item's first character.
    int caretOffset() const { return m_caretOffset; }

  private:
    int m_caretOffset = 0;
};

// A push button whose caption changes while it has the focus (実　行 / ｷｬﾝｾﾙ). Qt 6.4 tells a
// screen reader of a button's new text by a name change that Orca cannot read; this one draws
// its caption itself, and the new caption is announced instead.
class CaptionButton : public QPushButton {
    Q_OBJECT
  public:
    CaptionButton(const QString& caption, QWidget* parent);
    void setCaption(const QString& caption);
    QString text() const { return m_caption; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString m_caption;
};

// A line that tells how things stand ("  演奏中", "演奏完了" ...): a status bar to a screen
// reader, whose name is its text and whose every change is sent on as a name change.
class StatusStrip : public QLabel {
    Q_OBJECT
  public:
    StatusStrip(const QString& text, QWidget* parent);
};

// Says a short sentence ("配列 F4、ドは Q", "次は E ミ") through the screen reader, if one
// listens, on behalf of the widget that has the news; nothing otherwise. It is a notification
// that appears in the widget's window: Orca 43 speaks one wherever the focus is, as
// "notification" and the sentence.
void Announce(QWidget* source, const QString& text);

}  // namespace ui
