// Prints the fundamental (Hz) and the level (RMS) of a 16-bit PCM WAV file's first channel, from
// a start second for a number of seconds: end-to-end tests look for a note in a recording.
// Usage: wav_pitch FILE [start seconds] [seconds]
//        wav_pitch FILE loudest   (the second at which the loudest tenth of a second starts)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio_analysis.h"

namespace {

std::uint32_t little(const std::string& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::ifstream in(argv[1], std::ios::binary);
    const std::string wav{std::istreambuf_iterator<char>(in), {}};
    if (wav.size() < 12 || wav.compare(0, 4, "RIFF") != 0 || wav.compare(8, 4, "WAVE") != 0) {
        std::fprintf(stderr, "not a WAV file\n");
        return 1;
    }
    std::uint32_t rate = 0, channels = 0, bits = 0;
    std::size_t at = 12;
    while (at + 8 <= wav.size()) {
        const std::string id = wav.substr(at, 4);
        std::size_t size = little(wav, at + 4, 4);
        if (id == "fmt ") {
            channels = little(wav, at + 10, 2);
            rate = little(wav, at + 12, 4);
            bits = little(wav, at + 22, 2);
        } else if (id == "data") {
            // A recorder that is stopped may leave the size unwritten: the rest of the file.
            if (size == 0 || size == 0xFFFFFFFF || at + 8 + size > wav.size())
                size = wav.size() - at - 8;
            if (bits != 16 || channels == 0) {
                std::fprintf(stderr, "not 16-bit PCM\n");
                return 1;
            }
            const std::size_t frames = size / (2 * channels);
            if (argc > 2 && std::strcmp(argv[2], "loudest") == 0) {
                const std::size_t tenth = rate / 10;
                double best = -1;
                std::size_t bestAt = 0;
                for (std::size_t f = 0; f + tenth <= frames; f += tenth / 2) {
                    std::vector<float> window;
                    for (std::size_t i = f; i < f + tenth; ++i) {
                        window.push_back(
                            static_cast<std::int16_t>(little(wav, at + 8 + i * 2 * channels, 2)) /
                            32768.0f);
                    }
                    const double level = testing_support::Rms(window);
                    if (level > best) {
                        best = level;
                        bestAt = f;
                    }
                }
                std::printf("%.2f\n", static_cast<double>(bestAt) / rate);
                return 0;
            }
            const double from = argc > 2 ? std::atof(argv[2]) : 0;
            const double length = argc > 3 ? std::atof(argv[3]) : 1e9;
            std::vector<float> samples;
            for (std::size_t f = static_cast<std::size_t>(from * rate);
                 f < frames && samples.size() < length * rate; ++f) {
                const auto v = static_cast<std::int16_t>(little(wav, at + 8 + f * 2 * channels, 2));
                samples.push_back(static_cast<float>(v) / 32768.0f);
            }
            std::printf("%.1f %.4f\n", testing_support::Fundamental(samples, rate),
                        testing_support::Rms(samples));
            return 0;
        }
        at += 8 + size + (size & 1);
    }
    std::fprintf(stderr, "no data chunk\n");
    return 1;
}
