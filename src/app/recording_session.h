// Recording in the window: the recorder behind the MIDI output, a timer that keeps both files
// current, the caption that says so, and the signals that end the program with both files whole.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <csignal>
#include <memory>
#include <mutex>

#include "command_line.h"
#include "output_device.h"
#include "recording_output.h"
#include "take_recorder.h"

namespace app {

class RecordingSession : public QObject {
  public:
    explicit RecordingSession(const CommandLine& command);
    ~RecordingSession() override;

    // The output the program plays through, with the recording in front of it.
    std::unique_ptr<midi::RecordingOutput> wrap(std::unique_ptr<midi::OutputBackend> output);
    // The caption, the timer and the signal handlers; from here on a signal ends the program.
    void start(QWidget& window);
    // Ends the recording now: notes still sounding end here, both files are completed.
    void finish();
    // 128 + the signal's number once a signal has ended the program, else 0.
    int signalExitCode() const { return m_signalExitCode; }

  private:
    void onSignal();
    void restoreHandlers();

    // The recorder hears the window's thread and the MIDI input's thread: one at a time.
    class LockedRecorder final : public midi::MessageRecorder {
      public:
        LockedRecorder(performance::TakeRecorder& recorder, std::mutex& mutex)
            : m_recorder(recorder), m_mutex(mutex) {}
        void Record(std::chrono::steady_clock::time_point when, std::uint32_t message) override {
            const std::lock_guard lock(m_mutex);
            m_recorder.Record(when, message);
        }

      private:
        performance::TakeRecorder& m_recorder;
        std::mutex& m_mutex;
    };

    performance::TakeRecorder m_recorder;
    std::mutex m_recorderMutex;
    LockedRecorder m_lockedRecorder{m_recorder, m_recorderMutex};
    QTimer m_timer;
    int m_pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_previous[3]{};
    bool m_handlersInstalled = false;
    int m_signalExitCode = 0;
};

}  // namespace app
