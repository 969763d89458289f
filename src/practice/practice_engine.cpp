#include "practice_engine.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace practice {
namespace {

constexpr int UnitsPerBeat = 4;
constexpr int BeatsPerBar = 4;
constexpr int CountInClicks = 4;
constexpr std::uint64_t NoPass = std::numeric_limits<std::uint64_t>::max();

// Seconds per unit, in single precision as the automatic performance computes it, so that a
// practice in time keeps the very beat the performance plays.
double UnitSeconds(int tempo) {
    if (tempo <= 0 || tempo > 999) tempo = 126;
    const float perBeat = static_cast<float>(60.0 / tempo);
    return static_cast<double>(perBeat / 4.0f);
}

double Millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The value at quantile q (0..1) of the sorted values kept as value -> how often, with linear
// interpolation between neighbours.
double Quantile(const std::map<std::int64_t, std::uint64_t>& counts, std::uint64_t total,
                double q) {
    const double position = static_cast<double>(total - 1) * q;
    const auto lower = static_cast<std::uint64_t>(std::floor(position));
    const double fraction = position - static_cast<double>(lower);
    auto valueAt = [&](std::uint64_t rank) {
        std::uint64_t seen = 0;
        for (const auto& [value, count] : counts) {
            seen += count;
            if (rank < seen) return static_cast<double>(value);
        }
        return static_cast<double>(counts.rbegin()->first);
    };
    const double low = valueAt(lower);
    if (fraction == 0) return low;
    return low + fraction * (valueAt(lower + 1) - low);
}

}  // namespace

NoteSet PlayableNotes(const keyboard::NoteTables& tables) {
    NoteSet set;
    for (int key = 1; key <= keyboard::KeyCount; ++key) {
        const Note note = tables.KeyNote[static_cast<std::size_t>(key)];
        if (note != keyboard::NoNote && note >= -100 && note < 156) {
            set.set(static_cast<std::size_t>(note + 100));
        }
    }
    return set;
}

NoteSet AllNotes() {
    return NoteSet().set();
}

bool Contains(const NoteSet& set, Note note) {
    return note >= -100 && note < 156 && set.test(static_cast<std::size_t>(note + 100));
}

std::string NoteName(Note note) {
    static constexpr std::array<const char*, 12> Pitch = {
        "ド", "ド#", "レ", "レ#", "ミ", "ファ", "ファ#", "ソ", "ソ#", "ラ", "ラ#", "シ"};
    const int octave = note >= 0 ? note / 12 : -((11 - note) / 12);
    const int pitch = note - octave * 12;
    if (octave == 3 && pitch == 0) return "シI#";  // the one note above ドI's octave
    static constexpr std::array<const char*, 5> Octave = {"W", "L", "", "H", "I"};
    if (octave < -2 || octave > 2) return std::to_string(note);
    std::string name = Pitch[static_cast<std::size_t>(pitch)];
    const bool sharp = name.back() == '#';
    if (sharp) name.pop_back();
    name += Octave[static_cast<std::size_t>(octave + 2)];
    if (sharp) name += '#';
    return name;
}

Song BuildSong(performance::MusicFileReader& reader, const SongOptions& options) {
    Song song;
    std::uint64_t unit = 0;
    std::uint64_t line = 0;
    while (!reader.AtEnd()) {
        const performance::Token token = reader.Read();
        if (options.toLine != 0 && token.line > options.toLine) break;
        if (token.line < options.fromLine) continue;
        if (token.line != line) {
            line = token.line;
            if (song.lineStarts.empty() || song.lineStarts.back() != unit)
                song.lineStarts.push_back(unit);
        }
        const performance::ParsedToken& parsed = token.parsed;
        Step step;
        step.length = parsed.length > 0 ? parsed.length : 10;
        step.startUnit = unit;
        step.line = token.line;
        step.column = token.column + (token.quoted ? 1 : 0);
        auto add = [&step](Note note) {
            if (note <= performance::NoNote) return;  // a rest, as the performance plays it
            const auto end = step.notes.begin() + step.noteCount;
            if (std::find(step.notes.begin(), end, note) == end) {
                step.notes[static_cast<std::size_t>(step.noteCount++)] = note;
            }
        };
        if (parsed.chord) {
            for (int k = 0; k < parsed.soundingMembers(); ++k)
                add(parsed.members[static_cast<std::size_t>(k)]);
        } else {
            add(parsed.value);
        }
        if (options.melody && step.noteCount > 1) {
            step.notes[0] =
                *std::max_element(step.notes.begin(), step.notes.begin() + step.noteCount);
            step.noteCount = 1;
        }
        if (step.noteCount > 0) {
            if (song.steps.size() == MaxSteps) {
                song.truncated = true;
                break;
            }
            song.steps.push_back(step);
        }
        unit += static_cast<std::uint64_t>(step.length);
    }
    song.totalUnits = unit;
    LeaveOutUnplayable(song, options.playable);
    return song;
}

void LeaveOutUnplayable(Song& song, const NoteSet& playable) {
    NoteSet missing;
    for (const Note note : song.unplayable) missing.set(static_cast<std::size_t>(note + 100));
    std::vector<Step> kept;
    kept.reserve(song.steps.size());
    song.noteCount = 0;
    for (Step step : song.steps) {
        int n = 0;
        for (int k = 0; k < step.noteCount; ++k) {
            const Note note = step.notes[static_cast<std::size_t>(k)];
            if (Contains(playable, note)) {
                step.notes[static_cast<std::size_t>(n++)] = note;
            } else {
                ++song.leftOutNotes;
                if (note >= -100 && note < 156) missing.set(static_cast<std::size_t>(note + 100));
            }
        }
        step.noteCount = n;
        if (n == 0) continue;
        song.noteCount += static_cast<std::uint64_t>(n);
        kept.push_back(step);
    }
    song.steps = std::move(kept);
    song.unplayable.clear();
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (missing.test(i))
            song.unplayable.push_back(static_cast<Note>(static_cast<int>(i) - 100));
    }
}

std::string UnplayableNames(const Song& song) {
    std::string names;
    for (const Note note : song.unplayable) {
        if (!names.empty()) names += ", ";
        names += NoteName(note);
    }
    return names;
}

std::int16_t ChooseLayout(const Song& song) {
    std::int16_t best = keyboard::LayoutF6;
    std::uint64_t bestCount = 0;
    bool first = true;
    for (const std::int16_t degree :
         {keyboard::LayoutF6, keyboard::LayoutF4, keyboard::LayoutF5, keyboard::LayoutF7}) {
        const NoteSet playable = PlayableNotes(keyboard::NoteTablesForLayout(degree));
        std::uint64_t count = 0;
        for (const Step& step : song.steps) {
            for (int k = 0; k < step.noteCount; ++k)
                count += Contains(playable, step.notes[static_cast<std::size_t>(k)]) ? 1 : 0;
        }
        if (first || count > bestCount) {
            best = degree;
            bestCount = count;
            first = false;
        }
    }
    return best;
}

std::optional<double> BarAccuracy(const BarFigures& bar) {
    const std::uint64_t all = bar.played + bar.wrong + bar.missed;
    if (all == 0) return {};
    return 100.0 * static_cast<double>(bar.played) / static_cast<double>(all);
}

BarGrade GradeOf(const BarFigures& bar, Mode mode) {
    const auto accuracy = BarAccuracy(bar);
    if (!accuracy) return BarGrade::NotPlayed;
    BarGrade grade = *accuracy >= 100  ? BarGrade::Good
                     : *accuracy >= 75 ? BarGrade::Fair
                                       : BarGrade::Poor;
    if (mode == Mode::InTime) {
        const double d = bar.largestDeviationMs;
        grade = std::max(grade, d < 50 ? BarGrade::Good : d < 90 ? BarGrade::Fair : BarGrade::Poor);
    }
    return grade;
}

PracticeEngine::PracticeEngine(Song song, PracticeOptions options)
    : m_song(std::move(song)),
      m_options(options),
      m_unit(UnitSeconds(options.tempo)),
      m_tally(m_song.steps.size()) {
    if (m_options.tempo <= 0 || m_options.tempo > 999) m_options.tempo = 126;
    if (m_options.cleanPasses < 0) m_options.cleanPasses = 0;
    m_halfWindow = units(0.5);
}

Clock::duration PracticeEngine::units(double count) const {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(count * m_unit));
}

TimePoint PracticeEngine::passStart(std::uint64_t pass) const {
    return m_songStart + units(static_cast<double>(pass * m_song.totalUnits));
}

TimePoint PracticeEngine::dueOf(std::uint64_t pass, std::size_t step) const {
    return m_songStart +
           units(static_cast<double>(pass * m_song.totalUnits + m_song.steps[step].startUnit));
}

TimePoint PracticeEngine::clickTime(std::uint64_t click) const {
    return m_start + units(static_cast<double>(click * UnitsPerBeat));
}

void PracticeEngine::Start(TimePoint now) {
    if (m_started) return;
    m_started = true;
    m_start = now;
    m_songStart = now + units(CountInClicks * UnitsPerBeat);
    if (m_song.steps.empty()) {
        finish(now, true);
        return;
    }
    if (m_options.mode == Mode::Wait) beginStep();
}

void PracticeEngine::finish(TimePoint now, bool completed) {
    if (m_finished) return;
    m_finished = true;
    m_completed = completed;
    m_endTime = now;
    m_live.clear();
    if (completed) {
        Happening h;
        h.kind = Happening::Kind::Finished;
        h.time = now;
        m_pending.push_back(h);
    }
}

void PracticeEngine::endPass(TimePoint when) {
    ++m_passesDone;
    const bool clean = !m_passHadFault;
    m_cleanStreak = clean ? m_cleanStreak + 1 : 0;
    Happening h;
    h.kind = Happening::Kind::PassDone;
    h.time = when;
    h.clean = clean;
    m_pending.push_back(h);
    const bool enough = m_options.cleanPasses > 0 && m_cleanStreak >= m_options.cleanPasses;
    if (!m_options.loop || enough) {
        finish(when, true);
        return;
    }
    ++m_pass;
    m_stepsDone = m_stepsDoneAhead;
    m_stepsDoneAhead = 0;
    m_passHadFault = false;
}

void PracticeEngine::beginStep() {
    m_struck.fill(false);
    m_struckCount = 0;
}

Reaction PracticeEngine::NoteOn(Note note, TimePoint now) {
    if (!m_started || m_finished || note < -100 || note >= 156) return {};
    const auto index = static_cast<std::size_t>(note + 100);
    if (m_held.test(index)) return {};
    m_held.set(index);
    return m_options.mode == Mode::Wait ? waitNoteOn(note, now) : inTimeNoteOn(note, now);
}

void PracticeEngine::NoteOff(Note note, TimePoint) {
    if (note >= -100 && note < 156) m_held.reset(static_cast<std::size_t>(note + 100));
}

Reaction PracticeEngine::waitNoteOn(Note note, TimePoint now) {
    if (!m_firstNote) m_firstNote = now;
    const Step& step = m_song.steps[m_step];
    Reaction reaction;
    reaction.step = m_step;
    const auto end = step.notes.begin() + step.noteCount;
    const auto found = std::find(step.notes.begin(), end, note);
    if (found == end) {
        ++m_wrong;
        ++m_tally[m_step].wrong;
        m_passHadFault = true;
        reaction.meaning = Meaning::Wrong;
        return reaction;
    }
    const auto k = static_cast<std::size_t>(found - step.notes.begin());
    if (m_struck[k]) {
        reaction.meaning = Meaning::Again;
        return reaction;
    }
    m_struck[k] = true;
    ++m_struckCount;
    ++m_played;
    ++m_tally[m_step].played;
    if (m_struckCount < step.noteCount) {
        reaction.meaning = Meaning::Part;
        return reaction;
    }
    reaction.meaning = Meaning::StepDone;
    m_lastStepDone = now;
    ++m_stepsDone;
    ++m_step;
    if (m_step == m_song.steps.size()) {
        reaction.passDone = true;
        m_step = 0;
        endPass(now);
        reaction.finished = m_finished;
    }
    beginStep();
    return reaction;
}

Reaction PracticeEngine::inTimeNoteOn(Note note, TimePoint now) {
    catchUp(now);
    if (m_finished) return {};
    Reaction reaction;
    LiveStep* twice = nullptr;
    for (LiveStep& live : m_live) {
        const Step& step = m_song.steps[live.step];
        for (int k = 0; k < step.noteCount; ++k) {
            if (step.notes[static_cast<std::size_t>(k)] != note) continue;
            if (live.hit[static_cast<std::size_t>(k)]) {
                if (twice == nullptr) twice = &live;
                continue;
            }
            live.hit[static_cast<std::size_t>(k)] = true;
            ++live.hits;
            if (!live.onsetMs) live.onsetMs = Millis(now - live.due);
            const double deviation = *live.onsetMs;
            ++m_played;
            if (deviation < 0) ++m_early;
            if (deviation > 0) ++m_late;
            recordDeviation(deviation);
            StepTally& tally = m_tally[live.step];
            ++tally.played;
            tally.largestDeviationMs = std::max(tally.largestDeviationMs, std::abs(deviation));
            if (live.hits == step.noteCount) {
                if (live.pass == m_pass) {
                    ++m_stepsDone;
                } else {
                    ++m_stepsDoneAhead;
                }
            }
            reaction.meaning = Meaning::Hit;
            reaction.deviationMs = deviation;
            reaction.step = live.step;
            return reaction;
        }
    }
    if (twice != nullptr) {
        ++m_wrong;
        ++m_struckTwice;
        ++m_tally[twice->step].wrong;
        m_passHadFault = true;
        reaction.meaning = Meaning::StruckTwice;
        reaction.step = twice->step;
        return reaction;
    }
    // Finding the keys during the count-in, before any window opened.
    if (now < m_songStart && m_nextPass == 0 && m_nextStep == 0) return reaction;
    ++m_wrong;
    m_passHadFault = true;
    if (const auto step = ExpectedStep()) ++m_tally[*step].wrong;
    reaction.meaning = Meaning::Wrong;
    return reaction;
}

void PracticeEngine::recordDeviation(double ms) {
    ++m_deviations[static_cast<std::int64_t>(std::llround(ms * 10))];
}

// The next thing time brings in time mode, in the order a tie is handled.
PracticeEngine::Next PracticeEngine::nextEvent() const {
    Next next;
    auto consider = [&next](Next::Kind kind, TimePoint time) {
        if (next.kind == Next::None || time < next.time) {
            next.kind = kind;
            next.time = time;
        }
    };
    if (!m_live.empty()) consider(Next::Close, m_live.front().due + m_halfWindow);
    consider(Next::PassEnd, passStart(m_pass + 1));
    if (m_nextPass != NoPass) consider(Next::Open, dueOf(m_nextPass, m_nextStep) - m_halfWindow);
    if (m_nextClick < CountInClicks || m_options.metronome) {
        consider(Next::Click, clickTime(m_nextClick));
    }
    return next;
}

void PracticeEngine::catchUp(TimePoint now) {
    if (!m_started || m_finished || m_options.mode != Mode::InTime) return;
    while (!m_finished) {
        const Next next = nextEvent();
        if (next.kind == Next::None || next.time > now) break;
        switch (next.kind) {
            case Next::Close: {
                const LiveStep live = m_live.front();
                m_live.erase(m_live.begin());
                const Step& step = m_song.steps[live.step];
                for (int k = 0; k < step.noteCount; ++k) {
                    if (live.hit[static_cast<std::size_t>(k)]) continue;
                    ++m_missed;
                    ++m_tally[live.step].missed;
                    m_passHadFault = true;
                    Happening h;
                    h.kind = Happening::Kind::Missed;
                    h.time = next.time;
                    h.note = step.notes[static_cast<std::size_t>(k)];
                    h.step = live.step;
                    m_pending.push_back(h);
                }
                if (live.hits < step.noteCount && live.pass == m_pass) ++m_stepsDone;
                break;
            }
            case Next::PassEnd:
                endPass(next.time);
                break;
            case Next::Open: {
                LiveStep live;
                live.pass = m_nextPass;
                live.step = m_nextStep;
                live.due = dueOf(m_nextPass, m_nextStep);
                m_live.push_back(live);
                if (++m_nextStep == m_song.steps.size()) {
                    m_nextStep = 0;
                    m_nextPass = m_options.loop ? m_nextPass + 1 : NoPass;
                }
                break;
            }
            case Next::Click: {
                Happening h;
                h.kind = Happening::Kind::Click;
                h.time = next.time;
                h.countIn = m_nextClick < CountInClicks;
                h.downbeat = m_nextClick % BeatsPerBar == 0;
                m_pending.push_back(h);
                ++m_nextClick;
                break;
            }
            case Next::None:
                break;
        }
    }
}

std::vector<Happening> PracticeEngine::Advance(TimePoint now) {
    catchUp(now);
    std::vector<Happening> out;
    out.swap(m_pending);
    return out;
}

std::optional<TimePoint> PracticeEngine::NextWake() const {
    if (!m_started || m_finished || m_options.mode != Mode::InTime) return {};
    const Next next = nextEvent();
    if (next.kind == Next::None) return {};
    return next.time;
}

void PracticeEngine::Stop(TimePoint now) {
    if (m_started) {
        catchUp(now);
    } else {
        m_started = true;
        m_start = m_songStart = now;
    }
    finish(now, false);
}

std::optional<std::size_t> PracticeEngine::ExpectedStep() const {
    if (!m_started || m_finished) return {};
    if (m_options.mode == Mode::Wait) return m_step;
    for (const LiveStep& live : m_live) {
        if (live.hits < m_song.steps[live.step].noteCount) return live.step;
    }
    if (m_nextPass != NoPass) return m_nextStep;
    return {};
}

std::vector<Note> PracticeEngine::Expected() const {
    std::vector<Note> notes;
    const auto index = ExpectedStep();
    if (!index) return notes;
    const Step& step = m_song.steps[*index];
    const std::array<bool, performance::MaxChordNotes>* struck = nullptr;
    if (m_options.mode == Mode::Wait) {
        struck = &m_struck;
    } else {
        for (const LiveStep& live : m_live) {
            if (live.step == *index && live.hits < step.noteCount) {
                struck = &live.hit;
                break;
            }
        }
    }
    for (int k = 0; k < step.noteCount; ++k) {
        if (struck == nullptr || !(*struck)[static_cast<std::size_t>(k)])
            notes.push_back(step.notes[static_cast<std::size_t>(k)]);
    }
    return notes;
}

Progress PracticeEngine::progress() const {
    Progress p;
    p.stepsDone = m_stepsDone;
    p.stepCount = m_song.steps.size();
    p.notesPlayed = m_played;
    p.pass = m_pass + 1;
    p.cleanStreak = m_cleanStreak;
    p.countingIn = m_options.mode == Mode::InTime && m_started && !m_finished && m_live.empty() &&
                   m_nextPass == 0 && m_nextStep == 0;
    return p;
}

Result PracticeEngine::result() const {
    Result r;
    r.mode = m_options.mode;
    r.tempo = m_options.tempo;
    r.songNotes = m_song.noteCount;
    r.played = m_played;
    r.wrong = m_wrong;
    r.struckTwice = m_struckTwice;
    r.missed = m_missed;
    r.early = m_early;
    r.late = m_late;
    r.passes = m_passesDone;
    r.completed = m_completed;
    std::uint64_t total = 0;
    for (const auto& [value, count] : m_deviations) total += count;
    if (total > 0) {
        r.medianMs = Quantile(m_deviations, total, 0.5) / 10;
        r.spreadMs =
            (Quantile(m_deviations, total, 0.75) - Quantile(m_deviations, total, 0.25)) / 10;
    }
    if (m_options.mode == Mode::Wait) {
        if (m_firstNote) {
            const TimePoint end = m_finished && !m_completed ? m_endTime : m_lastStepDone;
            r.seconds = std::max(0.0, Millis(end - *m_firstNote) / 1000);
        }
    } else if (m_started) {
        const TimePoint end = m_finished ? m_endTime : m_songStart;
        r.seconds = std::max(0.0, Millis(end - m_songStart) / 1000);
    }
    for (std::size_t i = 0; i < m_tally.size(); ++i) {
        const Step& step = m_song.steps[i];
        if (r.bars.empty() || r.bars.back().line != step.line) r.bars.push_back({step.line});
        BarFigures& bar = r.bars.back();
        const StepTally& t = m_tally[i];
        bar.notes += static_cast<std::uint64_t>(step.noteCount);
        bar.played += t.played;
        bar.wrong += t.wrong;
        bar.missed += t.missed;
        bar.largestDeviationMs = std::max(bar.largestDeviationMs, t.largestDeviationMs);
    }
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < m_tally.size(); ++i) {
        const StepTally& t = m_tally[i];
        const bool counts = m_options.mode == Mode::Wait
                                ? t.wrong > 0
                                : t.missed > 0 || t.largestDeviationMs > 0 || t.wrong > 0;
        if (counts) order.push_back(i);
    }
    auto worse = [this](std::size_t a, std::size_t b) {
        const StepTally& x = m_tally[a];
        const StepTally& y = m_tally[b];
        if (m_options.mode == Mode::Wait) return x.wrong > y.wrong;
        if (x.missed != y.missed) return x.missed > y.missed;
        if (x.largestDeviationMs != y.largestDeviationMs)
            return x.largestDeviationMs > y.largestDeviationMs;
        return x.wrong > y.wrong;
    };
    std::stable_sort(order.begin(), order.end(), worse);
    for (std::size_t i = 0; i < order.size() && i < 3; ++i) {
        const Step& step = m_song.steps[order[i]];
        const StepTally& t = m_tally[order[i]];
        r.places.push_back({step.line, step.column, t.wrong, t.missed, t.largestDeviationMs});
    }
    return r;
}

}  // namespace practice
