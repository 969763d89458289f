// Time from a key event reaching the keyboard window during a practice to the next step's mark
// painted on the picture, offscreen: the key handler, the note, the practice engine, the marks
// and the paint of the region they changed, the key tape moved on included (or the tape taken
// off the window, for the same figure without it). The cost of one frame of the key tape
// scrolling in time: at 60 frames a second, 1 % of a core is 167 µs. And an in-time practice
// left to run: the processor time it takes with the tape and without, and where each painted
// frame's now line stands against the engine's due times. And keys typed during an in-time
// practice at moments of their own: key → note message out and key → mark painted, with the tape
// scrolling and without.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QInputDevice>
#include <QKeyEvent>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "key_tape_view.h"
#include "main_window.h"
#include "message_box.h"
#include "output_device.h"
#include "practice_session.h"

namespace {

// Silent; with `watch` set, it is told the time of each note-on.
class SilentBackend final : public midi::OutputBackend {
  public:
    bool available() override { return true; }
    void send(std::uint32_t message) override {
        if (watch && (message & 0xF0) == 0x90 && (message >> 16) != 0)
            (*watch)(std::chrono::steady_clock::now());
    }
    void close() override {}
    static inline std::function<void(std::chrono::steady_clock::time_point)>* watch = nullptr;
};

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double ProcessSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Each paint of the tape: when it was done and the position it showed.
class FrameWatcher : public QObject {
  public:
    struct Frame {
        practice::TimePoint done;
        double position = 0;
    };
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint || m_inside) return false;
        auto* view = static_cast<practice::KeyTapeView*>(watched);
        const auto position = view->Position();
        m_inside = true;
        watched->event(event);  // the paint itself
        m_inside = false;
        if (position) frames.push_back({practice::Clock::now(), *position});
        return true;
    }
    std::vector<Frame> frames;

  private:
    bool m_inside = false;
};

// A practice in a shown window with a song of its own and a silent output; it ends, and its
// files go, when the bench is done.
struct PracticeBench {
    PracticeBench(const char* name, const char* song, int width, bool builtInSynth)
        : folder(Install(name, song)), session(form, builtInSynth) {
        form.setPlayerNoteObserver(
            [this](std::int16_t note, bool on) { session.PlayerNote(note, on); });
        form.Form_Load({});
        form.resize(width, width * 3000 / 7005);
        form.show();
        QApplication::processEvents();
        request.file = (folder / "song.txt").string();
        request.fromLine = 1;  // a passage, so that it repeats until stopped
    }
    ~PracticeBench() {
        session.Stop();
        QApplication::processEvents();
        form.close();
        midi::installBackend(nullptr);
        std::filesystem::remove_all(folder);
    }
    // The song in CP932 and the history in a folder of the bench's, and the silent output, all
    // before the window exists.
    static std::filesystem::path Install(const char* name, const char* song) {
        const auto folder = std::filesystem::temp_directory_path() /
                            (std::string(name) + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        setenv("XDG_DATA_HOME", folder.c_str(), 1);
        std::ofstream(folder / "song.txt", std::ios::binary) << song;
        midi::installBackend(std::make_unique<SilentBackend>());
        return folder;
    }
    std::filesystem::path folder;
    keyboard::Form1 form;
    practice::PracticeSession session;
    practice::PracticeRequest request;
};

// ド:ミ:ソ4, ド4, ミ2, ソ2 repeated: chords and single keys.
const char* const ChordsAndKeys =
    "\x83\x68:\x83\x7E:\x83\x5C\x34,\x83\x68\x34,\x83\x7E\x32,\x83\x5C\x32\r\n";

void KeyEventToNextMark(benchmark::State& state) {
    // ド レ ミ ファ ソ in CP932.
    PracticeBench bench(
        "muruteka-mark-bench-",
        "\x83\x68\x34,\x83\x8C\x34,\x83\x7E\x34,\x83\x74\x83\x40\x34,\x83\x5C\x34\r\n",
        static_cast<int>(state.range(0)), true);
    keyboard::Form1& form = bench.form;
    practice::PracticeSession& session = bench.session;
    session.Start(bench.request);
    // The tape off: taken off the window, the keyboard at its own size again.
    if (state.range(1) == 0) form.SetTopStrip(nullptr);
    QApplication::processEvents();
    const auto& keyNote = form.noteTables().KeyNote;
    std::vector<double> times;
    for (auto _ : state) {
        state.PauseTiming();
        const auto note = session.engine()->Expected().front();
        const auto k = std::find(keyNote.begin() + 1, keyNote.end(), note) - keyNote.begin();
        const int qtKey = keyboard::VirtualKeyOfKey(static_cast<int>(k));
        QKeyEvent press(QEvent::KeyPress, qtKey, Qt::NoModifier, 0, 0, 0);
        QKeyEvent release(QEvent::KeyRelease, qtKey, Qt::NoModifier, 0, 0, 0);
        state.ResumeTiming();
        const auto began = std::chrono::steady_clock::now();
        QApplication::sendEvent(form.picture(), &press);
        // The marks' regions were marked dirty; the paint happens here.
        QApplication::processEvents();
        times.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - began)
                .count());
        state.PauseTiming();
        QApplication::sendEvent(form.picture(), &release);
        QApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["median_us"] = Median(times);
}
// The picture at design size and at full-HD width; the tape shown (1) or off (0).
BENCHMARK(KeyEventToNextMark)->ArgsProduct({{467, 1920}, {1, 0}})->Unit(benchmark::kMicrosecond);

void InTimeTapeFrame(benchmark::State& state) {
    PracticeBench bench("muruteka-tape-bench-", ChordsAndKeys, static_cast<int>(state.range(0)),
                        false);
    bench.request.inTime = true;
    bench.session.Start(bench.request);
    QApplication::processEvents();
    for (auto _ : state) bench.session.tapeView()->repaint();
}
BENCHMARK(InTimeTapeFrame)->Arg(467)->Arg(1920)->Unit(benchmark::kMicrosecond);

// An in-time practice left to run for a minute at the screen's rate (60 frames a second offscreen)
// with nobody playing: every note missed and greyed, as the engine's clock says. Its processor
// time with the tape shown (1) or off (0); with the tape, each painted frame's now line against
// the engine's due times: a step is due at songStart() + its unit × unitSeconds(), so the frame
// done at time t that shows position p is behind by t - (songStart() + p × unitSeconds()).
void InTimeScroll(benchmark::State& state) {
    PracticeBench bench("muruteka-scroll-bench-", ChordsAndKeys, static_cast<int>(state.range(0)),
                        false);
    keyboard::Form1& form = bench.form;
    practice::PracticeSession& session = bench.session;
    practice::PracticeRequest& request = bench.request;
    request.inTime = true;
    FrameWatcher watcher;
    for (auto _ : state) {
        session.Start(request);
        if (state.range(1) == 0) form.SetTopStrip(nullptr);
        session.tapeView()->installEventFilter(&watcher);
        QApplication::processEvents();
        watcher.frames.clear();
        const double cpuBefore = ProcessSeconds();
        const auto began = std::chrono::steady_clock::now();
        QEventLoop loop;
        QTimer::singleShot(std::chrono::seconds(60), &loop, &QEventLoop::quit);
        loop.exec();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        state.counters["core_percent"] = 100 * (ProcessSeconds() - cpuBefore) / wall;
        state.counters["frames_per_s"] = static_cast<double>(watcher.frames.size()) / wall;
        std::vector<double> behind;
        std::vector<double> gaps;
        const practice::PracticeEngine& engine = *session.engine();
        for (std::size_t i = 0; i < watcher.frames.size(); ++i) {
            const auto& frame = watcher.frames[i];
            const auto due =
                engine.songStart() +
                std::chrono::duration_cast<practice::Clock::duration>(
                    std::chrono::duration<double>(frame.position * engine.unitSeconds()));
            if (frame.position >= 0)
                behind.push_back(
                    std::chrono::duration<double, std::milli>(frame.done - due).count());
            if (i > 0)
                gaps.push_back(std::chrono::duration<double, std::milli>(frame.done -
                                                                         watcher.frames[i - 1].done)
                                   .count());
        }
        if (!behind.empty()) {
            state.counters["behind_median_ms"] = Median(behind);
            state.counters["behind_max_ms"] = *std::max_element(behind.begin(), behind.end());
            std::sort(behind.begin(), behind.end());
            state.counters["behind_p99_ms"] = behind[behind.size() * 99 / 100];
            // The share of frames whose now line is within one frame (16.7 ms) of the time.
            state.counters["within_frame_pct"] =
                100.0 *
                static_cast<double>(std::count_if(behind.begin(), behind.end(),
                                                  [](double ms) { return ms <= 1000.0 / 60; })) /
                static_cast<double>(behind.size());
            // Until the next frame the line stands still: the most it can lag.
            state.counters["gap_max_ms"] =
                gaps.empty() ? 0 : *std::max_element(gaps.begin(), gaps.end());
        }
        session.Stop();
        QApplication::processEvents();
    }
}
BENCHMARK(InTimeScroll)->Args({1920, 1})->Args({1920, 0})->Iterations(1)->Unit(benchmark::kSecond);

// Keys typed during an in-time practice at 1920 px, from a thread of their own at moments that
// have nothing to do with the tape's frames, as a keyboard's events come: each key event posted →
// its note's message handed to the output (what the synthesizer then sounds), and → the picture
// painted with its mark. A key that comes while a frame of the tape is painted waits for it; this
// is what the figures show, beside the same with the tape off.
void InTimeKeyToSoundAndMark(benchmark::State& state) {
    PracticeBench bench("muruteka-key-bench-", ChordsAndKeys, 1920, false);
    keyboard::Form1& form = bench.form;
    bench.request.inTime = true;
    using Time = std::chrono::steady_clock::time_point;
    struct Press {
        Time posted, sent, painted;
    };
    for (auto _ : state) {
        bench.session.Start(bench.request);
        if (state.range(0) == 0) form.SetTopStrip(nullptr);
        QApplication::processEvents();
        // The song's second step, ド alone: sometimes right, mostly early or late or wrong, as a
        // learner plays.
        const auto note = bench.session.engine()->song().steps.at(1).notes[0];
        const auto& keyNote = form.noteTables().KeyNote;
        const int qtKey = keyboard::VirtualKeyOfKey(static_cast<int>(
            std::find(keyNote.begin() + 1, keyNote.end(), note) - keyNote.begin()));
        constexpr int Presses = 400;
        std::vector<Press> presses(Presses);
        std::atomic<int> arrived{-1};  // the press the window has taken last
        bool paintDue = false;
        std::function<void(Time)> onSent = [&](Time t) {
            const int i = arrived;
            if (i >= 0 && presses[i].sent == Time{}) presses[i].sent = t;
        };
        SilentBackend::watch = &onSent;
        struct Watch : QObject {
            std::function<bool(QObject*, QEvent*)> filter;
            bool eventFilter(QObject* o, QEvent* e) override { return filter(o, e); }
        } watch;
        bool inside = false;
        watch.filter = [&](QObject* o, QEvent* e) {
            if (e->type() == QEvent::KeyPress && !static_cast<QKeyEvent*>(e)->isAutoRepeat()) {
                ++arrived;
                paintDue = true;
            }
            if (e->type() != QEvent::Paint || inside || !paintDue) return false;
            inside = true;
            o->event(e);
            inside = false;
            presses[arrived].painted = std::chrono::steady_clock::now();
            paintDue = false;
            return true;
        };
        form.picture()->installEventFilter(&watch);
        QEventLoop loop;
        // Made here: the typist's key events would otherwise make it in their own thread.
        QInputDevice::primaryKeyboard();
        std::thread typist([&] {
            std::mt19937 random(7);
            std::uniform_int_distribution<int> pause(40, 90);
            for (int i = 0; i < Presses; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
                presses[i].posted = std::chrono::steady_clock::now();
                QCoreApplication::postEvent(form.picture(), new QKeyEvent(QEvent::KeyPress, qtKey,
                                                                          Qt::NoModifier, 0, 0, 0));
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                QCoreApplication::postEvent(form.picture(), new QKeyEvent(QEvent::KeyRelease, qtKey,
                                                                          Qt::NoModifier, 0, 0, 0));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        typist.join();
        form.picture()->removeEventFilter(&watch);
        SilentBackend::watch = nullptr;
        std::vector<double> sound, mark;
        for (const Press& p : presses) {
            if (p.sent != Time{})
                sound.push_back(
                    std::chrono::duration<double, std::micro>(p.sent - p.posted).count());
            if (p.painted != Time{})
                mark.push_back(
                    std::chrono::duration<double, std::micro>(p.painted - p.posted).count());
        }
        auto percentile = [](std::vector<double> v, double q) {
            if (v.empty()) return 0.0;
            std::sort(v.begin(), v.end());
            return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))];
        };
        state.counters["presses"] = static_cast<double>(sound.size());
        state.counters["sound_median_us"] = percentile(sound, 0.5);
        state.counters["sound_p99_us"] = percentile(sound, 0.99);
        state.counters["mark_median_us"] = percentile(mark, 0.5);
        state.counters["mark_p99_us"] = percentile(mark, 0.99);
        bench.session.Stop();
        QApplication::processEvents();
    }
}
BENCHMARK(InTimeKeyToSoundAndMark)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    ui::setMessageHandler([](const ui::MessageRequest&) { return ui::Answer::Ok; });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
