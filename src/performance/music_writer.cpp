#include "music_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string_view>

#include "performance_engine.h"

namespace performance {
namespace {

constexpr int MaxTokenUnits = 10;
constexpr std::size_t MaxChordMembers = 10;
constexpr std::int64_t HeldUnits = std::numeric_limits<std::int64_t>::max() / 4;

// Pitch classes with sharps only; the octave letter goes between the name and the sharp.
constexpr std::array<std::pair<std::string_view, bool>, 12> PitchClasses = {{
    {"ド", false},
    {"ド", true},
    {"レ", false},
    {"レ", true},
    {"ミ", false},
    {"ファ", false},
    {"ファ", true},
    {"ソ", false},
    {"ソ", true},
    {"ラ", false},
    {"ラ", true},
    {"シ", false},
}};

// The writer's katakana and their CP932 bytes; everything else it writes is ASCII.
constexpr std::array<std::pair<std::string_view, std::string_view>, 8> Katakana = {{
    {"ド", "\x83\x68"},
    {"レ", "\x83\x8C"},
    {"ミ", "\x83\x7E"},
    {"フ", "\x83\x74"},
    {"ァ", "\x83\x40"},
    {"ソ", "\x83\x5C"},
    {"ラ", "\x83\x89"},
    {"シ", "\x83\x56"},
}};

char LengthDigit(std::int64_t units) {
    return units == MaxTokenUnits ? '0' : static_cast<char>('0' + units);
}

// Every pitch's CP932 spelling, built once.
const std::array<std::string, HighestWrittenOffset - LowestWrittenOffset + 1>& Cp932Pitches() {
    static const auto table = [] {
        std::array<std::string, HighestWrittenOffset - LowestWrittenOffset + 1> t;
        for (int o = LowestWrittenOffset; o <= HighestWrittenOffset; ++o) {
            t[static_cast<std::size_t>(o - LowestWrittenOffset)] = ToCp932(CanonicalPitch(o));
        }
        return t;
    }();
    return table;
}

}  // namespace

std::string CanonicalPitch(int offset) {
    if (offset < LowestWrittenOffset || offset > HighestWrittenOffset) return {};
    // The top note has no octave of its own: two octaves up from シ, sharpened.
    if (offset == HighestWrittenOffset) return "シI#";
    const int octave = offset >= 0 ? offset / 12 : -((-offset + 11) / 12);
    const auto& [name, sharp] = PitchClasses[static_cast<std::size_t>(offset - octave * 12)];
    static constexpr std::string_view Letters[] = {"W", "L", "", "H", "I"};
    std::string spelled(name);
    spelled += Letters[octave + 2];
    if (sharp) spelled += '#';
    return spelled;
}

std::string ToCp932(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            out += utf8[i++];
            continue;
        }
        const std::string_view rest = std::string_view(utf8).substr(i);
        bool found = false;
        for (const auto& [character, bytes] : Katakana) {
            if (rest.substr(0, character.size()) == character) {
                out += bytes;
                i += character.size();
                found = true;
                break;
            }
        }
        if (!found) {
            out += '?';
            ++i;
            while (i < utf8.size() && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) ++i;
        }
    }
    return out;
}

MusicWriter::MusicWriter(int tempo)
    : m_unitNanos(static_cast<double>(TimeUnitForTempo(tempo)) * 1e9) {}

std::int64_t MusicWriter::unitOf(std::int64_t nanos) const {
    const auto unit = static_cast<std::int64_t>(
        std::llround(static_cast<double>(nanos - m_origin) / m_unitNanos));
    return std::max<std::int64_t>(unit, 0);
}

void MusicWriter::NoteOn(std::int64_t nanos, int channel, int offset) {
    if (m_finished) return;
    if (offset < LowestWrittenOffset || offset > HighestWrittenOffset) {
        m_outOfRangeSkipped = true;
        return;
    }
    if (!m_started) {
        m_started = true;
        m_origin = nanos;
    }
    const std::int64_t unit = std::max(unitOf(nanos), m_floor);
    if (m_hasGroup && unit > m_groupStart) closeGroup(unit);
    if (!m_hasGroup) {
        m_hasGroup = true;
        m_groupStart = unit;
        m_group.clear();
        m_tokenWritten = false;
    }
    m_group.push_back({channel, offset, -1});
    m_floor = unit;
}

void MusicWriter::NoteOff(std::int64_t nanos, int channel, int offset) {
    if (m_finished || !m_hasGroup) return;
    // Notes of earlier tokens were cut at this token's onset; their ends no longer matter.
    for (Note& note : m_group) {
        if (note.end < 0 && note.channel == channel && note.offset == offset) {
            note.end = std::max(unitOf(nanos), m_groupStart + 1);
            return;
        }
    }
}

void MusicWriter::Advance(std::int64_t nanos) {
    if (m_finished || !m_started) return;
    const std::int64_t now = unitOf(nanos);
    m_floor = std::max(m_floor, now);
    if (!m_hasGroup || m_tokenWritten) return;
    // A later onset falls on `now` or after it, so the token's length is settled once the
    // ten-unit limit or the end of its last note lies behind.
    const std::int64_t sounding = soundingUnits(keptPitches());
    const std::int64_t length = std::min<std::int64_t>(sounding, MaxTokenUnits);
    if (now >= m_groupStart + length) {
        m_tokenLength = length;
        writeToken();
    }
}

void MusicWriter::Finish(std::int64_t nanos) {
    if (m_finished) return;
    if (m_hasGroup) {
        const std::int64_t end = std::max(unitOf(nanos), m_groupStart + 1);
        for (Note& note : m_group) {
            if (note.end < 0) note.end = end;
        }
        closeGroup(-1);
    }
    if (m_anythingWritten) m_text += "\r\n";
    m_finished = true;
}

std::string MusicWriter::TakeText() {
    std::string text;
    text.swap(m_text);
    return text;
}

std::vector<int> MusicWriter::keptPitches() {
    std::vector<int> pitches;
    pitches.reserve(m_group.size());
    for (const Note& note : m_group) pitches.push_back(note.offset);
    std::sort(pitches.begin(), pitches.end());
    // The same pitch struck twice on one unit (two channels, a quick repeat) sounds once.
    pitches.erase(std::unique(pitches.begin(), pitches.end()), pitches.end());
    if (pitches.size() > MaxChordMembers) {
        m_chordMembersDropped = true;
        pitches.resize(MaxChordMembers);
    }
    return pitches;
}

std::int64_t MusicWriter::soundingUnits(const std::vector<int>& kept) const {
    std::int64_t units = 1;
    for (const Note& note : m_group) {
        if (!std::binary_search(kept.begin(), kept.end(), note.offset)) continue;
        units = std::max(units, note.end < 0 ? HeldUnits : note.end - m_groupStart);
    }
    return units;
}

void MusicWriter::closeGroup(std::int64_t next) {
    const std::int64_t sounding = soundingUnits(keptPitches());
    const std::int64_t span = next >= 0 ? next - m_groupStart : sounding;
    if (!m_tokenWritten) {
        m_tokenLength = std::min<std::int64_t>({sounding, span, MaxTokenUnits});
        writeToken();
    }
    if (std::min(sounding, span) > MaxTokenUnits) m_longNotesCut = true;
    writeRests(m_groupStart + m_tokenLength, m_groupStart + span);
    m_hasGroup = false;
}

void MusicWriter::writeToken() {
    const std::vector<int> kept = keptPitches();
    std::string token;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i > 0) token += ':';
        token += Cp932Pitches()[static_cast<std::size_t>(kept[i] - LowestWrittenOffset)];
    }
    token += LengthDigit(m_tokenLength);
    put(m_groupStart, token);
    m_tokenWritten = true;
}

void MusicWriter::writeRests(std::int64_t from, std::int64_t to) {
    // Rests stop at bar lines, so that a silence never keeps two bars on one line.
    while (from < to) {
        const std::int64_t toBar = UnitsPerLine - from % UnitsPerLine;
        const std::int64_t units = std::min<std::int64_t>({to - from, MaxTokenUnits, toBar});
        put(from, std::string("-") + LengthDigit(units));
        from += units;
    }
}

void MusicWriter::put(std::int64_t position, const std::string& token) {
    if (m_anythingWritten) m_text += position % UnitsPerLine == 0 ? "\r\n" : ",";
    m_text += token;
    m_anythingWritten = true;
}

}  // namespace performance
