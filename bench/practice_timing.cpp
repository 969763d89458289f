// Timing of a practice in time, as the window drives it: a precise Qt timer set to the engine's
// next wake, then Advance(). Reports how late each click and each other wake (a window opening
// or closing, the end) is handled against the clock.
//   build-bench/bench/practice_timing [seconds-of-music] [tempo] [timer-only]
// With "echo": listen-then-repeat, driven as its window drives it (the timer a millisecond early,
// the rest slept), each phrase played back at once and right by a player. Reports how late each
// note of the program's phrases is sent against its due time, and each onset against the
// phrase's first as the performance benchmark counts them.
//   build-bench/bench/practice_timing [seconds-of-music] [tempo] echo
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "echo_coach.h"
#include "practice_engine.h"
#include "wake_timer.h"

using namespace practice;

namespace {

void Report(const char* what, std::vector<double> errors) {
    if (errors.empty()) return;
    std::sort(errors.begin(), errors.end());
    std::printf("%s: %zu, error median %.3f ms, 99th percentile %.3f ms, largest %.3f ms\n", what,
                errors.size(), errors[errors.size() / 2], errors[errors.size() * 99 / 100],
                errors.back());
}

int Echo(Song song, int tempo) {
    EchoCoach coach(std::move(song), tempo);
    std::vector<double> late, onsets;
    std::size_t phrases = 0;
    TimePoint phraseSent{}, phraseDue{};
    bool phraseStarted = false;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    std::function<void(TimePoint)> handle = [&](TimePoint now) {
        for (const EchoEvent& e : coach.Advance(now)) {
            if (e.kind == EchoEvent::Kind::Listen) phraseStarted = false;
            if (e.kind == EchoEvent::Kind::Finished) QCoreApplication::quit();
            if (e.kind != EchoEvent::Kind::Sound) continue;
            const auto sent = Clock::now();
            late.push_back(std::chrono::duration<double, std::milli>(sent - e.time).count());
            if (!phraseStarted) {
                phraseStarted = true;
                phraseSent = sent;
                phraseDue = e.time;
                ++phrases;
            } else if (e.time != phraseDue) {
                onsets.push_back(std::abs(std::chrono::duration<double, std::milli>(
                                              (sent - phraseSent) - (e.time - phraseDue))
                                              .count()));
            }
        }
        if (coach.playerTurn()) {
            // The player plays the phrase back at once, note for note.
            QTimer::singleShot(0, [&] {
                while (coach.playerTurn() && !coach.finished()) {
                    const auto notes = coach.Expected();
                    if (notes.empty()) break;
                    for (const Note note : notes) coach.NoteOn(note, Clock::now());
                    for (const Note note : notes) coach.NoteOff(note, Clock::now());
                }
                handle(Clock::now());
            });
            return;
        }
        ArmWake(timer, coach.NextWake());
    };
    QObject::connect(&timer, &QTimer::timeout,
                     [&] { handle(SleepToWake(coach.NextWake(), Clock::now())); });
    coach.Start(Clock::now());
    handle(Clock::now());
    QCoreApplication::exec();
    std::printf("listen then repeat: %zu phrases at tempo %d\n", phrases, tempo);
    Report("notes sent after their due time", late);
    Report("onset error within a phrase (absolute)", onsets);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const double musicSeconds = argc > 1 ? std::stod(argv[1]) : 30.0;
    const int tempo = argc > 2 ? std::stoi(argv[2]) : 126;
    // "timer-only": no waiting out the fraction of a millisecond the timer cannot count.
    const bool spin = !(argc > 3 && std::string(argv[3]) == "timer-only");
    const bool echo = argc > 3 && std::string(argv[3]) == "echo";
    QCoreApplication application(argc, argv);

    // Single notes of lengths 1, 2 and 4 and a three-note chord, in CP932.
    const std::vector<std::string> pattern = {"\x83\x68\x31", "\x83\x8C\x32", "\x83\x7E\x34",
                                              "\x83\x68:\x83\x7E:\x83\x5C\x32"};
    const double unit = 60.0 / tempo / 4;
    std::string text;
    double seconds = 0;
    for (std::size_t i = 0; seconds < musicSeconds; ++i) {
        text += pattern[i % pattern.size()] + (i % 8 == 7 ? "\r\n" : ",");
        seconds += unit * static_cast<double>(std::string("1242")[i % 4] - '0');
    }
    std::istringstream in(text);
    performance::MusicFileReader reader(in);
    if (echo) return Echo(BuildSong(reader), tempo);
    PracticeOptions options;
    options.mode = Mode::InTime;
    options.tempo = tempo;
    options.metronome = true;
    PracticeEngine engine(BuildSong(reader), options);

    std::vector<double> clicks, wakes;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    TimePoint target{};
    auto schedule = [&] {
        const auto next = engine.NextWake();
        if (!next) {
            QCoreApplication::quit();
            return;
        }
        target = *next;
        // Whole milliseconds: short of the target when spinning, past it when not.
        const auto left = target - Clock::now();
        const auto wait = spin ? std::chrono::floor<std::chrono::milliseconds>(left)
                               : std::chrono::ceil<std::chrono::milliseconds>(left);
        timer.start(std::max<std::chrono::milliseconds::rep>(0, wait.count()));
    };
    QObject::connect(&timer, &QTimer::timeout, [&] {
        // A Qt timer counts whole milliseconds: the last fraction is waited out here.
        while (spin && Clock::now() < target) {
        }
        const auto now = Clock::now();
        bool clicked = false;
        for (const Happening& h : engine.Advance(now)) {
            if (h.kind != Happening::Kind::Click) continue;
            clicks.push_back(std::chrono::duration<double, std::milli>(now - h.time).count());
            clicked = true;
        }
        if (!clicked) {
            wakes.push_back(std::chrono::duration<double, std::milli>(now - target).count());
        }
        schedule();
    });
    engine.Start(Clock::now());
    schedule();
    QCoreApplication::exec();
    std::printf("music: %.1f s at tempo %d in %zu steps\n", seconds, tempo,
                engine.song().steps.size());
    Report("clicks", clicks);
    Report("other wakes", wakes);
    return 0;
}
