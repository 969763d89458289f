#include "misc_file.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>

#include "accessible_widgets.h"
#include "fonts.h"
#include "message_box.h"
#include "module1.h"
#include "practice_engine.h"
#include "song_import.h"
#include "songs_folder.h"
#include "twips.h"

namespace performance {
namespace {

FileChooser& chooserSlot() {
    static FileChooser chooser;
    return chooser;
}

PerformanceClock& clockSlot() {
    static PerformanceClock clock;
    return clock;
}

std::optional<QString> ChooseWithDialog(QWidget* parent, const FileChooserRequest& request) {
    QFileDialog dialog(parent, request.title);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(request.filters);
    dialog.selectNameFilter(request.filters.value(0));
    if (!request.preselected.isEmpty()) dialog.selectFile(request.preselected);
    // The places stay as the user keeps them; ours are added once, after them.
    QList<QUrl> sidebar = dialog.sidebarUrls();
    for (const QString& place : request.places) {
        const QUrl url = QUrl::fromLocalFile(place);
        if (!sidebar.contains(url)) sidebar.push_back(url);
    }
    dialog.setSidebarUrls(sidebar);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::optional<QString> FirstDroppedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) return std::nullopt;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) return QDir::toNativeSeparators(url.toLocalFile());
    }
    return std::nullopt;
}

// A drag is welcome only while it carries files.
void AcceptFilesOnly(QDropEvent* event) {
    if (FirstDroppedFile(event->mimeData())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

}  // namespace

void setFileChooser(FileChooser chooser) {
    chooserSlot() = std::move(chooser);
}

std::optional<QString> ChooseMusicFile(QWidget* parent, const QString& preselected) {
    FileChooserRequest request{
        QStringLiteral("ファイルの選択"),
        {QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ(*.txt)"),
         QStringLiteral("MIDI・MusicXML(*.mid *.midi *.kar *.musicxml *.xml *.mxl)"),
         QStringLiteral("全てのﾌｧｲﾙ(*.*)")},
        preselected,
        {}};
    const QString songs =
        SongsFolder(QCoreApplication::applicationDirPath(),
                    QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation));
    if (!songs.isEmpty()) request.places.push_back(songs);
    return chooserSlot() ? chooserSlot()(parent, request) : ChooseWithDialog(parent, request);
}

void setPerformanceClock(PerformanceClock clock) {
    clockSlot() = std::move(clock);
}

void FileNameBox::dragEnterEvent(QDragEnterEvent* event) {
    AcceptFilesOnly(event);
}

void FileNameBox::dragMoveEvent(QDragMoveEvent* event) {
    AcceptFilesOnly(event);
}

void FileNameBox::dropEvent(QDropEvent* event) {
    // Only files are taken; a drop without a file list (text from an editor) changes nothing.
    if (const auto file = FirstDroppedFile(event->mimeData())) {
        setText(*file);
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void ExplanationStrip::PrintAt(int xTwips, int yTwips, const QString& text, QColor color) {
    m_lines.push_back({QPoint(ui::twipsToPixelsX(xTwips, *this), ui::twipsToPixelsY(yTwips, *this)),
                       text, color});
    // The drawn explanation is read out as the strip's name.
    setAccessibleName(accessibleName().isEmpty() ? text : accessibleName() + '\n' + text);
    update();
}

void ExplanationStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    for (const auto& line : m_lines) {
        painter.setPen(line.color);
        painter.drawText(QRect(line.position, QSize(width(), height())),
                         Qt::AlignLeft | Qt::AlignTop, line.text);
    }
}

MiscFile::MiscFile(const keyboard::NoteTables& tables, std::function<void(std::int16_t)> barFunc,
                   QWidget* parent)
    : QDialog(parent), m_barFunc(std::move(barFunc)), m_engine(*this, tables) {
    setObjectName(QStringLiteral("MiscFile"));
    setWindowTitle(QStringLiteral("自動演奏"));
    setFont(ui::GothicFont(9.75));
    setFixedSize(ui::twipsToPixelsX(7935, *this), ui::twipsToPixelsY(2055, *this));

    auto place = [this](QWidget* w, int left, int top, int width, int height) {
        w->setGeometry(ui::twipsRect(left, top, width, height, *this));
    };
    // Created in tab order; the strip lies behind the name box.
    m_picture2 = new ExplanationStrip(this);
    m_picture2->setObjectName(QStringLiteral("Picture2"));
    place(m_picture2, 1215, 0, 6700, 700);
    m_label1 = new QLabel(QStringLiteral("ﾌｧｲﾙ名(&F)："), this);
    place(m_label1, 80, 400, 1200, 225);
    m_text1 = new FileNameBox(this);
    m_text1->setObjectName(QStringLiteral("Text1"));
    place(m_text1, 1215, 350, 6625, 330);
    m_label1->setBuddy(m_text1);
    m_command3 = new QPushButton(QStringLiteral("参照(&R)..."), this);
    place(m_command3, 6440, 840, 1400, 400);
    m_command2 = new ui::CaptionButton(FromUtf8(ExecuteCaption), this);
    place(m_command2, 4970, 1460, 1400, 460);
    m_command1 = new QPushButton(QStringLiteral("閉じる(&X)"), this);
    place(m_command1, 6440, 1460, 1400, 460);
    m_label2 = new ui::StatusStrip(FromUtf8(IdleStatus), this);
    place(m_label2, 1215, 915, 3720, 225);
    m_label3 = new QLabel(QStringLiteral("ﾃﾝﾎﾟ(&T):"), this);
    place(m_label3, 100, 1510, 3720, 225);
    m_combo1 = new ui::NamedComboBox(this);
    m_combo1->setObjectName(QStringLiteral("Combo1"));
    place(m_combo1, 1215, 1460, 1000, 300);
    m_label3->setBuddy(m_combo1);
    m_check1 = new QCheckBox(QStringLiteral("テープを表示(&D)"), this);
    m_check1->setObjectName(QStringLiteral("Check1"));
    place(m_check1, 2400, 1490, 2450, 270);
    m_label3->lower();
    m_picture2->lower();
    // Screen readers say the boxes by their labels' words.
    m_text1->setAccessibleName(ui::WithoutAccessKey(m_label1->text()));
    m_combo1->setAccessibleName(ui::WithoutAccessKey(m_label3->text()));
    for (QPushButton* button : {m_command1, static_cast<QPushButton*>(m_command2), m_command3}) {
        button->setAutoDefault(false);
    }
    setTabOrder(m_text1, m_command3);
    setTabOrder(m_command3, m_command2);
    setTabOrder(m_command2, m_command1);
    setTabOrder(m_command1, m_combo1);
    setTabOrder(m_combo1, m_check1);

    connect(m_command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(m_command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(m_command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(m_combo1, &QComboBox::currentIndexChanged, this, [this] { Combo1_Click(); });

    m_label4 = new QLabel(QStringLiteral("ﾊﾟｰﾄ(&P):"), this);
    place(m_label4, 100, 2010, 1100, 225);
    m_combo2 = new ui::NamedComboBox(this);
    m_combo2->setObjectName(QStringLiteral("Combo2"));
    place(m_combo2, 1215, 1960, 3600, 300);
    m_label4->setBuddy(m_combo2);
    m_combo3 = new ui::NamedComboBox(this);
    m_combo3->setObjectName(QStringLiteral("Combo3"));
    place(m_combo3, 4970, 1960, 1400, 300);
    for (const char* hand : {"両手", "右手", "左手"}) m_combo3->addItem(QString::fromUtf8(hand));
    m_label5 = new QLabel(this);
    place(m_label5, 1215, 2400, 6625, 225);
    m_combo2->setAccessibleName(QStringLiteral("パート"));
    m_combo3->setAccessibleName(QStringLiteral("手"));
    for (QWidget* w : std::initializer_list<QWidget*>{m_label4, m_combo2, m_combo3, m_label5}) {
        w->hide();
    }
    connect(m_text1, &QLineEdit::textChanged, this, [this] { ShowSongChoices(); });
    connect(m_combo2, &QComboBox::currentIndexChanged, this, [this] { ShowSongChoices(); });
    connect(m_combo3, &QComboBox::currentIndexChanged, this, [this] { ShowSongChoices(); });
    m_engine.SetSongOpener([this](MusicFileReader& reader, const std::string& path) {
        std::string said;
        if (importing::OpenSong(reader, path, Choices(), said)) return true;
        if (!said.empty()) {
            ui::showMessage(this,
                            {FromUtf8(said), ui::AppTitle, ui::Icon::Exclamation, ui::Buttons::Ok});
        }
        return false;
    });
    Form_Load();
    m_text1->setFocus();
}

MiscFile::~MiscFile() {
    HideTape();
}

void MiscFile::ShowTape() {
    if (m_tapeWindow == nullptr || !m_check1->isChecked()) return;
    performance::MusicFileReader reader;
    std::string said;
    if (!importing::OpenSong(reader, FileName(), Choices(), said)) return;
    m_tape = std::make_unique<practice::KeyTape>(practice::BuildSong(reader), false, false);
    m_tapeUnits = 0;
    m_tokenStart = Now();
    m_tokenUnit = m_engine.TimeUnit;
    m_tapeView = new practice::KeyTapeView(
        *m_tapeWindow, *m_tape, [this] { return TapePosition(); }, true, m_tapeWindow);
    m_tapeWindow->SetTopStrip(m_tapeView);
}

void MiscFile::HideTape() {
    if (m_tapeView == nullptr) return;
    m_tapeWindow->SetTopStrip(nullptr);
    delete m_tapeView.data();
    m_tape.reset();
}

std::optional<double> MiscFile::TapePosition() {
    const double seconds = std::chrono::duration<double>(Now() - m_tokenStart).count();
    return m_tapeUnits + std::max(0.0, seconds / static_cast<double>(m_tokenUnit));
}

void MiscFile::Form_Load() {
    m_engine.Playing = 0;
    m_picture2->PrintAt(1, 40, QStringLiteral("ミュージックファイルを演奏します。"),
                        QColor(128, 0, 0));
    {
        const QSignalBlocker blocker(m_combo1);
        for (const char* tempo : {"108", "126", "138", "150", "168"}) {
            m_combo1->addItem(QString::fromLatin1(tempo));
        }
    }
    m_combo1->setCurrentIndex(1);
    Combo1_Click();
    m_engine.TimeUnit = TimeUnitForTempo(DefaultTempo);
    m_engine.BuildKeyOfNote();
    if (!Module1::CommandLineFile.empty()) {
        m_text1->setText(QString::fromStdString(Module1::CommandLineFile));
    }
}

importing::SongChoices MiscFile::Choices() const {
    importing::SongChoices choices;
    choices.part = importing::PartOfListIndex(m_combo2->currentIndex());
    choices.hand = static_cast<importing::Hand>(std::max(0, m_combo3->currentIndex()));
    return choices;
}  // namespace performance

void MiscFile::ShowSongChoices() {
    const QString name = m_text1->text().trimmed();
    const bool imported = QFileInfo(name).isFile() && importing::IsImportable(name.toStdString());
    if (imported != !m_combo2->isHidden()) {
        for (QWidget* w : std::initializer_list<QWidget*>{m_label4, m_combo2, m_combo3, m_label5}) {
            w->setVisible(imported);
        }
        setFixedSize(ui::twipsToPixelsX(7935, *this),
                     ui::twipsToPixelsY(imported ? 2755 : 2055, *this));
    }
    if (!imported) return;
    // A new file starts from 自動: its list is filled from the import below, which reads it once.
    const bool newFile = name != m_partsOf;
    const QSignalBlocker blocker(m_combo2);
    if (newFile) {
        m_partsOf = name;
        m_combo2->clear();
    }
    // What fitting will change, or why the file cannot be played, before Execute.
    const importing::ImportedSong song = importing::ImportSong(name.toStdString(), Choices());
    if (newFile) {
        for (const std::string& item : importing::PartListItems(song.parts)) {
            m_combo2->addItem(QString::fromStdString(item));
        }
    }
    const std::string said = song.report.empty() ? std::string("そのまま弾けます") : song.report;
    m_label5->setText(FromUtf8(song.error.empty() ? song.fit.partName + ": " + said : song.error));
}

void MiscFile::Command2_Click() {
    m_engine.Command2_Click();
    // A close asked for during the performance is carried out once it has ended.
    if (m_closeWhenDone && !m_engine.running()) close();
}

void MiscFile::Combo1_Click() {
    m_engine.Combo1_Click(m_combo1->currentText().toInt());
}

void MiscFile::EnableInputs(bool enabled) {
    m_text1->setEnabled(enabled);
    m_command1->setEnabled(enabled);
    m_command3->setEnabled(enabled);
    m_combo2->setEnabled(enabled);
    m_combo3->setEnabled(enabled);
    m_check1->setEnabled(enabled);
}

void MiscFile::Command3_Click() {
    const auto chosen = ChooseMusicFile(this, m_lastChosen);
    if (!chosen) return;  // cancelled: the name stays
    m_lastChosen = *chosen;
    m_text1->setText(*chosen);
}

void MiscFile::reject() {
    close();
}

void MiscFile::closeEvent(QCloseEvent* event) {
    // Closing during a performance ends it after the current token; the dialog closes once the
    // token's notes are off and its keys are back at rest.
    m_engine.Unload();
    if (m_engine.running()) {
        m_closeWhenDone = true;
        event->ignore();
        return;
    }
    event->accept();
    QDialog::done(QDialog::Rejected);
}

void MiscFile::NoteOn(std::int16_t note) {
    Module1::NoteOn(note);
}
void MiscFile::NoteOff(std::int16_t note) {
    Module1::NoteOff(note);
}
void MiscFile::BarFunc(std::int16_t key) {
    if (m_barFunc) m_barFunc(key);
}
Clock::time_point MiscFile::Now() {
    return clockSlot().now ? clockSlot().now() : Clock::now();
}
void MiscFile::WaitUntil(Clock::time_point deadline) {
    // The performance has just read the tempo for this token's length.
    m_tokenUnit = m_engine.TimeUnit;
    if (clockSlot().waitUntil) {
        clockSlot().waitUntil(deadline);
    } else {
        Module1::WaitUntil(deadline);
    }
    if (m_tapeView == nullptr) return;
    const double length = std::chrono::duration<double>(deadline - m_tokenStart).count();
    m_tapeUnits += std::round(length / static_cast<double>(m_tokenUnit));
    m_tokenStart = deadline;
}
void MiscFile::LetEventsRun() {
    QCoreApplication::processEvents();
}
std::string MiscFile::FileName() {
    return m_text1->text().toStdString();
}

void MiscFile::SetButtonCaption(std::string_view caption) {
    m_command2->setCaption(FromUtf8(caption));
    m_captionNews = FromUtf8(caption) + QStringLiteral(" ボタン");
}

// A screen reader hears the status as it changes, whichever control has the focus, with the
// button's new caption ("演奏中。ｷｬﾝｾﾙ ボタン"): one sentence, as a second would cut the first.
void MiscFile::SetStatus(std::string_view text) {
    if (text == PlayingStatus) {
        ShowTape();
    } else {
        HideTape();
    }
    m_label2->setText(FromUtf8(text));
    QString news = FromUtf8(text).trimmed();
    if (!m_captionNews.isEmpty()) {
        if (!news.isEmpty() && !news.endsWith(QChar(u'。'))) news += QChar(u'。');
        news += std::exchange(m_captionNews, {});
    }
    if (!news.isEmpty()) ui::Announce(this, news);
}

void MiscFile::ReportMissingFile(std::string_view name) {
    ui::showMessage(this,
                    {QStringLiteral("「") + FromUtf8(name) + QStringLiteral("」ﾌｧｲﾙはありません。"),
                     ui::AppTitle, ui::Icon::Exclamation, ui::Buttons::Ok});
}

}  // namespace performance

namespace performance {

void ShowMiscFile(keyboard::Form1& form) {
    MiscFile dialog(form.noteTables(), [&form](std::int16_t key) { form.BarFunc(key); });
    dialog.SetTapeWindow(&form);
    dialog.exec();
}

}  // namespace performance
