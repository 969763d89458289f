#include "key_tape.h"

#include <algorithm>
#include <cmath>

namespace practice {
namespace {

constexpr int BeatUnits = 4;
constexpr double MaxTokenUnits = 10;  // the longest a token lasts

}  // namespace

KeyTape::KeyTape(Song song, bool loop, bool countIn)
    : m_song(std::move(song)), m_loop(loop), m_countIn(countIn) {}

template <typename Visit>
void KeyTape::forEachStep(double from, double to, Visit visit) const {
    const std::uint64_t total = m_song.totalUnits;
    if (total == 0 || m_song.steps.empty() || to <= 0) return;
    const auto lastPass = static_cast<std::uint64_t>(to / static_cast<double>(total));
    // A step that reaches into the tape starts at most 10 units before its left edge.
    const double reachBack = std::max(0.0, from - MaxTokenUnits);
    const auto firstPass = static_cast<std::uint64_t>(reachBack / static_cast<double>(total));
    for (std::uint64_t pass = firstPass; pass <= (m_loop ? lastPass : 0); ++pass) {
        const std::uint64_t base = pass * total;
        const double fromInPass = reachBack - static_cast<double>(base);
        auto step = std::lower_bound(
            m_song.steps.begin(), m_song.steps.end(), fromInPass,
            [](const Step& s, double x) { return static_cast<double>(s.startUnit) < x; });
        for (; step != m_song.steps.end(); ++step) {
            const double start = static_cast<double>(base + step->startUnit);
            if (start >= to) break;
            if (start + step->length <= from) continue;
            visit(*step, base + step->startUnit);
        }
    }
}

std::vector<TapeKey> KeyTape::keysOf(const Step& step, const keyboard::NoteTables& tables) const {
    std::vector<TapeKey> keys;
    for (int n = 0; n < step.noteCount; ++n) {
        const Note note = step.notes[static_cast<std::size_t>(n)];
        TapeKey key{"—", NoteName(note), note};
        const auto found = std::find(tables.KeyNote.begin() + 1, tables.KeyNote.end(), note);
        if (note != keyboard::NoNote && found != tables.KeyNote.end()) {
            key.cap = std::string(
                1,
                keyboard::KeyCharacter[static_cast<std::size_t>(found - tables.KeyNote.begin())]);
        }
        keys.push_back(std::move(key));
    }
    std::stable_sort(keys.begin(), keys.end(),
                     [](const TapeKey& a, const TapeKey& b) { return a.note > b.note; });
    return keys;
}

TapeView KeyTape::At(double position, const keyboard::NoteTables& tables) const {
    TapeView view;
    const double from = position - TapeBehindUnits;
    const double to = position + TapeAheadUnits;
    for (int beat = 0; m_countIn && beat < CountInUnits / BeatUnits; ++beat) {
        const double start = beat * BeatUnits - CountInUnits;
        if (start < to && start + BeatUnits > from) {
            TapeCell cell;
            cell.x = start - position;
            cell.width = BeatUnits;
            cell.beat = CountInUnits / BeatUnits - beat;
            view.cells.push_back(cell);
        }
    }
    forEachStep(from, to, [&](const Step& step, std::uint64_t at) {
        view.cells.push_back(
            {static_cast<double>(at) - position, step.length, at, keysOf(step, tables), 0});
    });
    const std::uint64_t total = m_song.totalUnits;
    if (total == 0) return view;
    const std::uint64_t lastPass =
        m_loop ? static_cast<std::uint64_t>(std::max(0.0, to)) / total : 0;
    for (std::uint64_t pass = 0; pass <= lastPass; ++pass) {
        for (const std::uint64_t line : m_song.lineStarts) {
            const double x = static_cast<double>(pass * total + line) - position;
            if (x >= -TapeBehindUnits && x <= TapeAheadUnits) view.barLines.push_back(x);
        }
    }
    if (!m_loop && static_cast<double>(total) - position <= TapeAheadUnits)
        view.barLines.push_back(static_cast<double>(total) - position);  // the end
    return view;
}

std::string KeyTape::NextBarText(double position, const keyboard::NoteTables& tables) const {
    const TapeView view = At(position, tables);
    double end = CountInUnits;
    for (const double x : view.barLines) {
        if (x > 0) {
            end = x;
            break;
        }
    }
    std::string text = "次の小節:";
    bool first = true;
    for (const TapeCell& cell : view.cells) {
        if (cell.x < -0.5 || cell.x >= end || cell.keys.empty()) continue;
        text += first ? " " : "、";
        first = false;
        for (std::size_t k = 0; k < cell.keys.size(); ++k) {
            if (k > 0) text += "・";
            text += cell.keys[k].cap + " " + cell.keys[k].name;
        }
    }
    return text;
}

std::optional<std::uint64_t> KeyTape::StepNear(double position, Note note, double reach) const {
    std::optional<std::uint64_t> best;
    forEachStep(position - reach, position + reach, [&](const Step& step, std::uint64_t at) {
        const auto end = step.notes.begin() + step.noteCount;
        if (std::find(step.notes.begin(), end, note) == end) return;
        const double distance = std::abs(static_cast<double>(at) - position);
        if (distance <= reach &&
            (!best || distance < std::abs(static_cast<double>(*best) - position)))
            best = at;
    });
    return best;
}

std::optional<double> KeyTape::WaitPosition(const PracticeEngine& engine) {
    const auto step = engine.ExpectedStep();
    if (!step) return std::nullopt;
    return static_cast<double>(PositionOf(engine, engine.progress().pass - 1, *step));
}

double KeyTape::TimePosition(const PracticeEngine& engine, TimePoint now) {
    return std::chrono::duration<double>(now - engine.songStart()).count() / engine.unitSeconds();
}

std::uint64_t KeyTape::PositionOf(const PracticeEngine& engine, std::uint64_t pass,
                                  std::size_t step) {
    return pass * engine.song().totalUnits + engine.song().steps[step].startUnit;
}

}  // namespace practice
