#include "recording_session.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <cerrno>
#include <iostream>

#include "recording_output.h"

namespace app {
namespace {

constexpr int EndingSignals[3] = {SIGINT, SIGTERM, SIGHUP};
constexpr int TickMs = 1000;
const QString RecordingCaption = QStringLiteral("ムルテカ  [録音中]");

// The handler only writes the signal's number into a pipe; the window's event loop reads it
// and does the work, where files and windows may be touched.
int signalPipeWrite = -1;

extern "C" void OnEndingSignal(int signal) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signal);
    if (signalPipeWrite >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(signalPipeWrite, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

RecordingSession::RecordingSession(const CommandLine& command)
    : m_recorder(command.recordText, command.recordMidi, command.tempo, std::cerr) {}

RecordingSession::~RecordingSession() {
    finish();
    restoreHandlers();
    m_notifier.reset();
    for (const int fd : m_pipe) {
        if (fd >= 0) ::close(fd);
    }
}

std::unique_ptr<midi::RecordingOutput> RecordingSession::wrap(
    std::unique_ptr<midi::OutputBackend> output) {
    return std::make_unique<midi::RecordingOutput>(std::move(output), m_lockedRecorder);
}

void RecordingSession::start(QWidget& window) {
    window.setWindowTitle(RecordingCaption);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        const std::lock_guard lock(m_recorderMutex);
        m_recorder.Tick(std::chrono::steady_clock::now());
    });
    m_timer.start(TickMs);

    if (::pipe2(m_pipe, O_NONBLOCK | O_CLOEXEC) != 0) return;
    m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { onSignal(); });
    signalPipeWrite = m_pipe[1];
    struct sigaction action {};
    action.sa_handler = OnEndingSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) sigaction(EndingSignals[i], &action, &m_previous[i]);
    m_handlersInstalled = true;
}

void RecordingSession::finish() {
    m_timer.stop();
    const std::lock_guard lock(m_recorderMutex);
    m_recorder.Finish(std::chrono::steady_clock::now());
}

void RecordingSession::restoreHandlers() {
    if (!m_handlersInstalled) return;
    for (int i = 0; i < 3; ++i) sigaction(EndingSignals[i], &m_previous[i], nullptr);
    signalPipeWrite = -1;
    m_handlersInstalled = false;
}

void RecordingSession::onSignal() {
    unsigned char signal = 0;
    while (::read(m_pipe[0], &signal, 1) == 1) {
    }
    if (const std::lock_guard lock(m_recorderMutex); m_recorder.finished()) return;
    // The files are finished first, at the moment of the signal; then the program ends as it
    // does on F9, switching off what still sounds.
    finish();
    m_signalExitCode = 128 + signal;
    // A second Ctrl-C while the program closes ends it at once, as without recording.
    restoreHandlers();
    // A signal may come before the main event loop runs (a performance from the command line
    // plays first); main() then does not start it.
    QApplication::closeAllWindows();
    QCoreApplication::exit(m_signalExitCode);
}

}  // namespace app
