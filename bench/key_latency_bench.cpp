// Time from a key event reaching the keyboard window to its MIDI message leaving, offscreen:
// the key handler, the note message and the key's mark on the picture.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "main_window.h"
#include "message_box.h"
#include "module1.h"
#include "output_device.h"
#include "recording_output.h"
#include "take_recorder.h"

namespace {

using Clock = std::chrono::steady_clock;

// Notes the moment each message arrives.
class TimingBackend final : public midi::OutputBackend {
  public:
    bool available() override { return true; }
    void send(std::uint32_t) override { last = Clock::now(); }
    void close() override {}
    Clock::time_point last;
};

// Second argument 1: recording to a music file and a MIDI file, as --record does.
void KeyEventToMessage(benchmark::State& state) {
    auto backend = std::make_unique<TimingBackend>();
    TimingBackend* timing = backend.get();
    const auto folder =
        std::filesystem::temp_directory_path() / ("muruteka-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::ostringstream report;
    performance::TakeRecorder recorder((folder / "take.txt").string(),
                                       (folder / "take.mid").string(), 126, report);
    if (state.range(1) != 0) {
        midi::installBackend(std::make_unique<midi::RecordingOutput>(std::move(backend), recorder));
    } else {
        midi::installBackend(std::move(backend));
    }
    keyboard::Form1 form;
    form.Form_Load({});
    form.resize(state.range(0), state.range(0) * 3000 / 7005);
    form.show();
    QApplication::processEvents();
    double total = 0;
    double handled = 0;
    for (auto _ : state) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Q, Qt::NoModifier, 24, 0, 0, QStringLiteral("q"));
        const auto start = Clock::now();
        QApplication::sendEvent(form.picture(), &press);
        const auto end = Clock::now();
        total += std::chrono::duration<double, std::micro>(timing->last - start).count();
        handled += std::chrono::duration<double, std::micro>(end - start).count();
        state.PauseTiming();
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Q, Qt::NoModifier, 24, 0, 0,
                          QStringLiteral("q"));
        QApplication::sendEvent(form.picture(), &release);
        state.ResumeTiming();
    }
    state.counters["us_to_message"] = total / static_cast<double>(state.iterations());
    state.counters["us_handled"] = handled / static_cast<double>(state.iterations());
    form.close();
    midi::installBackend(nullptr);
    recorder.Finish(Clock::now());
    std::filesystem::remove_all(folder);
}
// The picture at design size and at full-HD width, without and with recording.
BENCHMARK(KeyEventToMessage)->ArgsProduct({{467, 1920}, {0, 1}})->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    ui::setMessageHandler([](const ui::MessageRequest&) { return ui::Answer::Ok; });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
