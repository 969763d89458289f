#include "help_menu.h"

#include <QPainter>
#include <QScreen>
#include <QScrollBar>

#include "accessible_widgets.h"
#include "fonts.h"
#include "help_pages.h"
#include "twips.h"

namespace help {
namespace {

enum LineIndex { Line1_0, Line1_1, Line2_0, Line2_1, Line3, Line4 };

QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

HelpTextBox::HelpTextBox(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    // A caret that the arrow keys move, so that a screen reader reads the text line by line.
    setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
}

void HelpTextBox::SetText(const QString& text) {
    m_text = text;
    setPlainText(text);
    verticalScrollBar()->setValue(0);
}

HelpMenu::HelpMenu(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("HelpMenu"));
    setWindowTitle(QStringLiteral("ﾒﾆｭｰﾊﾞｰの説明"));
    setFixedSize(ui::twipsToPixelsX(9075, *this), ui::twipsToPixelsY(4110, *this));
    setFont(ui::GothicFont(9));

    m_text1 = new HelpTextBox(this);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setFont(ui::GothicFont(11.25));
    m_text1->setGeometry(ui::twipsRect(210, 540, 4395, 1035, *this));
    m_text1->hide();
    m_command2 = new QPushButton(QStringLiteral("閉じる(&X)"), this);
    m_command2->setGeometry(ui::twipsRect(7860, 5, 1080, 370, *this));
    m_command2->setAutoDefault(false);
    m_combo1 = new ui::NamedComboBox(this);
    m_combo1->setObjectName(QStringLiteral("Combo1"));
    m_combo1->setGeometry(ui::twipsRect(105, 5, 2800, 370, *this));
    m_combo1->hide();
    m_combo1->setAccessibleName(QStringLiteral("ヘルプの項目"));
    m_text1->setAccessibleName(QStringLiteral("ヘルプの本文"));
    setTabOrder(m_text1, m_command2);
    setTabOrder(m_command2, m_combo1);

    const QColor windowText = palette().color(QPalette::WindowText);
    m_lines[Line1_0] = {105, 420, 105, 3645, Qt::white, 1};
    m_lines[Line1_1] = {8920, 420, 8920, 3645, Qt::black, 1};
    m_lines[Line2_0] = {105, 420, 8920, 420, Qt::white, 1};
    m_lines[Line2_1] = {105, 3645, 8820, 3645, Qt::black, 1};
    m_lines[Line3] = {210, 3665, 8950, 3665, windowText, 3};
    m_lines[Line4] = {8950, 525, 8950, 3655, windowText, 3};

    connect(m_command2, &QPushButton::clicked, this, &QDialog::close);
    connect(m_combo1, &QComboBox::currentIndexChanged, this, [this] { Combo1_Click(); });
    Form_Load();
}

void HelpMenu::Form_Load() {
    // Centred horizontally when shown, once the frame's width is known.
    {
        const QSignalBlocker blocker(m_combo1);
        m_combo1->addItem(FromUtf8(std::string(KeysPageTitle)));
        m_combo1->addItem(FromUtf8(std::string(MusicFilePageTitle)));
        m_combo1->setCurrentIndex(-1);
    }
    m_initialTopic = 0;
    setWindowTitle(QStringLiteral("ヘルプ"));
    FitHelpPanel(*m_text1);
    m_combo1->setCurrentIndex(m_initialTopic);
    m_text1->setFocus();
}

void HelpMenu::FitHelpPanel(QWidget& textBox) {
    m_combo1->show();
    const QRect placed = ui::twipsRect(210, 500, 8640, 3450, *this);
    textBox.setGeometry(placed);
    textBox.show();
    // The frame was drawn around a box 3070 twips high; it moves with the height really set.
    const int heightTwips =
        static_cast<int>(std::lround(ui::pixelsToTwipsY(textBox.height(), textBox)));
    const auto shift = static_cast<std::int16_t>(heightTwips - 3070);
    m_lines[Line4].Y2 += shift;
    m_lines[Line3].Y1 += shift;
    m_lines[Line3].Y2 += shift;
    m_lines[Line2_1].Y1 += shift;
    m_lines[Line2_1].Y2 += shift;
    m_lines[Line1_1].Y2 += shift;
    m_lines[Line1_0].Y2 += shift;
    update();
}

void HelpMenu::ShowHelpTopic(std::int16_t index) {
    if (index == 0) ShowKeysPage();
    if (index == 1) ShowMusicFilePage();
}

void HelpMenu::ShowKeysPage() {
    m_text1->SetText(FromUtf8(KeysPage()));
}

void HelpMenu::ShowMusicFilePage() {
    m_text1->SetText(FromUtf8(MusicFilePage()));
}

void HelpMenu::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    for (const LineShape& line : m_lines) {
        QPen pen(line.color, line.widthPixels);
        pen.setCapStyle(Qt::FlatCap);
        painter.setPen(pen);
        painter.drawLine(ui::twipsToPixelsX(line.X1, *this), ui::twipsToPixelsY(line.Y1, *this),
                         ui::twipsToPixelsX(line.X2, *this), ui::twipsToPixelsY(line.Y2, *this));
    }
}

void HelpMenu::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_centred) return;
    m_centred = true;
    if (const QScreen* screen = this->screen()) {
        const int left = (screen->geometry().width() - frameGeometry().width()) / 2;
        move(screen->geometry().left() + left, y());
    }
}

void ShowHelpMenu() {
    HelpMenu dialog;
    dialog.exec();
}

}  // namespace help
