// For the end-to-end tests: checks that a file is a whole format-0 Standard MIDI File and prints
// its channel messages, one a line: absolute tick, status, note, velocity (decimal).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::uint32_t BigEndian(const std::string& s, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

int Invalid(const char* why) {
    std::fprintf(stderr, "not a whole Standard MIDI File: %s\n", why);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return Invalid("usage: smf_events FILE");
    std::ifstream in(argv[1], std::ios::binary);
    const std::string s((std::istreambuf_iterator<char>(in)), {});
    if (s.size() < 22 || s.compare(0, 4, "MThd") != 0 || BigEndian(s, 4, 4) != 6) {
        return Invalid("header");
    }
    if (BigEndian(s, 8, 2) != 0 || BigEndian(s, 10, 2) != 1 || BigEndian(s, 12, 2) != 480) {
        return Invalid("format, tracks or division");
    }
    if (s.compare(14, 4, "MTrk") != 0 || 22 + BigEndian(s, 18, 4) != s.size()) {
        return Invalid("track length");
    }
    std::size_t at = 22;
    std::uint64_t tick = 0;
    while (at < s.size()) {
        std::uint32_t delta = 0;
        unsigned char b;
        do {
            if (at >= s.size()) return Invalid("cut in a delta time");
            b = static_cast<unsigned char>(s[at++]);
            delta = (delta << 7) | (b & 0x7F);
        } while (b & 0x80);
        tick += delta;
        if (at + 3 > s.size()) return Invalid("cut in an event");
        const auto status = static_cast<unsigned char>(s[at]);
        if (status == 0xFF) {
            const auto type = static_cast<unsigned char>(s[at + 1]);
            at += 3 + static_cast<unsigned char>(s[at + 2]);
            if (type == 0x2F) return at == s.size() ? 0 : Invalid("events after the end");
        } else if (status >= 0x80 && status < 0xF0) {
            std::printf("%llu %u %u %u\n", static_cast<unsigned long long>(tick), status,
                        static_cast<unsigned char>(s[at + 1]),
                        static_cast<unsigned char>(s[at + 2]));
            at += 3;
        } else {
            return Invalid("unknown event");
        }
    }
    return Invalid("no end of track");
}
