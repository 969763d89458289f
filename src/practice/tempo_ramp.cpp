#include "tempo_ramp.h"

#include <algorithm>

namespace practice {

bool PlayedClean(const Result& pass) {
    if (!pass.completed || pass.wrong > 0) return false;
    return pass.mode == Mode::Wait || (pass.missed == 0 && pass.played == pass.songNotes);
}

TempoRamp::TempoRamp(int start, int goal) {
    if (start < goal) m_steps.push_back(start);
    for (const int tempo : PracticeTempi) {
        if (tempo > start && tempo < goal) m_steps.push_back(tempo);
    }
    m_steps.push_back(goal);
}

int TempoRamp::PassDone(bool clean) {
    if (clean) {
        m_highestClean = std::max(m_highestClean.value_or(0), tempo());
        m_faultyInRow = 0;
        if (m_at + 1 < m_steps.size()) ++m_at;
    } else if (++m_faultyInRow == 2) {
        m_faultyInRow = 0;
        if (m_at > 0) --m_at;
    }
    return tempo();
}

}  // namespace practice
