// HelpMenu, the help dialog: a page chooser, a framed read-only text box, and a Close button.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <array>
#include <cstdint>

namespace help {

// The help text box. Text() gives back exactly what was put in, CR LF line breaks included.
class HelpTextBox : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit HelpTextBox(QWidget* parent = nullptr);
    void SetText(const QString& text);
    const QString& Text() const { return m_text; }

  private:
    QString m_text;
};

// A drawn line of the frame, in twips.
struct LineShape {
    int X1, Y1, X2, Y2;
    QColor color;
    int widthPixels;
};

class HelpMenu : public QDialog {
    Q_OBJECT
  public:
    explicit HelpMenu(QWidget* parent = nullptr);

    void Form_Load();
    void FitHelpPanel(QWidget& textBox);
    void ShowHelpTopic(std::int16_t index);
    void ShowKeysPage();
    void ShowMusicFilePage();
    void Combo1_Click() { ShowHelpTopic(static_cast<std::int16_t>(m_combo1->currentIndex())); }

    HelpTextBox* Text1() { return m_text1; }
    QComboBox* Combo1() { return m_combo1; }
    QPushButton* Command2() { return m_command2; }
    // Line1(0), Line1(1), Line2(0), Line2(1), Line3, Line4.
    const std::array<LineShape, 6>& Lines() const { return m_lines; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    HelpTextBox* m_text1 = nullptr;
    QPushButton* m_command2 = nullptr;
    QComboBox* m_combo1 = nullptr;
    std::array<LineShape, 6> m_lines;
    std::int16_t m_initialTopic = 0;
    bool m_centred = false;
};

// Opens the dialog modally; every opening starts again on the first page.
void ShowHelpMenu();

}  // namespace help
