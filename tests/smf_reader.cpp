#include "smf_reader.h"

namespace testing_support {
namespace {

std::uint32_t BigEndian(const std::string& s, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

SmfFile Broken(SmfFile m, const char* why) {
    m.problem = why;
    return m;
}

}  // namespace

SmfFile ReadSmf(const std::string& s) {
    SmfFile m;
    if (s.size() < 22 || s.compare(0, 4, "MThd") != 0 || BigEndian(s, 4, 4) != 6) {
        return Broken(m, "header");
    }
    m.format = static_cast<int>(BigEndian(s, 8, 2));
    m.tracks = static_cast<int>(BigEndian(s, 10, 2));
    m.division = static_cast<int>(BigEndian(s, 12, 2));
    if (s.compare(14, 4, "MTrk") != 0 || 22 + BigEndian(s, 18, 4) != s.size()) {
        return Broken(m, "track length");
    }
    std::size_t at = 22;
    std::int64_t tick = 0;
    while (at < s.size()) {
        std::uint32_t delta = 0;
        unsigned char b;
        do {
            if (at >= s.size()) return Broken(m, "cut in a delta time");
            b = static_cast<unsigned char>(s[at++]);
            delta = (delta << 7) | (b & 0x7F);
        } while (b & 0x80);
        tick += delta;
        if (at + 3 > s.size()) return Broken(m, "cut in an event");
        const auto status = static_cast<unsigned char>(s[at]);
        if (status == 0xFF) {
            const auto type = static_cast<unsigned char>(s[at + 1]);
            if (type == 0x51) m.microsPerQuarter = BigEndian(s, at + 3, 3);
            at += 3 + static_cast<unsigned char>(s[at + 2]);
            if (type == 0x2F) {
                if (at != s.size()) return Broken(m, "events after the end");
                m.whole = true;
                return m;
            }
        } else if (status >= 0x80 && status < 0xF0) {
            m.events.emplace_back(tick, BigEndian(s, at, 3));
            at += 3;
        } else {
            return Broken(m, "unknown event");
        }
    }
    return Broken(m, "no end of track");
}

}  // namespace testing_support
