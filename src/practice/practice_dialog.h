// The practice dialog (F3): a music file's name, how to practise, a tempo, a passage, Start/Close.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <optional>

#include "history_report.h"
#include "misc_file.h"
#include "practice_request.h"
#include "tempo_ramp.h"

namespace practice {

class PracticeDialog : public QDialog {
    Q_OBJECT
  public:
    // Opens with the choices of the last practice.
    explicit PracticeDialog(const PracticeRequest& last, QWidget* parent = nullptr);

    // The choices as they stand.
    PracticeRequest Request() const;
    void Command2_Click();  // Start: closes with the choices when the file is there
    void Command3_Click();  // Browse
    void Option_Click();
    // A MIDI file or a score named: its parts and the hands appear to choose from.
    void Text1_Change();

    QLineEdit* Text1() { return m_text1; }
    QRadioButton* Option1() { return m_option1; }
    QRadioButton* Option2() { return m_option2; }
    QRadioButton* Option3() { return m_option3; }
    QComboBox* Combo1() { return m_combo1; }
    QCheckBox* Check1() { return m_check1; }
    QSpinBox* Spin1() { return m_spin1; }
    QSpinBox* Spin2() { return m_spin2; }
    QSpinBox* Spin3() { return m_spin3; }
    QPushButton* Command1() { return m_command1; }
    QPushButton* Command2() { return m_command2; }
    QPushButton* Command3() { return m_command3; }
    QCheckBox* Check2() { return m_check2; }
    QComboBox* Combo2() { return m_combo2; }
    QComboBox* Combo3() { return m_combo3; }
    QComboBox* Combo4() { return m_combo4; }
    QListWidget* List1() { return m_list1; }
    QCheckBox* Check3() { return m_check3; }
    // Typing in the name box: the song list shows the songs whose path holds the text.
    void Text1_Edited();

  private:
    performance::FileNameBox* m_text1 = nullptr;
    QPushButton* m_command3 = nullptr;
    QRadioButton* m_option1 = nullptr;
    QRadioButton* m_option2 = nullptr;
    QRadioButton* m_option3 = nullptr;
    QComboBox* m_combo1 = nullptr;
    QCheckBox* m_check1 = nullptr;
    QSpinBox* m_spin1 = nullptr;
    QSpinBox* m_spin2 = nullptr;
    QSpinBox* m_spin3 = nullptr;
    QPushButton* m_command2 = nullptr;
    QPushButton* m_command1 = nullptr;
    QCheckBox* m_check2 = nullptr;
    QLabel* m_label7 = nullptr;
    QComboBox* m_combo2 = nullptr;
    QLabel* m_label8 = nullptr;
    QComboBox* m_combo3 = nullptr;
    QComboBox* m_combo4 = nullptr;  // slow first: the tempo to start from, or none
    // The songs practised before, newest first, then the songs folder's; a gone file greyed.
    QListWidget* m_list1 = nullptr;
    QCheckBox* m_check3 = nullptr;  // wait mode: the bar ahead read when a bar begins
    std::vector<SongListEntry> m_songs;
    bool m_filtered = false;  // the player typed a part of a name
    QString m_partsOf;        // the file whose parts the list holds
    QString m_lastChosen;
};

// Shows the dialog modally; the choices when Start was pressed, nothing when it was closed.
std::optional<PracticeRequest> ShowPracticeDialog(QWidget* parent, const PracticeRequest& last);

}  // namespace practice
