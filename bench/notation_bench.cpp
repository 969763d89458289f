// Reading and parsing speed of music files: tokens per second and bytes per second.
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

#include "music_file.h"

namespace {

// A tune of about the given size in CP932: notes with marks, rests, chords, two line-end styles.
std::string GeneratedTune(std::size_t bytes) {
    const std::string line =
        "\x83\x68\x32,\x83\x8C#4,\x83\x7E\x48\x32,\x83\x74\x83\x40\x48#2,-2,"  // ド2,レ#4,ミH2,ファH#2,-2
        "\x83\x68:\x83\x7E:\x83\x5C\x34,\x83\x89\x4C\x30\r\n"                  // ド:ミ:ソ4,ラL0
        "\x83\x56\x49\x39,\x83\x68\x57\x31\n";                                 // シI9,ドW1
    std::string tune;
    tune.reserve(bytes + line.size());
    while (tune.size() < bytes) tune += line;
    return tune;
}

void ReadAndParse(benchmark::State& state) {
    const std::string tune = GeneratedTune(static_cast<std::size_t>(state.range(0)) << 20);
    std::int64_t tokens = 0;
    for (auto _ : state) {
        std::istringstream in(tune);
        performance::MusicFileReader reader(in);
        std::int64_t sum = 0;
        while (!reader.AtEnd()) {
            sum += reader.Read().parsed.length;
            ++tokens;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(tokens);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(tune.size()));
}
BENCHMARK(ReadAndParse)->Arg(8)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
