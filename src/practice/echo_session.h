// Listen, then repeat, in the keyboard window: plays each phrase of an EchoCoach on the MIDI
// output with its keys marked, says "聴いてください" and "どうぞ" to screen readers, and hands
// the player's notes to the coach. The practice session owns it and reports its result.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "echo_coach.h"
#include "main_window.h"

namespace practice {

class EchoSession : public QObject {
  public:
    // done: the result, and whether the box is to be shown (false when the window closes).
    EchoSession(keyboard::Form1& form, std::function<void(const Result&, bool)> done);
    ~EchoSession() override;

    void Start(Song song, int tempo, const QString& caption);
    Reaction PlayerNote(std::int16_t note, bool on);
    void Stop(bool showBox);
    bool running() const { return m_coach != nullptr && !m_coach->finished(); }
    const EchoCoach* coach() const { return m_coach.get(); }

  private:
    void Wake();
    void Handle(const std::vector<EchoEvent>& events);
    void Show();
    void Silence();

    keyboard::Form1& m_form;
    std::function<void(const Result&, bool)> m_done;
    std::unique_ptr<EchoCoach> m_coach;
    QString m_caption;
    QTimer m_wake;
    std::vector<std::int16_t> m_sounding;  // notes the program sent and has not ended
};

}  // namespace practice
