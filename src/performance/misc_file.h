// MiscFile, the automatic-performance dialog: a music file's name, a tempo, Execute/Cancel.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <functional>
#include <memory>
#include <optional>

#include "accessible_widgets.h"
#include "key_layout.h"
#include "key_tape_view.h"
#include "main_window.h"
#include "performance_engine.h"
#include "song_fitting.h"

namespace performance {

// The file chooser, replaceable so that tests can answer it. Returns the chosen file's full path,
// or nothing when the user cancelled.
struct FileChooserRequest {
    QString title;
    QStringList filters;
    QString preselected;  // the file last chosen in this opening of the dialog
    QStringList places;   // folders added to the chooser's side bar: the installed songs
};
using FileChooser = std::function<std::optional<QString>(QWidget*, const FileChooserRequest&)>;
void setFileChooser(FileChooser chooser);
// Asks for a music file as the dialogs' browse buttons do: the replaced chooser, or Qt's, with the
// installed songs among its places.
std::optional<QString> ChooseMusicFile(QWidget* parent, const QString& preselected);

// The clock a performance keeps time by, replaceable so that tests can run one in no time: the
// time now, and a wait until a deadline that lets window events run meanwhile.
struct PerformanceClock {
    std::function<Clock::time_point()> now;
    std::function<void(Clock::time_point)> waitUntil;
};
void setPerformanceClock(PerformanceClock clock);

// The name box: takes the first of the files dropped on it.
class FileNameBox : public QLineEdit {
    Q_OBJECT
  public:
    using QLineEdit::QLineEdit;

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

// The strip above the name box that explains the dialog, in dark red.
class ExplanationStrip : public QWidget {
    Q_OBJECT
  public:
    using QWidget::QWidget;
    void PrintAt(int xTwips, int yTwips, const QString& text, QColor color);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    struct Line {
        QPoint position;
        QString text;
        QColor color;
    };
    std::vector<Line> m_lines;
};

class MiscFile : public QDialog, private PerformanceHost {
    Q_OBJECT
  public:
    // barFunc marks keys on the keyboard window; tables are the keyboard's current note tables.
    MiscFile(const keyboard::NoteTables& tables, std::function<void(std::int16_t)> barFunc,
             QWidget* parent = nullptr);
    ~MiscFile() override;

    void Form_Load();
    void EnableInputs(bool enabled) override;
    void Command1_Click() { close(); }
    void Command2_Click();
    void Command3_Click();
    void Combo1_Click();
    // The keyboard window that shows the key tape while a file plays, when Check1 is chosen.
    void SetTapeWindow(keyboard::Form1* window) { m_tapeWindow = window; }

    PerformanceEngine& engine() { return m_engine; }
    QLineEdit* Text1() { return m_text1; }
    QPushButton* Command1() { return m_command1; }
    ui::CaptionButton* Command2() { return m_command2; }
    QPushButton* Command3() { return m_command3; }
    QComboBox* Combo1() { return m_combo1; }
    QCheckBox* Check1() { return m_check1; }
    QComboBox* Combo2() { return m_combo2; }
    QComboBox* Combo3() { return m_combo3; }
    QLabel* Label5() { return m_label5; }
    QLabel* Label1() { return m_label1; }
    QLabel* Label2() { return m_label2; }
    QLabel* Label3() { return m_label3; }
    ExplanationStrip* Picture2() { return m_picture2; }

  public slots:
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // PerformanceHost
    void NoteOn(std::int16_t note) override;
    void NoteOff(std::int16_t note) override;
    void BarFunc(std::int16_t key) override;
    Clock::time_point Now() override;
    void WaitUntil(Clock::time_point deadline) override;
    void LetEventsRun() override;
    std::string FileName() override;
    void SetButtonCaption(std::string_view caption) override;
    void SetStatus(std::string_view text) override;
    void ReportMissingFile(std::string_view name) override;

    std::function<void(std::int16_t)> m_barFunc;
    PerformanceEngine m_engine;
    QLabel* m_label1 = nullptr;
    FileNameBox* m_text1 = nullptr;
    QPushButton* m_command3 = nullptr;
    ui::CaptionButton* m_command2 = nullptr;
    QPushButton* m_command1 = nullptr;
    QLabel* m_label2 = nullptr;
    QLabel* m_label3 = nullptr;
    QComboBox* m_combo1 = nullptr;
    ExplanationStrip* m_picture2 = nullptr;
    // A MIDI file or a score: the dialog grows by a row with its parts, the hands and what
    // fitting changes.
    void ShowSongChoices();
    importing::SongChoices Choices() const;
    QLabel* m_label4 = nullptr;
    QComboBox* m_combo2 = nullptr;
    QComboBox* m_combo3 = nullptr;
    QLabel* m_label5 = nullptr;
    QString m_partsOf;
    QString m_lastChosen;
    QString m_captionNews;  // the button's new caption, said with the next status
    bool m_closeWhenDone = false;

    // The key tape while a file plays: it stands at the units the performance has waited
    // through, and moves on through the token it waits on now.
    void ShowTape();
    void HideTape();
    std::optional<double> TapePosition();
    QCheckBox* m_check1 = nullptr;
    keyboard::Form1* m_tapeWindow = nullptr;
    std::unique_ptr<practice::KeyTape> m_tape;
    QPointer<practice::KeyTapeView> m_tapeView;
    double m_tapeUnits = 0;  // units of the tokens played to their end
    Clock::time_point m_tokenStart{};
    float m_tokenUnit = 0;  // seconds per unit of the token under way
};

// Opens the dialog modally for the keyboard window, marking keys on it while a file plays.
void ShowMiscFile(keyboard::Form1& form);

}  // namespace performance
