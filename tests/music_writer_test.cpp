// The music-file writer against written-out texts, and against the program's own reader and
// engine: what it writes must play back the quantized notes exactly.
#include "music_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "music_file.h"
#include "offline_performance.h"
#include "temp_file.h"

using namespace performance;

namespace {

std::string Utf8(const std::u32string& text) {
    std::string out;
    for (const char32_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

constexpr std::int64_t Ms = 1'000'000;

struct Event {
    std::int64_t ms;
    bool on;
    int offset;
    int channel = 0;
};

// Tempo 150: one unit is a tenth of a second.
std::string Write(const std::vector<Event>& events, std::int64_t finishMs,
                  MusicWriter* writer = nullptr) {
    MusicWriter local(150);
    MusicWriter& w = writer != nullptr ? *writer : local;
    for (const Event& e : events) {
        if (e.on) {
            w.NoteOn(e.ms * Ms, e.channel, e.offset);
        } else {
            w.NoteOff(e.ms * Ms, e.channel, e.offset);
        }
    }
    w.Finish(finishMs * Ms);
    return Utf8(DecodeCp932(w.TakeText()));
}

TEST(MusicWriter, EveryOffsetHasItsOneSpellingAndReadsBack) {
    const char* const spellings[61] = {
        "ドW",    "ドW#", "レW",  "レW#",  "ミW",  "ファW", "ファW#", "ソW", "ソW#",
        "ラW",    "ラW#", "シW",  "ドL",   "ドL#", "レL",   "レL#",   "ミL", "ファL",
        "ファL#", "ソL",  "ソL#", "ラL",   "ラL#", "シL",   "ド",     "ド#", "レ",
        "レ#",    "ミ",   "ファ", "ファ#", "ソ",   "ソ#",   "ラ",     "ラ#", "シ",
        "ドH",    "ドH#", "レH",  "レH#",  "ミH",  "ファH", "ファH#", "ソH", "ソH#",
        "ラH",    "ラH#", "シH",  "ドI",   "ドI#", "レI",   "レI#",   "ミI", "ファI",
        "ファI#", "ソI",  "ソI#", "ラI",   "ラI#", "シI",   "シI#",
    };
    for (int offset = -24; offset <= 36; ++offset) {
        const std::string expected = spellings[offset + 24];
        EXPECT_EQ(CanonicalPitch(offset), expected) << offset;
        // The CP932 bytes decode to the spelling, and the reader gives the offset back.
        const std::u32string decoded = DecodeCp932(ToCp932(expected + "3"));
        EXPECT_EQ(Utf8(decoded), expected + "3");
        const ParsedToken token = ParseToken(decoded);
        EXPECT_EQ(token.value, offset) << expected;
        EXPECT_EQ(token.length, 3);
    }
    EXPECT_EQ(CanonicalPitch(-25), "");
    EXPECT_EQ(CanonicalPitch(37), "");
}

TEST(MusicWriter, QuantizesPlayingIntoTokensRestsAndBars) {
    const struct {
        const char* what;
        std::vector<Event> events;
        std::int64_t finishMs;
        const char* text;
    } cases[] = {
        {"leading silence dropped, onsets and ends to the nearest unit",
         {{1000, true, 0}, {1190, false, 0}, {1240, true, 2}, {1400, false, 2}},
         1500,
         "ド2,レ2\r\n"},
        {"a gap becomes a rest",
         {{0, true, 0}, {140, false, 0}, {260, true, 4}, {500, false, 4}},
         600,
         "ド1,-2,ミ2\r\n"},
        {"an overlapping note is cut at the next onset",
         {{0, true, 0}, {200, true, 4}, {500, false, 0}, {600, false, 4}},
         700,
         "ド2,ミ4\r\n"},
        {"onsets on one unit form a chord, lowest first, lasting as long as its longest note",
         {{0, true, 7},
          {30, true, 0},
          {40, true, 4},
          {200, false, 0},
          {400, false, 7},
          {420, false, 4}},
         500,
         "ド:ミ:ソ4\r\n"},
        {"the same note on two channels sounds once",
         {{0, true, 9, 0}, {10, true, 9, 5}, {300, false, 9, 0}, {300, false, 9, 5}},
         400,
         "ラ3\r\n"},
        {"a touch shorter than a unit lasts one unit",
         {{0, true, -3}, {20, false, -3}},
         100,
         "ラL1\r\n"},
        {"a note held past ten units: ten, then rests that stop at the bar line",
         {{0, true, 0}, {2500, false, 0}},
         3000,
         "ド0,-6\r\n-9\r\n"},
        {"a note held past ten units before the next onset",
         {{0, true, 0}, {1200, true, 4}, {1500, false, 0}, {1600, false, 4}},
         2000,
         "ド0,-2,ミ4\r\n"},
        {"a long silence in rests of at most ten, split at bar lines",
         {{0, true, 0}, {100, false, 0}, {3000, true, 4}, {3100, false, 4}},
         3200,
         "ド1,-0,-5\r\n-0,-4,ミ1\r\n"},
        {"sixteen units to a line",
         {{0, true, 0},
          {200, false, 0},
          {200, true, 2},
          {400, false, 2},
          {400, true, 4},
          {600, false, 4},
          {600, true, 5},
          {800, false, 5},
          {800, true, 7},
          {1000, false, 7},
          {1000, true, 9},
          {1200, false, 9},
          {1200, true, 11},
          {1400, false, 11},
          {1400, true, 12},
          {1600, false, 12},
          {1600, true, 0},
          {1800, false, 0}},
         1900,
         "ド2,レ2,ミ2,ファ2,ソ2,ラ2,シ2,ドH2\r\nド2\r\n"},
        {"no line break inside a note that holds across the bar line",
         {{0, true, 0}, {1000, true, 4}, {2000, true, 7}, {2100, false, 7}},
         2200,
         "ド0,ミ0,ソ1\r\n"},
        {"eleven at once keep the ten lowest",
         {{0, true, 12},
          {0, true, 0},
          {0, true, 2},
          {0, true, 4},
          {0, true, 5},
          {0, true, 7},
          {0, true, 9},
          {0, true, 11},
          {0, true, -1},
          {0, true, -3},
          {0, true, -5}},
         400,
         "ソL:ラL:シL:ド:レ:ミ:ファ:ソ:ラ:シ4\r\n"},
        {"nothing played, nothing written", {}, 1000, ""},
        {"notes the notation cannot write are left out",
         {{0, true, -30}, {100, false, -30}, {200, true, 36}, {300, false, 36}},
         400,
         "シI#1\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MusicWriter writer(150);
        EXPECT_EQ(Write(c.events, c.finishMs, &writer), c.text);
        const std::string what = c.what;
        EXPECT_EQ(writer.longNotesCut(), what.find("ten units") != std::string::npos);
        EXPECT_EQ(writer.chordMembersDropped(), what.find("eleven") != std::string::npos);
        EXPECT_EQ(writer.outOfRangeSkipped(), what.find("cannot write") != std::string::npos);
    }
}

TEST(MusicWriter, WritesEachTokenOnceItsLengthIsSettled) {
    MusicWriter writer(150);
    auto text = [&] { return Utf8(DecodeCp932(writer.TakeText())); };
    writer.NoteOn(0, 0, 0);
    writer.NoteOff(200 * Ms, 0, 0);
    writer.Advance(140 * Ms);
    EXPECT_EQ(text(), "") << "a note could still start on unit 1 and cut it";
    writer.Advance(210 * Ms);
    EXPECT_EQ(text(), "ド2");
    writer.NoteOn(500 * Ms, 0, 4);
    EXPECT_EQ(text(), ",-3") << "the rest is settled by ミ's onset";
    writer.Advance(1400 * Ms);
    EXPECT_EQ(text(), "");
    writer.Advance(1500 * Ms);
    EXPECT_EQ(text(), ",ミ0") << "a note still held is written at ten units";
    writer.NoteOff(1700 * Ms, 0, 4);
    writer.Finish(2000 * Ms);
    EXPECT_EQ(text(), ",-1\r\n-1\r\n") << "its rests stop at the bar line";
    EXPECT_TRUE(writer.longNotesCut());
    writer.NoteOn(2100 * Ms, 0, 0);
    EXPECT_EQ(text(), "") << "nothing after the end";
}

// A played note as the engine performs it: from unit on to unit off.
struct Played {
    std::int64_t on, off;
    int offset;
    friend bool operator<(const Played& a, const Played& b) {
        return std::tie(a.on, a.offset, a.off) < std::tie(b.on, b.offset, b.off);
    }
    friend bool operator==(const Played&, const Played&) = default;
};

struct RandomNote {
    std::int64_t on, off;  // nanoseconds; off < 0: still held at the end
    int offset, channel;
};

// The quantization rules applied to the whole recording at once.
std::vector<Played> Expected(const std::vector<RandomNote>& notes, std::int64_t finish,
                             double unitNanos, bool& longCut, bool& dropped) {
    const std::int64_t origin = notes.front().on;
    auto unit = [&](std::int64_t t) -> std::int64_t {
        return std::llround(static_cast<double>(t - origin) / unitNanos);
    };
    std::map<std::int64_t, std::vector<const RandomNote*>> groups;
    for (const RandomNote& n : notes) groups[unit(n.on)].push_back(&n);
    std::vector<Played> played;
    longCut = dropped = false;
    for (auto it = groups.begin(); it != groups.end(); ++it) {
        const std::int64_t s = it->first;
        std::vector<int> pitches;
        for (const RandomNote* n : it->second) pitches.push_back(n->offset);
        std::sort(pitches.begin(), pitches.end());
        pitches.erase(std::unique(pitches.begin(), pitches.end()), pitches.end());
        if (pitches.size() > 10) dropped = true;
        pitches.resize(std::min<std::size_t>(pitches.size(), 10));
        std::int64_t d = 1;
        for (const RandomNote* n : it->second) {
            if (!std::binary_search(pitches.begin(), pitches.end(), n->offset)) continue;
            d = std::max(d, std::max(unit(n->off < 0 ? finish : n->off), s + 1) - s);
        }
        const auto next = std::next(it);
        const std::int64_t span = next == groups.end() ? d : next->first - s;
        const std::int64_t length = std::min<std::int64_t>({d, span, 10});
        if (std::min(d, span) > 10) longCut = true;
        for (const int p : pitches) played.push_back({s, s + length, p});
    }
    std::sort(played.begin(), played.end());
    return played;
}

// What the program's own engine plays from the file, in units.
std::vector<Played> PlayedBack(const std::string& path, int tempo, double unitNanos) {
    const auto messages = RecordPerformance(path, tempo, 0);
    EXPECT_TRUE(messages);
    std::vector<Played> played;
    std::map<int, std::vector<std::size_t>> open;
    for (const TimedMessage& m : *messages) {
        const int offset = static_cast<int>((m.message >> 8) & 0x7F) - 60;
        const std::int64_t at = std::llround(static_cast<double>(m.nanos) / unitNanos);
        if ((m.message >> 16) != 0) {
            open[offset].push_back(played.size());
            played.push_back({at, -1, offset});
        } else {
            EXPECT_FALSE(open[offset].empty());
            played[open[offset].front()].off = at;
            open[offset].erase(open[offset].begin());
        }
    }
    std::sort(played.begin(), played.end());
    return played;
}

TEST(MusicWriter, RandomRecordingsPlayBackAsQuantized) {
    testing_support::TempFolder folder;
    std::mt19937 random(20261207);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const int tempo = std::uniform_int_distribution<int>(60, 200)(random);
        const double unitNanos = 15e9 / tempo;
        // Every offset once, shuffled, then random ones; chords, clusters, overlaps, long notes.
        std::vector<int> pitches;
        for (int o = -24; o <= 36; ++o) pitches.push_back(o);
        std::shuffle(pitches.begin(), pitches.end(), random);
        for (int i = 0; i < 60; ++i)
            pitches.push_back(std::uniform_int_distribution<int>(-24, 36)(random));
        std::vector<RandomNote> notes;
        std::map<std::pair<int, int>, std::int64_t> busyUntil;
        std::int64_t t =
            1'000'000'000 + std::uniform_int_distribution<std::int64_t>(0, 1'000'000)(random);
        for (std::size_t i = 0; i < pitches.size(); ++i) {
            const int kind = std::uniform_int_distribution<int>(0, 9)(random);
            const std::int64_t gap =
                kind < 3   ? std::uniform_int_distribution<std::int64_t>(0, 30)(random)
                : kind < 8 ? std::uniform_int_distribution<std::int64_t>(30, 600)(random)
                           : std::uniform_int_distribution<std::int64_t>(600, 4000)(random);
            t += gap * Ms + std::uniform_int_distribution<std::int64_t>(0, 999'999)(random);
            const int cluster = kind == 9 ? 12 : 1;
            for (int k = 0; k < cluster; ++k) {
                const int offset =
                    k == 0 ? pitches[i] : std::uniform_int_distribution<int>(-24, 36)(random);
                const int channel = std::uniform_int_distribution<int>(0, 2)(random);
                auto& busy = busyUntil[{channel, offset}];
                if (busy < 0 || busy >= t) continue;  // that key is still down
                const std::int64_t held =
                    std::uniform_int_distribution<int>(0, 6)(random) == 0
                        ? std::uniform_int_distribution<std::int64_t>(1000, 4000)(random)
                        : std::uniform_int_distribution<std::int64_t>(5, 900)(random);
                const std::int64_t off = t + held * Ms;
                notes.push_back({t, off, offset, channel});
                busy = off;
            }
        }
        // A few notes are still held when the recording ends.
        const std::int64_t finish = t + 300 * Ms;
        for (auto& n : notes) {
            if (n.off > finish) n.off = -1;
        }
        struct Message {
            std::int64_t at;
            int order;
            const RandomNote* note;
            bool on;
        };
        std::vector<Message> messages;
        for (std::size_t i = 0; i < notes.size(); ++i) {
            messages.push_back({notes[i].on, static_cast<int>(i), &notes[i], true});
            if (notes[i].off >= 0) messages.push_back({notes[i].off, -1, &notes[i], false});
        }
        std::stable_sort(messages.begin(), messages.end(), [](const Message& a, const Message& b) {
            return std::tie(a.at, a.order) < std::tie(b.at, b.order);
        });
        MusicWriter writer(tempo);
        std::string bytes;
        std::int64_t previous = messages.front().at;
        for (const Message& m : messages) {
            // The recorder's timer looks in now and then between messages.
            if (m.at > previous && std::uniform_int_distribution<int>(0, 2)(random) == 0) {
                writer.Advance(std::uniform_int_distribution<std::int64_t>(previous, m.at)(random));
                bytes += writer.TakeText();
            }
            previous = m.at;
            if (m.on) {
                writer.NoteOn(m.at, m.note->channel, m.note->offset);
            } else {
                writer.NoteOff(m.at, m.note->channel, m.note->offset);
            }
            bytes += writer.TakeText();
        }
        writer.Finish(finish);
        bytes += writer.TakeText();
        const std::string path =
            (folder.path() / ("take" + std::to_string(round) + ".txt")).string();
        std::ofstream(path, std::ios::binary) << bytes;

        bool longCut = false, dropped = false;
        const auto expected = Expected(notes, finish, unitNanos, longCut, dropped);
        EXPECT_EQ(PlayedBack(path, tempo, unitNanos), expected);
        EXPECT_EQ(writer.longNotesCut(), longCut);
        EXPECT_EQ(writer.chordMembersDropped(), dropped);

        // Lines: CR LF only; a line starts exactly on a bar line, and every bar line between
        // two tokens starts a line.
        EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
        std::istringstream in(bytes);
        MusicFileReader reader(in);
        std::int64_t position = 0;
        std::uint64_t line = 0;
        while (!reader.AtEnd()) {
            const Token token = reader.Read();
            const bool startsLine = token.line != line;
            line = token.line;
            EXPECT_EQ(startsLine, position % UnitsPerLine == 0 || position == 0)
                << "line " << token.line << " at unit " << position;
            EXPECT_GE(token.parsed.length, 1);
            position += token.parsed.length;
        }
        EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'),
                  std::count(bytes.begin(), bytes.end(), '\r'));
    }
}

}  // namespace
