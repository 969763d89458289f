#include "practice_dialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>

#include "accessible_widgets.h"
#include "fonts.h"
#include "message_box.h"
#include "practice_history.h"
#include "song_import.h"
#include "songs_folder.h"
#include "twips.h"

namespace practice {

PracticeDialog::PracticeDialog(const PracticeRequest& last, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("PracticeDialog"));
    setWindowTitle(QStringLiteral("練習"));
    setFont(ui::GothicFont(9.75));
    setFixedSize(ui::twipsToPixelsX(7935, *this), ui::twipsToPixelsY(5350, *this));
    auto place = [this](QWidget* w, int left, int top, int width, int height) {
        w->setGeometry(ui::twipsRect(left, top, width, height, *this));
    };
    auto label = [this, &place](const char* text, int left, int top, int width) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        place(l, left, top, width, 225);
        return l;
    };
    // Created in tab order.
    auto* picture2 = new performance::ExplanationStrip(this);
    picture2->setObjectName(QStringLiteral("Picture2"));
    place(picture2, 1215, 0, 6700, 700);
    picture2->PrintAt(1, 40, QStringLiteral("ミュージックファイルを練習します。"),
                      QColor(128, 0, 0));
    QLabel* label1 = label("ﾌｧｲﾙ名(&F)：", 80, 400, 1200);
    m_text1 = new performance::FileNameBox(this);
    m_text1->setObjectName(QStringLiteral("Text1"));
    place(m_text1, 1215, 350, 6625, 330);
    m_text1->setText(QString::fromStdString(last.file));
    label1->setBuddy(m_text1);
    m_command3 = new QPushButton(QStringLiteral("参照(&R)..."), this);
    place(m_command3, 6440, 840, 1400, 400);

    label("練習：", 100, 930, 1100);
    m_option1 = new QRadioButton(QStringLiteral("1音ずつ待つ(&W)"), this);
    place(m_option1, 1215, 880, 1750, 300);
    m_option2 = new QRadioButton(QStringLiteral("ﾃﾝﾎﾟどおり(&I)"), this);
    place(m_option2, 3000, 880, 1600, 300);
    // Listen, then repeat: the program plays a phrase, the player plays it back.
    m_option3 = new QRadioButton(QStringLiteral("聴いてまねる(&E)"), this);
    place(m_option3, 4650, 880, 1780, 300);
    (last.inTime ? m_option2 : last.echo ? m_option3 : m_option1)->setChecked(true);

    QLabel* label3 = label("ﾃﾝﾎﾟ(&T):", 100, 1430, 1100);
    m_combo1 = new ui::NamedComboBox(this);
    m_combo1->setObjectName(QStringLiteral("Combo1"));
    place(m_combo1, 1215, 1380, 1000, 300);
    for (const int tempo : PracticeTempi) m_combo1->addItem(QString::number(tempo));
    const int tempoIndex = m_combo1->findText(QString::number(last.tempo));
    m_combo1->setCurrentIndex(tempoIndex >= 0 ? tempoIndex : m_combo1->findText("126"));
    label3->setBuddy(m_combo1);
    m_check1 = new QCheckBox(QStringLiteral("ﾒﾄﾛﾉｰﾑ(&M)"), this);
    place(m_check1, 3500, 1380, 1400, 300);
    m_check1->setChecked(last.metronome);
    // Slow first, then faster: the passage loops from this tempo up to the tempo above.
    QLabel* label9 = label("ﾃﾝﾎﾟ上げ(&U):", 4950, 1430, 1250);
    m_combo4 = new ui::NamedComboBox(this);
    m_combo4->setObjectName(QStringLiteral("Combo4"));
    place(m_combo4, 6200, 1380, 1640, 300);
    m_combo4->addItem(QStringLiteral("しない"), 0);
    for (const int tempo : PracticeTempi) {
        m_combo4->addItem(QString::number(tempo) + QStringLiteral("から"), tempo);
    }
    m_combo4->setCurrentIndex(std::max(0, m_combo4->findData(last.rampFrom)));
    label9->setBuddy(m_combo4);

    // A passage: 0 in either box means the song's own start or end.
    QLabel* label4 = label("行(&L):", 100, 1910, 1100);
    m_spin1 = new QSpinBox(this);
    place(m_spin1, 1215, 1860, 1300, 300);
    m_spin1->setRange(0, 99999);
    m_spin1->setSpecialValueText(QStringLiteral("最初"));
    m_spin1->setValue(last.fromLine);
    label4->setBuddy(m_spin1);
    label("～", 2600, 1910, 300);
    m_spin2 = new QSpinBox(this);
    place(m_spin2, 2900, 1860, 1300, 300);
    m_spin2->setRange(0, 99999);
    m_spin2->setSpecialValueText(QStringLiteral("最後"));
    m_spin2->setValue(last.toLine);
    QLabel* label6 = label("反復(&N):", 100, 2390, 1100);
    m_spin3 = new QSpinBox(this);
    place(m_spin3, 1215, 2340, 3000, 300);
    m_spin3->setRange(0, 99);
    m_spin3->setSpecialValueText(QStringLiteral("Escまで"));
    m_spin3->setSuffix(QStringLiteral("回ﾐｽなしで終了"));
    m_spin3->setValue(last.cleanRepeats);
    label6->setBuddy(m_spin3);

    m_command2 = new QPushButton(QStringLiteral("開始(&S)"), this);
    place(m_command2, 4970, 2800, 1400, 460);
    m_command1 = new QPushButton(QStringLiteral("閉じる(&X)"), this);
    place(m_command1, 6440, 2800, 1400, 460);
    // After the buttons in the tab order, which stays as it was for those who do not use them.
    // Only the tune of a song with an accompaniment; a MIDI file's or a score's part and hand.
    m_check2 = new QCheckBox(QStringLiteral("メロディだけ(&O)"), this);
    place(m_check2, 4400, 1860, 3400, 300);
    m_check2->setChecked(last.melody);
    m_label7 = label("ﾊﾟｰﾄ(&P):", 4400, 2390, 800);
    m_combo2 = new ui::NamedComboBox(this);
    m_combo2->setObjectName(QStringLiteral("Combo2"));
    place(m_combo2, 5200, 2340, 2640, 300);
    m_label7->setBuddy(m_combo2);
    m_label8 = label("手(&H):", 100, 2850, 1100);
    m_combo3 = new ui::NamedComboBox(this);
    m_combo3->setObjectName(QStringLiteral("Combo3"));
    place(m_combo3, 1215, 2800, 1500, 300);
    for (const char* hand : {"両手", "右手", "左手"}) m_combo3->addItem(QString::fromUtf8(hand));
    m_combo3->setCurrentIndex(static_cast<int>(last.choices.hand));
    m_label8->setBuddy(m_combo3);

    m_command2->setDefault(true);

    QLabel* label10 = label("曲の一覧(&G)：", 100, 3350, 3100);
    m_list1 = new QListWidget(this);
    m_list1->setObjectName(QStringLiteral("List1"));
    place(m_list1, 80, 3600, 7760, 1650);
    label10->setBuddy(m_list1);
    m_list1->setAccessibleName(QStringLiteral("曲の一覧"));
    std::vector<std::string> folderFiles;
    const QString songs = performance::SongsFolder(
        QCoreApplication::applicationDirPath(),
        QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation));
    if (!songs.isEmpty()) {
        for (const QFileInfo& file :
             QDir(songs).entryInfoList({QStringLiteral("*.txt")}, QDir::Files))
            folderFiles.push_back(file.absoluteFilePath().toStdString());
    }
    m_songs = SongList(ReadHistory(HistoryPath()).entries, folderFiles, [](const std::string& f) {
        std::error_code error;
        return std::filesystem::is_regular_file(f, error);
    });
    for (const SongListEntry& song : m_songs) {
        auto* item = new QListWidgetItem(QString::fromStdString(SongListLine(song)), m_list1);
        item->setData(Qt::UserRole, QString::fromStdString(song.path));
        if (song.missing) item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
    }
    connect(m_list1, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        if (!(item->flags() & Qt::ItemIsEnabled)) return;
        m_text1->setText(item->data(Qt::UserRole).toString());
        Command2_Click();
    });
    connect(m_text1, &QLineEdit::textEdited, this, [this] { Text1_Edited(); });
    // Last in the tab order: wait mode reads the bar ahead to a screen reader as a bar begins.
    m_check3 = new QCheckBox(QStringLiteral("小節の初めに次の小節を読む(&B)"), this);
    place(m_check3, 3300, 3300, 4540, 300);
    m_check3->setChecked(last.readBars);
    picture2->lower();

    // Screen readers say the boxes by their labels' words.
    m_text1->setAccessibleName(ui::WithoutAccessKey(label1->text()));
    m_combo1->setAccessibleName(ui::WithoutAccessKey(label3->text()));
    m_spin1->setAccessibleName(QStringLiteral("最初の行"));
    m_spin2->setAccessibleName(QStringLiteral("最後の行"));
    m_spin3->setAccessibleName(ui::WithoutAccessKey(label6->text()));
    m_combo2->setAccessibleName(QStringLiteral("パート"));
    m_combo3->setAccessibleName(QStringLiteral("手"));
    m_combo4->setAccessibleName(ui::WithoutAccessKey(label9->text()));

    connect(m_command1, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(m_command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(m_option2, &QRadioButton::toggled, this, [this] { Option_Click(); });
    connect(m_option3, &QRadioButton::toggled, this, [this] { Option_Click(); });
    connect(m_text1, &QLineEdit::textChanged, this, [this] { Text1_Change(); });
    Option_Click();
    Text1_Change();
    // The last practice's part, when it was chosen from this list (by its number).
    const QString lastPart = QString::fromStdString(last.choices.part);
    if (const int part = lastPart.toInt(); part >= 1 && part < m_combo2->count()) {
        m_combo2->setCurrentIndex(part);
    }
    m_text1->setFocus();
}

void PracticeDialog::Text1_Change() {
    const QString name = m_text1->text().trimmed();
    const bool imported = QFileInfo(name).isFile() && importing::IsImportable(name.toStdString());
    for (QWidget* w : std::initializer_list<QWidget*>{m_label7, m_combo2, m_label8, m_combo3}) {
        w->setVisible(imported);
    }
    if (!imported || name == m_partsOf) return;
    m_partsOf = name;
    m_combo2->clear();
    for (const std::string& item :
         importing::PartListItems(importing::ReadParts(name.toStdString()).parts)) {
        m_combo2->addItem(QString::fromStdString(item));
    }
}

PracticeRequest PracticeDialog::Request() const {
    PracticeRequest request;
    request.file = m_text1->text().trimmed().toStdString();
    request.inTime = m_option2->isChecked();
    request.echo = m_option3->isChecked();
    request.tempo = m_combo1->currentText().toInt();
    request.metronome = request.inTime && m_check1->isChecked();
    request.fromLine = m_spin1->value();
    request.toLine = m_spin2->value();
    // A passage given backwards is the same passage.
    if (request.fromLine > 0 && request.toLine > 0 && request.toLine < request.fromLine) {
        std::swap(request.fromLine, request.toLine);
    }
    request.cleanRepeats = m_spin3->value();
    request.rampFrom = request.echo ? 0 : m_combo4->currentData().toInt();
    request.melody = m_check2->isChecked();
    request.readBars = m_option1->isChecked() && m_check3->isChecked();
    if (!m_combo2->isHidden())
        request.choices.part = importing::PartOfListIndex(m_combo2->currentIndex());
    if (!m_combo3->isHidden()) {
        request.choices.hand = static_cast<importing::Hand>(m_combo3->currentIndex());
    }
    return request;
}

void PracticeDialog::Option_Click() {
    // The metronome clicks only while the song keeps time.
    m_check1->setEnabled(m_option2->isChecked());
    // Listening and repeating goes phrase by phrase at one tempo.
    m_combo4->setEnabled(!m_option3->isChecked());
    // The bar ahead is read only while the tape waits for each step.
    m_check3->setEnabled(m_option1->isChecked());
}

void PracticeDialog::Text1_Edited() {
    const std::string typed = m_text1->text().trimmed().toStdString();
    m_filtered = !typed.empty();
    for (int i = 0; i < m_list1->count(); ++i) {
        m_list1->item(i)->setHidden(!SongMatches(m_songs[static_cast<std::size_t>(i)], typed));
    }
}

void PracticeDialog::Command2_Click() {
    // A name that is no file: the song the list shows first for it (Enter after typing).
    if (m_filtered && !QFileInfo(m_text1->text().trimmed()).isFile()) {
        for (int i = 0; i < m_list1->count(); ++i) {
            const QListWidgetItem* item = m_list1->item(i);
            if (item->isHidden() || !(item->flags() & Qt::ItemIsEnabled)) continue;
            m_text1->setText(item->data(Qt::UserRole).toString());
            break;
        }
    }
    const QString name = m_text1->text().trimmed();
    if (!QFileInfo(name).isFile()) {
        ui::showMessage(this, {QStringLiteral("「") + name + QStringLiteral("」ﾌｧｲﾙはありません。"),
                               ui::AppTitle, ui::Icon::Exclamation, ui::Buttons::Ok});
        m_text1->setFocus();
        return;
    }
    accept();
}

void PracticeDialog::Command3_Click() {
    const auto chosen = performance::ChooseMusicFile(this, m_lastChosen);
    if (!chosen) return;  // cancelled: the name stays
    m_lastChosen = *chosen;
    m_text1->setText(*chosen);
}

std::optional<PracticeRequest> ShowPracticeDialog(QWidget* parent, const PracticeRequest& last) {
    PracticeDialog dialog(last, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Request();
}

}  // namespace practice
