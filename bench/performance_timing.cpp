// Timing accuracy of a real performance: a tune of about a minute played through the engine with
// the program's own waits, against the trace output. Reports onset errors, the drift at the end
// and the processor time used per second of music.
//   build-bench/bench/performance_timing [seconds-of-music]
#include <sys/resource.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "key_layout.h"
#include "module1.h"
#include "output_backends.h"
#include "performance_engine.h"

using namespace performance;

namespace {

class TimedHost : public PerformanceHost {
  public:
    void NoteOn(std::int16_t note) override {
        onsets.push_back(Clock::now());
        Module1::NoteOn(note);
    }
    void NoteOff(std::int16_t note) override { Module1::NoteOff(note); }
    void BarFunc(std::int16_t) override {}
    Clock::time_point Now() override { return Clock::now(); }
    void WaitUntil(Clock::time_point deadline) override { Module1::WaitUntil(deadline); }
    void LetEventsRun() override { QCoreApplication::processEvents(); }
    std::string FileName() override { return file; }
    void SetButtonCaption(std::string_view) override {}
    void SetStatus(std::string_view) override {}
    void EnableInputs(bool) override {}
    void ReportMissingFile(std::string_view) override {}

    std::string file;
    std::vector<Clock::time_point> onsets;
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const double musicSeconds = argc > 1 ? std::stod(argv[1]) : 60.0;
    QCoreApplication application(argc, argv);
    const auto folder = std::filesystem::temp_directory_path();
    const auto tune = folder / "muruteka-timing-tune.txt";
    const auto trace = folder / "muruteka-timing-trace.log";

    // Single notes of lengths 1, 2 and 4 and a three-note chord, at tempo 126, in CP932.
    const std::vector<std::pair<std::string, int>> pattern = {
        {"\x83\x68\x31", 1},
        {"\x83\x8C\x32", 2},
        {"\x83\x7E\x34", 4},
        {"\x83\x68:\x83\x7E:\x83\x5C\x32", 2}};
    const float unit = TimeUnitForTempo(126);
    std::vector<int> unitsBefore;
    std::string text;
    int units = 0;
    for (std::size_t i = 0; units * unit < musicSeconds; ++i) {
        const auto& [token, length] = pattern[i % pattern.size()];
        text += token + (i % 8 == 7 ? "\r\n" : ",");
        unitsBefore.push_back(units);
        units += length;
    }
    std::ofstream(tune, std::ios::binary) << text;

    midi::installBackend(midi::makeBackend({"trace", trace.string()}, {}));
    midi::midiOutOpen(&Module1::hMidiOut, midi::MIDI_MAPPER);
    const keyboard::NoteTables tables = keyboard::NoteTablesForLayout(keyboard::LayoutF6);
    TimedHost host;
    host.file = tune.string();
    PerformanceEngine engine(host, tables);

    const double cpuBefore = cpuSeconds();
    const auto start = Clock::now();
    engine.Playing = 1;
    engine.PlayPath = host.file;
    engine.PlayMusicFile();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = cpuSeconds() - cpuBefore;
    midi::midiOutClose(Module1::hMidiOut);

    // One onset per token: the first note-on of each token (chords strike three at once).
    std::vector<double> errors;
    std::size_t onset = 0;
    const auto first = host.onsets.front();
    for (std::size_t token = 0; token < unitsBefore.size() && onset < host.onsets.size(); ++token) {
        const double due = unitsBefore[token] * static_cast<double>(unit);
        const double at = std::chrono::duration<double>(host.onsets[onset] - first).count();
        errors.push_back((at - due) * 1000.0);
        onset += token % pattern.size() == 3 ? 3 : 1;
    }
    std::vector<double> sorted;
    for (double e : errors) sorted.push_back(std::abs(e));
    std::sort(sorted.begin(), sorted.end());
    const double expectedLength = units * static_cast<double>(unit);
    std::printf("music: %.1f s in %zu tokens, played in %.3f s\n", expectedLength, errors.size(),
                wall);
    std::printf("onset error: median %.3f ms, 99th percentile %.3f ms, largest %.3f ms\n",
                sorted[sorted.size() / 2], sorted[sorted.size() * 99 / 100], sorted.back());
    std::printf("drift at the end: %.3f ms\n", (wall - expectedLength) * 1000.0);
    std::printf("processor time: %.2f ms per second of music\n", cpu * 1000.0 / expectedLength);
    std::filesystem::remove(tune);
    std::filesystem::remove(trace);
    return 0;
}
