#include "practice_session.h"

#include <QDialog>
#include <QEvent>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <thread>

#include "accessible_widgets.h"
#include "bar_map.h"
#include "keyboard_accessibility.h"
#include "message_box.h"
#include "module1.h"
#include "practice_dialog.h"
#include "practice_history.h"
#include "song_import.h"
#include "wake_timer.h"

namespace practice {
namespace {

// General MIDI: the percussion channel (10 as users count it) and its clicks.
constexpr std::uint8_t PercussionNoteOn = 0x99;
constexpr std::uint8_t SideStick = 37;
constexpr std::uint8_t HighWoodBlock = 76;
constexpr std::uint8_t LowWoodBlock = 77;
constexpr int ClickMs = 60;
// The wrong-note sound: a square lead, far from any piano.
constexpr std::uint8_t WrongNoteProgram = 80;

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Closing the window ends a practice as Esc does, before the window lets its keys go and closes
// the output, so that the history gets its line and nothing is left sounding.
class CloseWatcher : public QObject {
  public:
    CloseWatcher(QObject* parent, std::function<void()> onClose)
        : QObject(parent), m_onClose(std::move(onClose)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close) m_onClose();
        return false;
    }

  private:
    std::function<void()> m_onClose;
};

// The step is the first to start on its line of the music file (a bar); a pass starts one too.
bool StartsBar(const Song& song, std::size_t step) {
    if (step == 0) return true;
    const std::uint64_t after = song.steps[step - 1].startUnit + 1;
    const auto line = std::lower_bound(song.lineStarts.begin(), song.lineStarts.end(), after);
    return line != song.lineStarts.end() && *line <= song.steps[step].startUnit;
}

}  // namespace

PracticeSession::PracticeSession(keyboard::Form1& form, bool builtInSynth)
    : m_form(form),
      m_builtInSynth(builtInSynth),
      m_echo(form, [this](const Result& result, bool showBox) { EchoDone(result, showBox); }) {
    m_wake.setSingleShot(true);
    m_wake.setTimerType(Qt::PreciseTimer);
    connect(&m_wake, &QTimer::timeout, this, [this] { Wake(); });
    m_clickOff.setSingleShot(true);
    connect(&m_clickOff, &QTimer::timeout, this, [this] { EndClick(); });
    m_sayNext.setSingleShot(true);
    connect(&m_sayNext, &QTimer::timeout, this,
            [this] { ui::Announce(m_form.picture(), m_nextSentence); });
    m_form.installEventFilter(new CloseWatcher(this, [this] {
        m_echo.Stop(false);
        if (running()) {
            m_engine->Stop(Clock::now());
            Finish(false);
        }
    }));
}

PracticeSession::~PracticeSession() {
    m_wake.stop();
    HideTape();
    EndClick();
    EndWrongNotes();
}

void PracticeSession::ShowDialog() {
    if (const auto request = ShowPracticeDialog(&m_form, m_last)) Start(*request);
}

bool PracticeSession::Start(const PracticeRequest& request) {
    if (running()) Stop();
    m_last = request;
    const QString name = FromUtf8(request.file);
    performance::MusicFileReader reader;
    std::string said;
    if (!importing::OpenSong(reader, request.file, request.choices, said)) {
        const QString text =
            said.empty() ? QStringLiteral("「") + name + QStringLiteral("」ﾌｧｲﾙはありません。")
                         : FromUtf8(said);
        if (!said.empty()) std::cerr << said << "\n";
        ui::showMessage(&m_form, {text, ui::AppTitle, ui::Icon::Exclamation, ui::Buttons::Ok});
        return false;
    }
    // What fitting an imported song changed is said once, before the practice starts.
    if (!said.empty()) {
        std::cerr << "「" << request.file << "」: " << said << "\n";
        ui::showMessage(&m_form,
                        {QStringLiteral("「") + name + QStringLiteral("」: ") + FromUtf8(said),
                         ui::AppTitle, ui::Icon::None, ui::Buttons::Ok});
    }
    SongOptions songOptions;
    songOptions.melody = request.melody;
    songOptions.fromLine = static_cast<std::uint64_t>(std::max(0, request.fromLine));
    songOptions.toLine = static_cast<std::uint64_t>(std::max(0, request.toLine));
    Song song = BuildSong(reader, songOptions);
    const Song fullSong = song;  // the tape shows every note, "—" where no key plays it
    // The layout that plays the song, the standard one when several do; its notes are the
    // ones to practise, and the others are named once and passed.
    m_form.SetLayout(ChooseLayout(song));
    LeaveOutUnplayable(song, PlayableNotes(m_form.noteTables()));
    if (song.steps.empty()) {
        ui::showMessage(&m_form, {QStringLiteral("「") + name +
                                      QStringLiteral("」には、練習できる音がありません。"),
                                  ui::AppTitle, ui::Icon::Exclamation, ui::Buttons::Ok});
        return false;
    }
    if (const std::string unplayable = UnplayableMessage(song); !unplayable.empty()) {
        std::cerr << unplayable << "\n";
        ui::showMessage(&m_form,
                        {FromUtf8(unplayable), ui::AppTitle, ui::Icon::None, ui::Buttons::Ok});
    }

    PracticeOptions options;
    options.mode = request.inTime ? Mode::InTime : Mode::Wait;
    options.tempo = request.tempo;
    options.metronome = request.inTime && request.metronome;
    options.loop = request.fromLine > 0 || request.toLine > 0 || request.cleanRepeats > 0;
    options.cleanPasses = request.cleanRepeats;
    m_ramp.reset();
    if (request.rampFrom > 0) {
        m_ramp.emplace(request.rampFrom, request.tempo);
        m_cleanAtGoal = 0;
        options.tempo = m_ramp->tempo();
        options.loop = false;
        options.cleanPasses = 0;
    }
    m_engine = std::make_unique<PracticeEngine>(std::move(song), options);
    // The history tells apart the songs one file gives: a part, a hand, chords or melody.
    m_file = importing::SongKey(HistoryName(request.file), request.choices);
    if (request.melody && !importing::IsImportable(request.file)) m_file += "（メロディ）";
    m_caption = m_form.windowTitle();
    m_announcedStep.reset();
    if (m_builtInSynth) {
        m_wrongChannel = Module1::MidiChannel == 15 ? 14 : 15;
        Module1::SendShortMessage(Module1::PackShortMessage(
            static_cast<std::uint8_t>(0xC0 | m_wrongChannel), WrongNoteProgram));
    }
    if (request.echo) {
        m_echo.Start(Song(m_engine->song()), request.tempo, m_caption);
        m_engine.reset();
        return true;
    }
    const auto now = Clock::now();
    m_engine->Start(now);
    ShowTape(fullSong);
    if (m_ramp) ui::Announce(m_form.picture(), QStringLiteral("テンポ%1").arg(m_ramp->tempo()));
    Handle(m_engine->Advance(now));
    ShowProgress();
    Schedule();
    return true;
}

bool PracticeSession::Stop() {
    if (m_echo.running()) {
        m_echo.Stop(true);
        return true;
    }
    if (!running()) return false;
    m_engine->Stop(Clock::now());
    Finish(true);
    return true;
}

void PracticeSession::PlayerNote(std::int16_t note, bool on) {
    if (!on) {
        const auto wrong = std::find_if(m_wrongSounding.begin(), m_wrongSounding.end(),
                                        [note](const auto& s) { return s.first == note; });
        if (wrong != m_wrongSounding.end()) {
            Module1::SendShortMessage(*Module1::PackNoteMessage(note, wrong->second, false));
            m_wrongSounding.erase(wrong);
        }
        if (m_echo.running()) {
            m_echo.PlayerNote(note, false);
        } else if (running()) {
            m_engine->NoteOff(note, Clock::now());
        }
        return;
    }
    if (!running()) return;
    const auto now = Clock::now();
    const bool echo = m_echo.running();
    const Reaction reaction = echo ? m_echo.PlayerNote(note, true) : m_engine->NoteOn(note, now);
    const bool wrong =
        reaction.meaning == Meaning::Wrong || reaction.meaning == Meaning::StruckTwice;
    if (wrong && m_wrongChannel >= 0) {
        if (const auto message = Module1::PackNoteMessage(note, m_wrongChannel, true)) {
            Module1::SendShortMessage(*message);
            m_wrongSounding.emplace_back(note, m_wrongChannel);
        }
    }
    if (echo) return;
    if (m_tapeView != nullptr && m_engine->options().mode == Mode::InTime)
        MarkPlayed(note, reaction, now);
    Handle(m_engine->Advance(now));
    ShowProgress();
    Schedule();
}

void PracticeSession::Wake() {
    if (!running()) return;
    const auto now = SleepToWake(m_engine->NextWake(), Clock::now());
    Handle(m_engine->Advance(now));
    ShowProgress();
    Schedule();
}

void PracticeSession::Schedule() {
    if (!running()) return;
    ArmWake(m_wake, m_engine->NextWake());
}

void PracticeSession::Handle(const std::vector<Happening>& happenings) {
    for (const Happening& happening : happenings) {
        switch (happening.kind) {
            case Happening::Kind::Click:
                Click(happening.countIn, happening.downbeat);
                break;
            case Happening::Kind::Finished:
                if (m_ramp && NextRampPass(happening.time)) return;
                Finish(true);
                return;
            case Happening::Kind::Missed:
                if (m_tapeView != nullptr) {
                    // The window closed half a unit after the note was due.
                    const double due = KeyTape::TimePosition(*m_engine, happening.time) - 0.5;
                    m_tapeView->MarkCell(static_cast<std::uint64_t>(std::llround(due)),
                                         TapeMissedColor, false);
                }
                break;
            case Happening::Kind::PassDone:
                break;
        }
    }
}

void PracticeSession::ShowProgress() {
    if (!running()) return;
    const Progress progress = m_engine->progress();
    m_form.SetNextNotes(m_engine->Expected());
    if (m_tapeView != nullptr && m_engine->options().mode == Mode::Wait &&
        m_engine->ExpectedStep() != m_tapeStep) {
        m_tapeStep = m_engine->ExpectedStep();
        m_tapeView->Moved();
    }
    const QString tempo =
        m_ramp ? QStringLiteral("テンポ%1 ").arg(m_engine->options().tempo) : QString();
    m_form.setWindowTitle(QStringLiteral("%1  [練習 %2%3/%4]")
                              .arg(m_caption, tempo)
                              .arg(progress.stepsDone)
                              .arg(progress.stepCount));
    // A screen reader hears each next step while the practice waits for it; in time the steps
    // come faster than speech, and only the first is said.
    const auto step = m_engine->ExpectedStep();
    if (!step || step == m_announcedStep) return;
    if (m_announcedStep && m_engine->options().mode == Mode::InTime) return;
    m_announcedStep = step;
    QStringList names;
    const auto& keyNote = m_form.noteTables().KeyNote;
    for (const Note note : m_engine->Expected()) {
        const auto key = std::find(keyNote.begin() + 1, keyNote.end(), note);
        names << (key != keyNote.end()
                      ? keyboard::AccessibleKeyName(static_cast<int>(key - keyNote.begin()),
                                                    m_form.LayoutDegree())
                      : FromUtf8(NoteName(note)));
    }
    // After the key that played the step is named, so that the next key is what is heard last.
    m_nextSentence = QStringLiteral("次は ") + names.join(QStringLiteral("、"));
    // As a bar begins in wait mode, the bar ahead instead, when the player asked for it.
    if (m_last.readBars && m_tapeView != nullptr && m_engine->options().mode == Mode::Wait &&
        StartsBar(m_engine->song(), *step))
        m_nextSentence = m_tapeView->NextBarText();
    m_sayNext.start(0);
}

void PracticeSession::Click(bool countIn, bool downbeat) {
    EndClick();
    const std::uint8_t note = countIn ? SideStick : downbeat ? HighWoodBlock : LowWoodBlock;
    Module1::SendShortMessage(
        Module1::PackShortMessage(PercussionNoteOn, note, (countIn || downbeat) ? 110 : 90));
    m_clickNote = note;
    m_clickOff.start(ClickMs);
}

void PracticeSession::EndClick() {
    m_clickOff.stop();
    if (m_clickNote < 0) return;
    Module1::SendShortMessage(
        Module1::PackShortMessage(PercussionNoteOn, static_cast<std::uint8_t>(m_clickNote), 0));
    m_clickNote = -1;
}

void PracticeSession::EndWrongNotes() {
    for (const auto& [note, channel] : m_wrongSounding) {
        Module1::SendShortMessage(*Module1::PackNoteMessage(note, channel, false));
    }
    m_wrongSounding.clear();
    if (m_wrongChannel >= 0) {
        // The channel gets its piano back, for a player who chooses it later.
        Module1::SendShortMessage(
            Module1::PackShortMessage(static_cast<std::uint8_t>(0xC0 | m_wrongChannel), 0));
        m_wrongChannel = -1;
    }
}

void PracticeSession::Finish(bool showBox) {
    m_wake.stop();
    m_sayNext.stop();
    EndClick();
    EndWrongNotes();
    m_form.SetNextNotes({});
    m_form.setWindowTitle(m_caption);
    HideTape();
    Report(WithRamp(m_engine->result()), showBox);
}

bool PracticeSession::NextRampPass(TimePoint when) {
    const Result pass = m_engine->result();
    const bool clean = PlayedClean(pass);
    const int next = m_ramp->PassDone(clean);
    // --repeat-clean N: the ramp ends after N clean passes in a row at the goal.
    m_cleanAtGoal = clean && pass.tempo == m_ramp->goal() ? m_cleanAtGoal + 1 : 0;
    if (m_last.cleanRepeats > 0 && m_cleanAtGoal >= m_last.cleanRepeats) return false;
    Report(WithRamp(pass), false);
    PracticeOptions options = m_engine->options();
    options.tempo = next;
    m_engine = std::make_unique<PracticeEngine>(Song(m_engine->song()), options);
    m_announcedStep.reset();
    m_tapeStep.reset();
    m_engine->Start(when);
    ui::Announce(m_form.picture(), QStringLiteral("テンポ%1").arg(next));
    Handle(m_engine->Advance(when));
    return true;
}

std::function<QWidget*(QDialog*)> PracticeSession::BarMapMaker(std::vector<BarFigures> bars,
                                                               Mode mode) {
    return [this, bars, mode](QDialog* box) -> QWidget* {
        // A bar chosen: its loop with the next bar, the other choices as they were.
        auto choose = [this, bars, box](std::size_t i) {
            box->accept();
            PracticeRequest request = m_last;
            request.fromLine = static_cast<int>(bars[i].line);
            request.toLine = static_cast<int>(bars[std::min(i + 1, bars.size() - 1)].line);
            QTimer::singleShot(0, this, [this, request] { Start(request); });
        };
        return new BarMap(bars, mode, choose, box);
    };
}

void PracticeSession::EchoDone(const Result& result, bool showBox) {
    EndWrongNotes();
    m_form.SetNextNotes({});
    m_form.setWindowTitle(m_caption);
    Report(result, showBox);
}

Result PracticeSession::WithRamp(Result result) const {
    if (m_ramp) {
        result.rampFrom = m_ramp->start();
        result.highestCleanTempo = m_ramp->highestClean();
    }
    return result;
}

void PracticeSession::ShowTape(const Song& fullSong) {
    HideTape();
    m_tape = std::make_unique<KeyTape>(fullSong, m_engine->options().loop,
                                       m_engine->options().mode == Mode::InTime);
    const bool inTime = m_engine->options().mode == Mode::InTime;
    // The engine of the pass that runs: a tempo ramp starts a new one for each pass.
    auto position = [this, inTime]() -> std::optional<double> {
        if (m_engine == nullptr) return std::nullopt;
        if (inTime) return KeyTape::TimePosition(*m_engine, Clock::now());
        return KeyTape::WaitPosition(*m_engine);
    };
    m_tapeView = new KeyTapeView(m_form, *m_tape, position, inTime, &m_form);
    m_tapeStep.reset();
    m_form.SetTopStrip(m_tapeView);
    // F8 reads the bar ahead, through the same announcement as the next key, while the tape
    // shows.
    m_form.setReadAhead([this] {
        if (m_tapeView != nullptr) ui::Announce(m_form.picture(), m_tapeView->NextBarText());
    });
}

void PracticeSession::HideTape() {
    if (m_tapeView == nullptr) return;
    m_form.setReadAhead({});
    m_form.SetTopStrip(nullptr);
    delete m_tapeView.data();
    m_tape.reset();
}

void PracticeSession::MarkPlayed(Note note, const Reaction& reaction, TimePoint now) {
    const double position = KeyTape::TimePosition(*m_engine, now);
    if (reaction.meaning == Meaning::Hit) {
        if (const auto at = m_tape->StepNear(position, note, 1.0))
            m_tapeView->MarkCell(*at, TapeHitColor, true);
    } else if (reaction.meaning == Meaning::Wrong) {
        // A key of a cell near the now line, struck outside its window.
        if (const auto at = m_tape->StepNear(position, note, 2.0))
            m_tapeView->MarkCell(*at, TapeNearColor, true);
    }
}

void PracticeSession::Report(const Result& result, bool showBox) {
    const std::filesystem::path path = HistoryPath();
    QStringList problems;
    History history;
    if (!path.empty()) history = ReadHistory(path);
    for (const std::string& notice : history.notices) {
        std::cerr << notice << "\n";
        problems << FromUtf8(notice);
    }
    const Best best = BestBefore(history.entries, m_file, result.mode, result.tempo);
    std::cout << ResultLine(result, best, m_file) << std::endl;
    // A ramp's pass stopped before a note was played is no practice.
    const bool nothing = result.rampFrom > 0 && result.played + result.wrong + result.missed == 0;
    const std::string written =
        nothing ? std::string() : AppendHistory(path, EntryOf(result, m_file, std::time(nullptr)));
    if (!written.empty()) {
        std::cerr << written << "\n";
        problems << FromUtf8(written);
    }
    QString text = FromUtf8(ResultMessage(result, best, m_file));
    if (!problems.isEmpty()) text += QStringLiteral("\n\n") + problems.join('\n');
    if (!showBox) return;
    // The box opens once the note or key that ended the practice has been dealt with; a screen
    // reader reads it out, once.
    ui::MessageRequest box{text, ui::AppTitle + QStringLiteral("の練習結果"), ui::Icon::None,
                           ui::Buttons::Ok};
    if (!result.bars.empty()) box.extra = BarMapMaker(result.bars, result.mode);
    QTimer::singleShot(0, this, [this, box] { ui::showMessage(&m_form, box); });
}

}  // namespace practice
