// Time from a key event reaching the keyboard window during a practice to the next step's mark
// painted on the picture, offscreen: the key handler, the note, the practice engine, the marks
// and the paint of the region they changed, the key tape moved on included. And the cost of one
// frame of the key tape scrolling in time: at 60 frames a second, 1 % of a core is 167 µs.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "key_tape_view.h"
#include "main_window.h"
#include "message_box.h"
#include "output_device.h"
#include "practice_session.h"

namespace {

class SilentBackend final : public midi::OutputBackend {
  public:
    bool available() override { return true; }
    void send(std::uint32_t) override {}
    void close() override {}
};

void KeyEventToNextMark(benchmark::State& state) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("muruteka-mark-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    setenv("XDG_DATA_HOME", folder.c_str(), 1);
    // ド レ ミ ファ ソ in CP932, a passage that repeats until stopped.
    std::ofstream(folder / "song.txt", std::ios::binary)
        << "\x83\x68\x34,\x83\x8C\x34,\x83\x7E\x34,\x83\x74\x83\x40\x34,\x83\x5C\x34\r\n";
    midi::installBackend(std::make_unique<SilentBackend>());
    keyboard::Form1 form;
    practice::PracticeSession session(form, true);
    form.setPlayerNoteObserver([&](std::int16_t note, bool on) { session.PlayerNote(note, on); });
    form.Form_Load({});
    form.resize(static_cast<int>(state.range(0)), static_cast<int>(state.range(0) * 3000 / 7005));
    form.show();
    QApplication::processEvents();
    practice::PracticeRequest request;
    request.file = (folder / "song.txt").string();
    request.fromLine = 1;
    session.Start(request);
    QApplication::processEvents();
    const auto& keyNote = form.noteTables().KeyNote;
    for (auto _ : state) {
        state.PauseTiming();
        const auto note = session.engine()->Expected().front();
        const auto k = std::find(keyNote.begin() + 1, keyNote.end(), note) - keyNote.begin();
        const int qtKey = keyboard::VirtualKeyOfKey(static_cast<int>(k));
        QKeyEvent press(QEvent::KeyPress, qtKey, Qt::NoModifier, 0, 0, 0);
        QKeyEvent release(QEvent::KeyRelease, qtKey, Qt::NoModifier, 0, 0, 0);
        state.ResumeTiming();
        QApplication::sendEvent(form.picture(), &press);
        // The marks' regions were marked dirty; the paint happens here.
        QApplication::processEvents();
        state.PauseTiming();
        QApplication::sendEvent(form.picture(), &release);
        QApplication::processEvents();
        state.ResumeTiming();
    }
    session.Stop();
    QApplication::processEvents();
    form.close();
    midi::installBackend(nullptr);
    std::filesystem::remove_all(folder);
}
// The picture at design size and at full-HD width.
BENCHMARK(KeyEventToNextMark)->Arg(467)->Arg(1920)->Unit(benchmark::kMicrosecond);

void InTimeTapeFrame(benchmark::State& state) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("muruteka-tape-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    setenv("XDG_DATA_HOME", folder.c_str(), 1);
    // ド:ミ:ソ4, ド4, ミ2, ソ2 repeated: chords and single keys.
    std::ofstream(folder / "song.txt", std::ios::binary)
        << "\x83\x68:\x83\x7E:\x83\x5C\x34,\x83\x68\x34,\x83\x7E\x32,\x83\x5C\x32\r\n";
    midi::installBackend(std::make_unique<SilentBackend>());
    keyboard::Form1 form;
    practice::PracticeSession session(form, false);
    form.Form_Load({});
    form.resize(static_cast<int>(state.range(0)), static_cast<int>(state.range(0) * 3000 / 7005));
    form.show();
    QApplication::processEvents();
    practice::PracticeRequest request;
    request.file = (folder / "song.txt").string();
    request.fromLine = 1;
    request.inTime = true;
    session.Start(request);
    QApplication::processEvents();
    for (auto _ : state) session.tapeView()->repaint();
    session.Stop();
    QApplication::processEvents();
    form.close();
    midi::installBackend(nullptr);
    std::filesystem::remove_all(folder);
}
BENCHMARK(InTimeTapeFrame)->Arg(467)->Arg(1920)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    ui::setMessageHandler([](const ui::MessageRequest&) { return ui::Answer::Ok; });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
