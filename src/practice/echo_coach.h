// Listen, then repeat: phrase by phrase the program plays a phrase (a bar of 16 units, or the
// line of the music file when it is shorter), then waits for the player to play it back, judged
// as in wait mode. A wrong note ends the play-back and the phrase is played again; after three
// misses the practice goes on to the next phrase. Plain C++ under the caller's clock, like the
// engine.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "practice_engine.h"

namespace practice {

struct EchoEvent {
    enum class Kind {
        Listen,    // a phrase is about to be played: "聴いてください"
        Sound,     // sound the note now (and mark its key)
        Silence,   // end the note
        YourTurn,  // the player plays the phrase back: "どうぞ"
        Finished,  // the last phrase is done
    };
    Kind kind = Kind::Listen;
    TimePoint time{};
    Note note = 0;
    std::size_t phrase = 0;
};

class EchoCoach {
  public:
    // The phrase may hold at most MaxMisses wrong play-backs before the practice goes on.
    static constexpr int MaxMisses = 3;

    EchoCoach(Song song, int tempo);

    void Start(TimePoint now);
    // The player's notes: judged while it is their turn, ignored while the program plays.
    Reaction NoteOn(Note note, TimePoint now);
    void NoteOff(Note note, TimePoint now);
    // What is due by now, in order; call it after each NoteOn and when NextWake() comes.
    std::vector<EchoEvent> Advance(TimePoint now);
    // When the program has something to play; nothing while it waits for the player.
    std::optional<TimePoint> NextWake() const;
    void Stop(TimePoint now);

    bool finished() const { return m_finished; }
    bool playerTurn() const { return m_turn != nullptr; }
    std::size_t phrase() const { return m_phrase; }
    std::size_t phraseCount() const { return m_phrases.size(); }
    // The notes to mark: those sounding while the program plays, the next step's on the
    // player's turn.
    std::vector<Note> Expected() const;
    // Every play-back's figures, added up, as a wait-mode result.
    Result result() const;
    const Song& song() const { return m_song; }

  private:
    void listen(TimePoint at);
    void nextPhrase(TimePoint at);
    void endTurn();

    Song m_song;
    int m_tempo;
    double m_unit;
    std::vector<std::pair<std::size_t, std::size_t>> m_phrases;  // steps [first, last)
    std::size_t m_phrase = 0;
    int m_misses = 0;
    bool m_started = false;
    bool m_finished = false;
    bool m_completed = false;
    std::vector<EchoEvent> m_script;  // what the program is to play, in time order
    std::size_t m_scriptAt = 0;
    std::vector<EchoEvent> m_pending;
    std::vector<Note> m_sounding;
    std::unique_ptr<PracticeEngine> m_turn;
    Result m_sum;
    std::optional<TimePoint> m_firstNote;
    TimePoint m_lastNote{};
};

}  // namespace practice
