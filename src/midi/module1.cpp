#include "module1.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <cmath>
#include <thread>

#include "gm_programs.h"

namespace Module1 {
namespace {

void send(std::optional<std::uint32_t> message) {
    if (message) midi::midiOutShortMsg(hMidiOut, *message);
}

}  // namespace

void NoteOn(std::int16_t offset) {
    send(PackNoteMessage(offset, MidiChannel, true));
}

void SendShortMessage(std::uint32_t message) {
    midi::midiOutShortMsgAside(hMidiOut, message);
}

void NoteOff(std::int16_t offset) {
    send(PackNoteMessage(offset, MidiChannel, false));
}

void NoteOff(std::int16_t offset, std::int32_t channel) {
    send(PackNoteMessage(offset, channel, false));
}

void SetChannel(std::int32_t index) {
    const std::int32_t channel = (index >= 1 && index <= 15) ? index : 0;
    std::atomic_ref(MidiChannel).store(channel);
    if (Program >= 0 && Program <= 127) send(midi::ProgramChangeMessage(Program, channel));
}

std::int32_t CurrentChannel() {
    return std::atomic_ref(MidiChannel).load();
}

void Wait(float seconds) {
    if (!(seconds > 0.0f)) return;
    const auto duration = std::chrono::duration<double>(static_cast<double>(seconds));
    WaitUntil(std::chrono::steady_clock::now() +
              std::chrono::duration_cast<std::chrono::steady_clock::duration>(duration));
}

void WaitUntil(std::chrono::steady_clock::time_point deadline) {
    using Clock = std::chrono::steady_clock;
    if (QCoreApplication::instance() == nullptr) {
        std::this_thread::sleep_until(deadline);
        return;
    }
    // A local event loop sleeps until the next window event or a timer shortly before the
    // deadline; the events that arrive meanwhile are handled inside it, as in a modal dialog.
    // Timers wake up to a millisecond late, so the last stretch is slept exactly.
    constexpr auto lastStretch = std::chrono::milliseconds(2);
    while (true) {
        const auto remaining = deadline - Clock::now();
        if (remaining <= Clock::duration::zero()) return;
        if (remaining < lastStretch) {
            std::this_thread::sleep_until(deadline);
            return;
        }
        const auto wholeMs = std::chrono::duration_cast<std::chrono::milliseconds>(remaining) -
                             std::chrono::milliseconds(1);
        QEventLoop loop;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(static_cast<int>(wholeMs.count()));
        loop.exec();
        if (timer.isActive()) {
            // The loop ended before the deadline without our timer: the application is quitting
            // and event loops return at once. Let the time pass without events instead of spinning.
            std::this_thread::sleep_until(deadline);
            return;
        }
    }
}

}  // namespace Module1
