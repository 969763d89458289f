// For the end-to-end tests: checks that a file is a whole format-0 Standard MIDI File of 480 ticks
// a quarter and prints its channel messages, one a line: absolute tick, status, note, velocity
// (decimal).
#include <cstdio>
#include <fstream>
#include <iterator>

#include "smf_reader.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: smf_events FILE\n");
        return 1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const auto file = testing_support::ReadSmf(std::string(std::istreambuf_iterator<char>(in), {}));
    const char* problem = !file.whole ? file.problem.c_str()
                          : file.format != 0 || file.tracks != 1 || file.division != 480
                              ? "format, tracks or division"
                              : nullptr;
    if (problem != nullptr) {
        std::fprintf(stderr, "not a whole Standard MIDI File: %s\n", problem);
        return 1;
    }
    for (const auto& [tick, message] : file.events) {
        std::printf("%lld %u %u %u\n", static_cast<long long>(tick), message >> 16,
                    (message >> 8) & 0xFF, message & 0xFF);
    }
    return 0;
}
