#include "song_fitting.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cctype>
#include <cmath>
#include <map>

#include "key_layout.h"
#include "music_writer.h"

namespace importing {
namespace {

constexpr int UnitsPerBeat = 4;  // a unit is a sixteenth note
constexpr int MaxTokenUnits = 10;
// An onset this far off the grid (in units) was not written on it: a tuplet or a swing. Less
// is how MIDI files stagger the notes of a chord or how a played file wavers.
constexpr double GridTolerance = 0.15;
constexpr std::array<std::int16_t, 4> Layouts = {keyboard::LayoutF6, keyboard::LayoutF4,
                                                 keyboard::LayoutF5, keyboard::LayoutF7};

using Reach = std::bitset<256>;  // offsets + 100

Reach ReachOf(std::int16_t layout) {
    const keyboard::NoteTables tables = keyboard::NoteTablesForLayout(layout);
    Reach reach;
    for (int key = 1; key <= keyboard::KeyCount; ++key) {
        const int note = tables.KeyNote[static_cast<std::size_t>(key)];
        if (note != keyboard::NoNote) reach.set(static_cast<std::size_t>(note + 100));
    }
    return reach;
}

bool Reaches(const Reach& reach, int offset) {
    return offset >= -100 && offset < 156 && reach.test(static_cast<std::size_t>(offset + 100));
}

bool IsBlack(int offset) {
    const int pc = ((offset % 12) + 12) % 12;
    return pc == 1 || pc == 3 || pc == 6 || pc == 8 || pc == 10;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// One onset of the song: the pitches struck together (MIDI numbers, highest first) and how
// long they sound, in units.
struct Onset {
    std::int64_t start = 0;
    std::int64_t length = 1;
    std::vector<int> pitches;
};

// The notes of the chosen hand: a score's staff, a track named for the hand whole, or else
// the notes on the hand's side of the split point.
std::vector<ScoreNote> NotesOfHand(const ScorePart& part, const SongChoices& choices) {
    if (choices.hand == Hand::Both || part.namedHand != 0) return part.notes;
    const bool right = choices.hand == Hand::Right;
    std::vector<ScoreNote> notes;
    for (const ScoreNote& note : part.notes) {
        const bool mine =
            part.staves >= 2 ? (note.staff == 1) == right : (note.pitch >= choices.split) == right;
        if (mine) notes.push_back(note);
    }
    return notes;
}

const ScorePart* ChoosePart(const Score& score, const SongChoices& choices, std::string& error) {
    if (score.parts.empty()) {
        error = "演奏できる音がありません";
        return nullptr;
    }
    if (!choices.part.empty()) {
        const bool number = std::all_of(choices.part.begin(), choices.part.end(),
                                        [](unsigned char c) { return std::isdigit(c); });
        if (number) {
            const std::size_t n = std::stoul(choices.part.substr(0, 6));
            if (n >= 1 && n <= score.parts.size()) return &score.parts[n - 1];
        } else {
            const std::vector<std::string> names = PartNames(score);
            const std::string wanted = Lower(choices.part);
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (Lower(names[i]).find(wanted) != std::string::npos) return &score.parts[i];
            }
        }
        const std::vector<std::string> names = PartNames(score);
        error = "パート「" + choices.part + "」はありません。パートは ";
        std::size_t i = 0;
        for (; i < names.size() && error.size() < 240; ++i) {
            error += (i > 0 ? "、" : "") + std::to_string(i + 1) + ": " + names[i];
        }
        if (i < names.size()) error += " ほか";
        return nullptr;
    }
    if (choices.hand != Hand::Both) {
        const int wanted = choices.hand == Hand::Right ? 1 : 2;
        for (const ScorePart& part : score.parts) {
            if (part.namedHand == wanted) return &part;
        }
        // Unnamed tracks: the first part that has notes for the hand (a piano piece's second
        // track is often its left hand).
        for (const ScorePart& part : score.parts) {
            if (!NotesOfHand(part, choices).empty()) return &part;
        }
    }
    return &score.parts.front();
}

std::vector<Onset> Quantize(const std::vector<ScoreNote>& notes, int& tupletPlaces) {
    std::map<std::int64_t, Onset> onsets;
    // How far the onset's nearest note is from the grid: a chord whose notes a file spreads
    // over a few ticks is on the grid when one of them is.
    std::map<std::int64_t, double> offGrid;
    for (const ScoreNote& note : notes) {
        const double at = note.start * UnitsPerBeat;
        const auto start = static_cast<std::int64_t>(std::llround(at));
        const double off = std::abs(at - static_cast<double>(start));
        const auto [place, added] = offGrid.try_emplace(start, off);
        if (!added) place->second = std::min(place->second, off);
        const auto end =
            static_cast<std::int64_t>(std::llround((note.start + note.length) * UnitsPerBeat));
        Onset& onset = onsets[start];
        onset.start = start;
        onset.length = std::max(onset.length, end - start);
        onset.pitches.push_back(note.pitch);
    }
    tupletPlaces = static_cast<int>(std::count_if(
        offGrid.begin(), offGrid.end(), [](const auto& p) { return p.second > GridTolerance; }));
    std::vector<Onset> out;
    out.reserve(onsets.size());
    for (auto& [start, onset] : onsets) {
        std::sort(onset.pitches.begin(), onset.pitches.end(), std::greater<>());
        onset.pitches.erase(std::unique(onset.pitches.begin(), onset.pitches.end()),
                            onset.pitches.end());
        out.push_back(std::move(onset));
    }
    return out;
}

// The melody is the top note; chords keep the top, the bottom, then the highest between.
void Thin(std::vector<Onset>& onsets, bool chords) {
    for (Onset& onset : onsets) {
        auto& p = onset.pitches;
        if (!chords || p.size() == 1) {
            p.resize(1);
        } else if (p.size() > 3) {
            p = {p.front(), p.back(), p[1]};
        } else if (p.size() == 3) {
            p = {p[0], p[2], p[1]};
        } else {
            p = {p[0], p[1]};
        }
    }
}

struct Fit {
    int transpose = 0;
    std::int16_t layout = keyboard::LayoutF6;
    int outOfReach = 0;
    int black = 0;
};

Fit ChooseFit(const std::vector<Onset>& onsets, const std::optional<int>& transpose) {
    std::array<Reach, 4> reaches;
    for (std::size_t i = 0; i < Layouts.size(); ++i) reaches[i] = ReachOf(Layouts[i]);
    std::vector<int> shifts;
    if (transpose) {
        shifts.push_back(*transpose);
    } else {
        shifts.push_back(0);
        for (int s = 1; s <= 24; ++s) {
            shifts.push_back(-s);
            shifts.push_back(s);
        }
    }
    Fit best;
    bool first = true;
    for (const int shift : shifts) {
        for (std::size_t i = 0; i < Layouts.size(); ++i) {
            Fit fit{shift, Layouts[i], 0, 0};
            for (const Onset& onset : onsets) {
                for (const int pitch : onset.pitches) {
                    const int offset = pitch - 60 + shift;
                    fit.outOfReach += Reaches(reaches[i], offset) ? 0 : 1;
                    fit.black += IsBlack(offset) ? 1 : 0;
                }
            }
            // A shift by whole octaves keeps the song in its key: the key's change counts first.
            const auto rank = [](const Fit& f) {
                const int inOctave = ((f.transpose % 12) + 12) % 12;
                return std::make_tuple(f.outOfReach, std::min(inOctave, 12 - inOctave),
                                       std::abs(f.transpose), f.black);
            };
            if (first || rank(fit) < rank(best)) best = fit;
            first = false;
        }
    }
    return best;
}

std::string Token(const std::vector<int>& offsets, std::int64_t length) {
    const char digit = length == MaxTokenUnits ? '0' : static_cast<char>('0' + length);
    if (offsets.empty()) return std::string("-") + digit;
    std::string token;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        if (i > 0) token += ':';
        token += performance::ToCp932(performance::CanonicalPitch(offsets[i]));
    }
    return token + digit;
}

// Writes tokens and starts a new line at each bar that a token starts on or after.
class TextWriter {
  public:
    explicit TextWriter(std::vector<std::int64_t> barStarts) : m_bars(std::move(barStarts)) {}

    void Put(std::int64_t start, const std::string& token) {
        bool newLine = false;
        while (m_nextBar < m_bars.size() && m_bars[m_nextBar] <= start) {
            newLine = m_bars[m_nextBar] > 0 || newLine;
            ++m_nextBar;
        }
        if (!m_text.empty()) m_text += newLine ? "\r\n" : ",";
        m_text += token;
    }
    // Rests from one unit to another, cut at bars and at ten units.
    void Rest(std::int64_t from, std::int64_t to) {
        while (from < to) {
            std::int64_t end = std::min(to, from + MaxTokenUnits);
            const auto bar = std::upper_bound(m_bars.begin(), m_bars.end(), from);
            if (bar != m_bars.end() && *bar < end) end = *bar;
            Put(from, Token({}, end - from));
            from = end;
        }
    }
    std::string Finish() { return m_text.empty() ? m_text : m_text + "\r\n"; }

  private:
    std::vector<std::int64_t> m_bars;
    std::size_t m_nextBar = 0;
    std::string m_text;
};

std::vector<std::int64_t> BarStarts(const Score& score, std::int64_t end) {
    std::vector<std::int64_t> bars;
    if (!score.barStarts.empty()) {
        for (const double at : score.barStarts) bars.push_back(std::llround(at * UnitsPerBeat));
        return bars;
    }
    std::vector<Meter> meters = score.meters;
    if (meters.empty() || meters.front().at > 0) meters.insert(meters.begin(), Meter{});
    for (std::size_t i = 0; i < meters.size(); ++i) {
        const Meter& m = meters[i];
        const auto from = std::llround(m.at * UnitsPerBeat);
        const auto to = i + 1 < meters.size() ? std::llround(meters[i + 1].at * UnitsPerBeat) : end;
        const std::int64_t bar =
            std::max<std::int64_t>(1, std::llround(16.0 * m.numerator / m.denominator));
        for (std::int64_t at = from; at < to; at += bar) bars.push_back(at);
    }
    return bars;
}

}  // namespace

std::vector<std::string> PartNames(const Score& score) {
    std::map<int, int> channelsOfTrack;
    for (const ScorePart& part : score.parts) ++channelsOfTrack[part.track];
    std::vector<std::string> names;
    for (const ScorePart& part : score.parts) {
        std::string name = part.name;
        if (name.empty()) {
            name = (part.channel >= 0 ? "トラック" : "パート") + std::to_string(part.track);
        }
        if (part.channel >= 0 && channelsOfTrack[part.track] > 1) {
            name += " ch" + std::to_string(part.channel + 1);
        }
        names.push_back(name);
    }
    return names;
}

std::string LayoutName(std::int16_t layout) {
    switch (layout) {
        case keyboard::LayoutF4:
            return "F4";
        case keyboard::LayoutF5:
            return "F5";
        case keyboard::LayoutF7:
            return "F7";
        default:
            return "F6";
    }
}

std::string ReportLine(const FitReport& report) {
    // Each clause ends on a verb's stem, so that they chain and the last one takes "ました".
    std::vector<std::string> clauses;
    if (report.transpose != 0) {
        const int size = std::abs(report.transpose);
        clauses.push_back((size % 12 == 0 ? std::to_string(size / 12) + "オクターブ"
                                          : std::to_string(size) + "半音") +
                          (report.transpose > 0 ? "上げ" : "下げ"));
    }
    if (report.octaveMoves > 0) {
        clauses.push_back(std::to_string(report.octaveMoves) + "音をオクターブ移動し");
    }
    if (report.tupletPlaces > 0) {
        clauses.push_back("3連符など " + std::to_string(report.tupletPlaces) + "か所を丸め");
    }
    if (report.shortened > 0) {
        clauses.push_back("長い音 " + std::to_string(report.shortened) + "音を短くし");
    }
    if (report.leftOut > 0) {
        clauses.push_back("届かない音 " + std::to_string(report.leftOut) + "音を省き");
    }
    std::string line;
    for (std::size_t i = 0; i < clauses.size(); ++i) line += (i > 0 ? "、" : "") + clauses[i];
    return line.empty() ? line : line + "ました";
}

FittedSong FitSong(const Score& score, const SongChoices& choices) {
    FittedSong out;
    const ScorePart* part = ChoosePart(score, choices, out.error);
    if (part == nullptr) return out;
    out.report.partName = PartNames(score)[static_cast<std::size_t>(part - score.parts.data())];
    std::vector<ScoreNote> notes = NotesOfHand(*part, choices);
    // Both hands of a piano piece whose tracks are named for the hands are the two tracks.
    if (choices.part.empty() && choices.hand == Hand::Both && part->namedHand != 0) {
        for (const ScorePart& other : score.parts) {
            if (other.namedHand != 0 && other.namedHand != part->namedHand) {
                notes.insert(notes.end(), other.notes.begin(), other.notes.end());
                std::stable_sort(
                    notes.begin(), notes.end(),
                    [](const ScoreNote& a, const ScoreNote& b) { return a.start < b.start; });
                out.report.partName +=
                    "・" + PartNames(score)[static_cast<std::size_t>(&other - score.parts.data())];
                break;
            }
        }
    }
    out.report.notesIn = static_cast<int>(notes.size());
    if (notes.empty()) {
        out.error = "選んだ手には音がありません";
        return out;
    }
    std::vector<Onset> onsets = Quantize(notes, out.report.tupletPlaces);
    Thin(onsets, choices.chords);
    const Fit fit = ChooseFit(onsets, choices.transpose);
    out.report.transpose = fit.transpose;
    out.report.layout = fit.layout;
    const Reach reach = ReachOf(fit.layout);

    // Offsets in reach: a note out of it moves by the fewest octaves that bring it in.
    std::vector<std::vector<int>> offsets(onsets.size());
    for (std::size_t i = 0; i < onsets.size(); ++i) {
        for (const int pitch : onsets[i].pitches) {
            int offset = pitch - 60 + fit.transpose;
            if (!Reaches(reach, offset)) {
                int moved = offset;
                for (int k = 1; k <= 10 && !Reaches(reach, moved); ++k) {
                    for (const int candidate : {offset - 12 * k, offset + 12 * k}) {
                        if (Reaches(reach, candidate)) {
                            moved = candidate;
                            break;
                        }
                    }
                }
                if (!Reaches(reach, moved)) {
                    ++out.report.leftOut;
                    continue;
                }
                ++out.report.octaveMoves;
                offset = moved;
            }
            if (std::find(offsets[i].begin(), offsets[i].end(), offset) == offsets[i].end()) {
                offsets[i].push_back(offset);
            }
        }
    }

    const std::int64_t end = onsets.back().start + onsets.back().length;
    TextWriter writer(BarStarts(score, end + 16));
    std::int64_t at = 0;
    for (std::size_t i = 0; i < onsets.size(); ++i) {
        const Onset& onset = onsets[i];
        if (offsets[i].empty()) continue;
        writer.Rest(at, onset.start);
        std::int64_t length = onset.length;
        if (i + 1 < onsets.size()) length = std::min(length, onsets[i + 1].start - onset.start);
        length = std::max<std::int64_t>(length, 1);
        if (length > MaxTokenUnits) {
            out.report.shortened += static_cast<int>(offsets[i].size());
            length = MaxTokenUnits;
        }
        writer.Put(onset.start, Token(offsets[i], length));
        out.report.notesKept += static_cast<int>(offsets[i].size());
        at = onset.start + length;
    }
    out.text = writer.Finish();
    if (out.text.empty()) out.error = "鍵盤で弾ける音がありません";
    return out;
}

}  // namespace importing
