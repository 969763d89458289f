#include "echo_coach.h"

#include <algorithm>

namespace practice {
namespace {

constexpr std::uint64_t PhraseUnits = 16;  // a bar
constexpr double BeatUnits = 4;

Clock::duration Units(double count, double unit) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(count * unit));
}

}  // namespace

EchoCoach::EchoCoach(Song song, int tempo)
    : m_song(std::move(song)), m_tempo(tempo > 0 && tempo <= 999 ? tempo : 126) {
    // Seconds per unit as the engine counts them.
    m_unit = static_cast<double>(static_cast<float>(60.0 / m_tempo) / 4.0f);
    const auto& steps = m_song.steps;
    std::size_t first = 0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (i > first && (steps[i].line != steps[first].line ||
                          steps[i].startUnit - steps[first].startUnit >= PhraseUnits)) {
            m_phrases.emplace_back(first, i);
            first = i;
        }
        if (m_sum.bars.empty() || m_sum.bars.back().line != steps[i].line)
            m_sum.bars.push_back({steps[i].line});
        m_sum.bars.back().notes += static_cast<std::uint64_t>(steps[i].noteCount);
    }
    if (!steps.empty()) m_phrases.emplace_back(first, steps.size());
    m_sum.mode = Mode::Echo;
    m_sum.tempo = m_tempo;
    m_sum.songNotes = m_song.noteCount;
}

void EchoCoach::Start(TimePoint now) {
    if (m_started) return;
    m_started = true;
    m_phrase = 0;
    if (m_phrases.empty()) {
        m_finished = m_completed = true;
        m_pending.push_back({EchoEvent::Kind::Finished, now});
        return;
    }
    listen(now);
}

void EchoCoach::listen(TimePoint at) {
    m_script.clear();
    m_scriptAt = 0;
    const auto [first, last] = m_phrases[m_phrase];
    const std::uint64_t origin = m_song.steps[first].startUnit;
    m_script.push_back({EchoEvent::Kind::Listen, at, 0, m_phrase});
    TimePoint end = at;
    for (std::size_t i = first; i < last; ++i) {
        const Step& step = m_song.steps[i];
        const TimePoint on = at + Units(static_cast<double>(step.startUnit - origin), m_unit);
        const TimePoint off = on + Units(step.length, m_unit);
        for (int k = 0; k < step.noteCount; ++k) {
            const Note note = step.notes[static_cast<std::size_t>(k)];
            m_script.push_back({EchoEvent::Kind::Sound, on, note, m_phrase});
            m_script.push_back({EchoEvent::Kind::Silence, off, note, m_phrase});
        }
        end = std::max(end, off);
    }
    // A note ends before the next one starts at the same time, so a repeated note sounds again.
    std::stable_sort(m_script.begin(), m_script.end(), [](const EchoEvent& a, const EchoEvent& b) {
        if (a.time != b.time) return a.time < b.time;
        return a.kind == EchoEvent::Kind::Silence && b.kind == EchoEvent::Kind::Sound;
    });
    m_script.push_back({EchoEvent::Kind::YourTurn, end + Units(BeatUnits, m_unit), 0, m_phrase});
}

void EchoCoach::nextPhrase(TimePoint at) {
    m_misses = 0;
    if (++m_phrase == m_phrases.size()) {
        m_finished = m_completed = true;
        m_pending.push_back({EchoEvent::Kind::Finished, at, 0, m_phrase - 1});
        return;
    }
    listen(at + Units(BeatUnits, m_unit));
}

std::vector<EchoEvent> EchoCoach::Advance(TimePoint now) {
    while (m_started && !m_finished && m_scriptAt < m_script.size() &&
           m_script[m_scriptAt].time <= now) {
        const EchoEvent event = m_script[m_scriptAt++];
        if (event.kind == EchoEvent::Kind::Sound) m_sounding.push_back(event.note);
        if (event.kind == EchoEvent::Kind::Silence) {
            const auto it = std::find(m_sounding.begin(), m_sounding.end(), event.note);
            if (it != m_sounding.end()) m_sounding.erase(it);
        }
        if (event.kind == EchoEvent::Kind::YourTurn) {
            // The phrase alone, judged in wait mode.
            Song phrase;
            const auto [first, last] = m_phrases[m_phrase];
            for (std::size_t i = first; i < last; ++i) {
                Step step = m_song.steps[i];
                step.startUnit -= m_song.steps[first].startUnit;
                phrase.noteCount += static_cast<std::uint64_t>(step.noteCount);
                phrase.totalUnits = step.startUnit + static_cast<std::uint64_t>(step.length);
                phrase.steps.push_back(step);
            }
            PracticeOptions options;
            options.tempo = m_tempo;
            m_turn = std::make_unique<PracticeEngine>(std::move(phrase), options);
            m_turn->Start(event.time);
        }
        m_pending.push_back(event);
    }
    std::vector<EchoEvent> out;
    out.swap(m_pending);
    return out;
}

std::optional<TimePoint> EchoCoach::NextWake() const {
    if (!m_started || m_finished || m_scriptAt >= m_script.size()) return {};
    return m_script[m_scriptAt].time;
}

Reaction EchoCoach::NoteOn(Note note, TimePoint now) {
    if (!m_started || m_finished) return {};
    // What was due comes first: the player's turn may have begun.
    std::vector<EchoEvent> due = Advance(now);
    m_pending.insert(m_pending.begin(), due.begin(), due.end());
    if (!m_turn) return {};
    if (!m_firstNote) m_firstNote = now;
    const Reaction reaction = m_turn->NoteOn(note, now);
    if (reaction.meaning == Meaning::Wrong) {
        endTurn();
        if (++m_misses < MaxMisses) {
            listen(now + Units(BeatUnits, m_unit));
        } else {
            nextPhrase(now);
        }
    } else if (reaction.finished) {
        m_lastNote = now;
        endTurn();
        nextPhrase(now);
    }
    return reaction;
}

void EchoCoach::NoteOff(Note note, TimePoint now) {
    if (m_turn) m_turn->NoteOff(note, now);
}

void EchoCoach::endTurn() {
    const Result turn = m_turn->result();
    m_turn.reset();
    m_sum.played += turn.played;
    m_sum.wrong += turn.wrong;
    for (const BarFigures& bar : turn.bars) {
        const auto it = std::find_if(m_sum.bars.begin(), m_sum.bars.end(),
                                     [&bar](const BarFigures& b) { return b.line == bar.line; });
        if (it == m_sum.bars.end()) continue;
        it->played += bar.played;
        it->wrong += bar.wrong;
    }
}

void EchoCoach::Stop(TimePoint now) {
    if (m_finished) return;
    if (m_turn) {
        m_turn->Stop(now);
        endTurn();
    }
    if (m_firstNote && m_lastNote < now) m_lastNote = now;
    m_finished = true;
    m_started = true;
}

std::vector<Note> EchoCoach::Expected() const {
    return m_turn ? m_turn->Expected() : m_sounding;
}

Result EchoCoach::result() const {
    Result r = m_sum;
    r.completed = m_completed;
    r.passes = m_completed ? 1 : 0;
    if (m_firstNote && m_lastNote > *m_firstNote) {
        r.seconds = std::chrono::duration<double>(m_lastNote - *m_firstNote).count();
    }
    return r;
}

}  // namespace practice
