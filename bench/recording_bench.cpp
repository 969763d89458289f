// Writing a recording of 10,000 notes: the music-file writer alone, and both files on disk.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <sstream>

#include "music_writer.h"
#include "take_recorder.h"

namespace {

struct Note {
    std::int64_t on, off;
    int offset;
};

// Ten thousand notes as a player might: mostly single notes, some chords, some rests.
std::vector<Note> Playing() {
    std::mt19937 random(7);
    std::vector<Note> notes;
    std::int64_t t = 0;
    while (notes.size() < 10'000) {
        t += std::uniform_int_distribution<std::int64_t>(0, 400)(random) * 1'000'000;
        const int members = std::uniform_int_distribution<int>(0, 9)(random) == 0 ? 3 : 1;
        for (int k = 0; k < members; ++k) {
            const int offset = std::uniform_int_distribution<int>(-6, 30)(random);
            const std::int64_t held = std::uniform_int_distribution<std::int64_t>(50, 600)(random);
            notes.push_back({t, t + held * 1'000'000, offset});
        }
    }
    return notes;
}

void MusicWriter10000Notes(benchmark::State& state) {
    const auto notes = Playing();
    std::size_t bytes = 0;
    for (auto _ : state) {
        performance::MusicWriter writer(126);
        std::string text;
        for (const Note& n : notes) {
            // Each note ends before the next one starts, in the order a keyboard sends them.
            writer.NoteOn(n.on, 0, n.offset);
            writer.NoteOff(n.off, 0, n.offset);
            text += writer.TakeText();
        }
        writer.Finish(notes.back().off);
        text += writer.TakeText();
        bytes = text.size();
        benchmark::DoNotOptimize(text);
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(MusicWriter10000Notes)->Unit(benchmark::kMillisecond);

// Both files, from the first message to the finished files (with one MIDI rewrite at the end).
// Argument 1: only the finishing is timed (the last token and the MIDI file written whole).
void Record10000NotesToFiles(benchmark::State& state) {
    const auto notes = Playing();
    const auto folder =
        std::filesystem::temp_directory_path() / ("muruteka-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto start = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    for (auto _ : state) {
        std::ostringstream report;
        performance::TakeRecorder recorder((folder / "take.txt").string(),
                                           (folder / "take.mid").string(), 126, report);
        if (state.range(0) != 0) state.PauseTiming();
        for (const Note& n : notes) {
            const auto note = static_cast<std::uint32_t>(60 + n.offset) << 8;
            recorder.Record(start + std::chrono::nanoseconds(n.on), 0x7F0090 | note);
            recorder.Record(start + std::chrono::nanoseconds(n.off), 0x000090 | note);
        }
        if (state.range(0) != 0) state.ResumeTiming();
        recorder.Finish(start + std::chrono::nanoseconds(notes.back().off));
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(Record10000NotesToFiles)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
