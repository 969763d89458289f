#include "echo_session.h"

#include <algorithm>
#include <thread>

#include "accessible_widgets.h"
#include "module1.h"
#include "wake_timer.h"

namespace practice {

EchoSession::EchoSession(keyboard::Form1& form, std::function<void(const Result&, bool)> done)
    : m_form(form), m_done(std::move(done)) {
    m_wake.setSingleShot(true);
    m_wake.setTimerType(Qt::PreciseTimer);
    connect(&m_wake, &QTimer::timeout, this, [this] { Wake(); });
}

EchoSession::~EchoSession() {
    m_wake.stop();
    Silence();
}

void EchoSession::Start(Song song, int tempo, const QString& caption) {
    m_caption = caption;
    m_coach = std::make_unique<EchoCoach>(std::move(song), tempo);
    const auto now = Clock::now();
    m_coach->Start(now);
    Handle(m_coach->Advance(now));
}

Reaction EchoSession::PlayerNote(std::int16_t note, bool on) {
    if (!running()) return {};
    const auto now = Clock::now();
    if (!on) {
        m_coach->NoteOff(note, now);
        return {};
    }
    const Reaction reaction = m_coach->NoteOn(note, now);
    Handle(m_coach->Advance(now));
    return reaction;
}

void EchoSession::Stop(bool showBox) {
    if (!running()) return;
    m_coach->Stop(Clock::now());
    m_wake.stop();
    Silence();
    m_done(m_coach->result(), showBox);
}

void EchoSession::Wake() {
    if (!running()) return;
    const auto now = SleepToWake(m_coach->NextWake(), Clock::now());
    Handle(m_coach->Advance(now));
}

void EchoSession::Handle(const std::vector<EchoEvent>& events) {
    for (const EchoEvent& event : events) {
        switch (event.kind) {
            case EchoEvent::Kind::Listen:
                ui::Announce(m_form.picture(), QStringLiteral("聴いてください"));
                break;
            case EchoEvent::Kind::Sound:
                if (const auto message =
                        Module1::PackNoteMessage(event.note, Module1::MidiChannel, true)) {
                    Module1::SendShortMessage(*message);
                    m_sounding.push_back(event.note);
                }
                break;
            case EchoEvent::Kind::Silence: {
                const auto it = std::find(m_sounding.begin(), m_sounding.end(), event.note);
                if (it == m_sounding.end()) break;
                m_sounding.erase(it);
                Module1::SendShortMessage(
                    *Module1::PackNoteMessage(event.note, Module1::MidiChannel, false));
                break;
            }
            case EchoEvent::Kind::YourTurn:
                ui::Announce(m_form.picture(), QStringLiteral("どうぞ"));
                break;
            case EchoEvent::Kind::Finished:
                m_wake.stop();
                Silence();
                m_done(m_coach->result(), true);
                return;
        }
    }
    Show();
    ArmWake(m_wake, m_coach->NextWake());
}

void EchoSession::Show() {
    m_form.SetNextNotes(m_coach->Expected());
    m_form.setWindowTitle(QStringLiteral("%1  [練習 聴いてまねる %2/%3]")
                              .arg(m_caption)
                              .arg(m_coach->phrase() + 1)
                              .arg(m_coach->phraseCount()));
}

void EchoSession::Silence() {
    for (const std::int16_t note : m_sounding) {
        Module1::SendShortMessage(*Module1::PackNoteMessage(note, Module1::MidiChannel, false));
    }
    m_sounding.clear();
}

}  // namespace practice
