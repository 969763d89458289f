#include "practice_engine.h"

namespace practice {

NoteSet PlayableNotes(const keyboard::NoteTables&) {
    return AllNotes();
}
NoteSet AllNotes() {
    return NoteSet().set();
}
bool Contains(const NoteSet& set, Note note) {
    return note >= -100 && note < 156 && set.test(static_cast<std::size_t>(note + 100));
}
std::string NoteName(Note) {
    return {};
}
Song BuildSong(performance::MusicFileReader&, const SongOptions&) {
    return {};
}
void LeaveOutUnplayable(Song&, const NoteSet&) {}
std::int16_t ChooseLayout(const Song&) {
    return keyboard::LayoutF6;
}

PracticeEngine::PracticeEngine(Song song, PracticeOptions options)
    : m_song(std::move(song)), m_options(options) {}
void PracticeEngine::Start(TimePoint) {
    m_started = true;
}
Reaction PracticeEngine::NoteOn(Note, TimePoint) {
    return {};
}
void PracticeEngine::NoteOff(Note, TimePoint) {}
std::vector<Happening> PracticeEngine::Advance(TimePoint) {
    return {};
}
std::optional<TimePoint> PracticeEngine::NextWake() const {
    return {};
}
void PracticeEngine::Stop(TimePoint) {
    m_finished = true;
}
std::vector<Note> PracticeEngine::Expected() const {
    return {};
}
std::optional<std::size_t> PracticeEngine::ExpectedStep() const {
    return {};
}
Progress PracticeEngine::progress() const {
    return {};
}
Result PracticeEngine::result() const {
    return {};
}

}  // namespace practice
