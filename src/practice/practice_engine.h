// Practising a song: the song's steps as the music file gives them, and a practice that follows
// the player's notes, in wait mode or in time. Plain C++: no window, no sound, no clock of its
// own. Every call takes the time it happens at, so a practice runs as well on a manual clock.
//
// How the practice judges what the player does:
// - A step is one token that sounds at least one note the keyboard can play. Rests and tokens
//   whose notes no key plays are not steps: wait mode passes them at once, in-time mode lets
//   their time go by. Notes no key plays are left out of their chord and named once (Song).
// - Repeated notes: only a note-on counts, and a note-on of a key that is still held (no
//   note-off since its note-on: a key repeat, a doubled MIDI message) is ignored. So the same
//   key twice in a row must be released and struck twice; a note held over from the step
//   before never completes the next step.
// - Wait mode, chords: the step is played once every note of it has been struck since the step
//   began, in any order and at any spread: an uneven chord is simply complete when its last note
//   comes. A note of the chord struck again before the chord is complete is neither progress
//   nor wrong (Meaning::Again). Any other note is wrong: it is counted, and the step waits on.
// - In-time mode, windows: each note of a step is due at the step's time and may be struck
//   within half a length unit either side: [due - unit/2, due + unit/2). Notes of the same key
//   are at least one unit apart, so their windows never overlap and a strike belongs to one
//   due note at most. A strike in the window of a note already hit is "struck twice" (counted
//   among the wrong notes); a strike in no window of its key is wrong; a due note whose window
//   closes unhit is missed. Notes struck during the count-in before the first window opens are
//   ignored (the player finding the keys).
// - In-time mode, uneven chords: a human chord spreads over 30-60 ms, which would scatter one
//   chord over early and late. Each note must still fall in its own window to be a hit, but all
//   the hits of one chord take the chord's onset deviation: the time of its first struck note.
// - Count-in: one bar of four clicks, a beat (four units) apart, starting at Start(); the song's
//   first unit begins one beat after the fourth click. The metronome, when asked for, goes on
//   clicking every beat through the song; the first beat of each bar of 16 units is a downbeat.
// - Passage loop: with loop set, the passage starts again when it ends, until Stop() or until
//   it has been played clean (no wrong note, no missed note) cleanPasses times in a row. In
//   wait mode the next pass starts at once; in time it follows without a new count-in, its
//   first unit right after the last unit of the pass before. The figures add up over all passes.
// - Time taken: wait mode from the first note struck to the last step played (or to Stop());
//   in-time mode from the song's first unit to its end (or to Stop()).
// - Deviation figures: the median, and the spread as the interquartile range (the middle half
//   of the deviations), both in ms: one wild strike does not move them.
#pragma once

#include <array>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "key_layout.h"
#include "music_file.h"

namespace practice {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
// Semitones from middle C, as in the notation.
using Note = std::int16_t;

// Echo: listen, then repeat (the echo coach's result); its play-back is judged as in Wait, and
// the engine itself never runs in it.
enum class Mode { Wait, InTime, Echo };

// The notes a layout's keys play, indexed by note + 100 (like the performance's KeyOfNote).
using NoteSet = std::bitset<256>;
NoteSet PlayableNotes(const keyboard::NoteTables& tables);
NoteSet AllNotes();
bool Contains(const NoteSet& set, Note note);

// A note as the music file writes it: "ド", "ファ#", "ソH", "レL#", "ドI".
std::string NoteName(Note note);

struct Step {
    std::array<Note, performance::MaxChordNotes> notes{};  // distinct, in the token's order
    int noteCount = 0;
    std::int16_t length = 1;      // units until the next token
    std::uint64_t startUnit = 0;  // units from the passage's start
    // Where the token stands in the file, as --check names places.
    std::uint64_t line = 1;
    std::uint64_t column = 1;
};

// At most this many steps are kept; a longer passage is cut (Song::truncated).
inline constexpr std::size_t MaxSteps = 200000;

struct Song {
    std::vector<Step> steps;
    std::uint64_t totalUnits = 0;           // the passage's length, rests included
    std::vector<std::uint64_t> lineStarts;  // units where each line of the file begins, ascending
    std::uint64_t noteCount = 0;            // notes to play in one pass
    std::vector<Note> unplayable;  // distinct, ascending: notes left out because no key plays them
    std::uint64_t leftOutNotes = 0;  // how many notes were left out for that
    bool truncated = false;
};

struct SongOptions {
    std::uint64_t fromLine = 0;  // the first line of the passage; 0: from the start
    std::uint64_t toLine = 0;    // the last line of the passage; 0: to the end
    NoteSet playable = AllNotes();
    bool melody = false;  // keep only the top note of each chord
};

// Reads the tokens the reader gives (from where it stands to the end) into the passage's steps.
// A token belongs to the passage when the line it starts on is within fromLine..toLine.
Song BuildSong(performance::MusicFileReader& reader, const SongOptions& options = {});
// Leaves out the notes the keyboard cannot play: steps left without notes are dropped.
void LeaveOutUnplayable(Song& song, const NoteSet& playable);
// The notes no key plays, named once: "ソL, レI"; empty when every note has a key.
std::string UnplayableNames(const Song& song);
// The layout (keyboard::LayoutF4..F7 degree) whose keys play the most of the song's notes
// (a song built with every note playable); the standard F6 wins every tie.
std::int16_t ChooseLayout(const Song& song);

struct PracticeOptions {
    Mode mode = Mode::Wait;
    int tempo = 126;         // 1..999; out of range counts as 126
    bool metronome = false;  // in-time mode: clicks on every beat through the song
    bool loop = false;       // repeat the passage ...
    int cleanPasses = 0;     // ... until played clean this many times in a row; 0: until Stop()
};

// What a note-on meant.
enum class Meaning {
    Ignored,      // before Start(), after the end, a held key again, or during the count-in
    Part,         // wait mode: a note of the step; the step waits for more
    Again,        // wait mode: a note of the step struck again before the step was complete
    StepDone,     // wait mode: the step's last note; the next step begins
    Wrong,        // a note that is not expected (counted)
    Hit,          // in-time mode: within its window (deviationMs)
    StruckTwice,  // in-time mode: a second strike in a window already hit (counted as wrong)
};

struct Reaction {
    Meaning meaning = Meaning::Ignored;
    double deviationMs = 0;  // Hit: < 0 early, > 0 late (the chord's onset, see above)
    std::size_t step = 0;    // Part, Again, StepDone, Hit, StruckTwice: the step's index
    bool passDone = false;   // wait mode: this note ended a pass
    bool finished = false;   // this note ended the practice
};

// What time brought, in the order it happened.
struct Happening {
    enum class Kind {
        Click,     // sound a click now (count-in or metronome)
        Missed,    // in-time mode: a due note's window closed unhit
        PassDone,  // a pass of the passage ended (clean: no wrong, no missed note)
        Finished,  // the practice ended by itself
    };
    Kind kind = Kind::Click;
    TimePoint time{};       // when it was due
    bool countIn = false;   // Click: one of the count-in's four
    bool downbeat = false;  // Click: the first beat of a bar
    Note note = 0;          // Missed
    std::size_t step = 0;   // Missed
    bool clean = false;     // PassDone
};

struct Progress {
    std::size_t stepsDone = 0;  // in this pass: played (wait) or past and judged (in time)
    std::size_t stepCount = 0;
    std::uint64_t notesPlayed = 0;  // all passes: played (wait) or hit (in time)
    std::uint64_t pass = 1;         // the pass under way, from 1
    int cleanStreak = 0;            // clean passes in a row just before this one
    bool countingIn = false;
};

// A place to practise again: a step with wrong notes (wait mode) or with the largest deviation
// (in time; a missed note ranks above any deviation).
struct Place {
    std::uint64_t line = 1;
    std::uint64_t column = 1;
    std::uint64_t wrong = 0;
    std::uint64_t missed = 0;
    double largestDeviationMs = 0;  // absolute
};

// A bar's figures: a bar is a line of the music file, the steps that start on it.
struct BarFigures {
    std::uint64_t line = 1;
    std::uint64_t notes = 0;   // in one pass
    std::uint64_t played = 0;  // all passes: played (wait) or hit (in time)
    std::uint64_t wrong = 0;
    std::uint64_t missed = 0;
    double largestDeviationMs = 0;  // absolute, in time
};
// played / (played + wrong + missed) in percent; nothing for a bar not yet reached.
std::optional<double> BarAccuracy(const BarFigures& bar);
// How a bar went, for its colour: by its accuracy (100%, at least 75%, less), in time also by
// its largest deviation (under 50 ms, under 90 ms, more), whichever is worse.
enum class BarGrade { NotPlayed, Good, Fair, Poor };
BarGrade GradeOf(const BarFigures& bar, Mode mode);

struct Result {
    Mode mode = Mode::Wait;
    int tempo = 126;
    std::uint64_t songNotes = 0;  // notes in one pass
    std::uint64_t played = 0;     // wait: notes played; in time: hits
    std::uint64_t wrong = 0;      // struck twice included
    std::uint64_t struckTwice = 0;
    std::uint64_t missed = 0;
    std::uint64_t early = 0;
    std::uint64_t late = 0;
    std::optional<double> medianMs;  // in time, with at least one hit
    std::optional<double> spreadMs;
    double seconds = 0;
    std::uint64_t passes = 0;      // passes played to their end
    bool completed = false;        // ended by itself, not by Stop()
    std::vector<Place> places;     // at most three, the worst first
    std::vector<BarFigures> bars;  // every bar of the passage, in its order
    // Set by whoever ramps the tempo (TempoRamp): the ramp's start, 0 when the tempo stays, and
    // the highest tempo a pass was played clean at.
    int rampFrom = 0;
    std::optional<int> highestCleanTempo;
};

class PracticeEngine {
  public:
    PracticeEngine(Song song, PracticeOptions options);

    // Begins the practice: wait mode expects the first step at once; in time the count-in's
    // first click is due now. A song without steps ends at once.
    void Start(TimePoint now);
    // The player's notes, whatever their source, in the order they came.
    Reaction NoteOn(Note note, TimePoint now);
    void NoteOff(Note note, TimePoint now);
    // Catches up with the time: clicks due, missed notes, passes done, the end. What a NoteOn
    // found on its way is returned by the next call too, so call this after each NoteOn and
    // whenever NextWake() comes.
    std::vector<Happening> Advance(TimePoint now);
    // When Advance() has something to do next (a click, a window closing, the next step's window
    // opening, the end); nothing when only the player's notes can move the practice on.
    std::optional<TimePoint> NextWake() const;
    // Ends the practice (Esc, a closed window); the result so far stays readable.
    void Stop(TimePoint now);

    // The notes to show as expected next: the current step's notes not yet struck (wait mode),
    // or the notes not yet hit of the first step whose window has not closed (in time).
    std::vector<Note> Expected() const;
    // The step Expected() belongs to, if any.
    std::optional<std::size_t> ExpectedStep() const;
    Progress progress() const;
    bool started() const { return m_started; }
    bool finished() const { return m_finished; }
    Result result() const;
    const Song& song() const { return m_song; }
    const PracticeOptions& options() const { return m_options; }
    // Seconds per length unit at the practice's tempo.
    double unitSeconds() const { return m_unit; }
    // In time: when the song's first unit begins (one bar after Start()).
    TimePoint songStart() const { return m_songStart; }

  private:
    struct StepTally {
        std::uint64_t played = 0;
        std::uint64_t wrong = 0;
        std::uint64_t missed = 0;
        double largestDeviationMs = 0;
    };
    // In time: a step whose window may still be open.
    struct LiveStep {
        std::uint64_t pass = 0;
        std::size_t step = 0;
        TimePoint due{};
        std::array<bool, performance::MaxChordNotes> hit{};
        int hits = 0;
        std::optional<double> onsetMs;
    };

    // In time: the next thing time brings, in the order a tie is handled.
    struct Next {
        enum Kind { None, Close, PassEnd, Open, Click } kind = None;
        TimePoint time{};
    };
    Next nextEvent() const;

    void finish(TimePoint now, bool completed);
    void endPass(TimePoint when);
    // Wait mode.
    Reaction waitNoteOn(Note note, TimePoint now);
    void beginStep();
    // In time.
    Reaction inTimeNoteOn(Note note, TimePoint now);
    void catchUp(TimePoint now);
    TimePoint dueOf(std::uint64_t pass, std::size_t step) const;
    TimePoint passStart(std::uint64_t pass) const;
    TimePoint clickTime(std::uint64_t click) const;
    Clock::duration units(double count) const;
    void recordDeviation(double ms);

    Song m_song;
    PracticeOptions m_options;
    double m_unit = 0;
    Clock::duration m_halfWindow{};
    bool m_started = false;
    bool m_finished = false;
    bool m_completed = false;
    std::vector<Happening> m_pending;
    NoteSet m_held;

    // Progress through the passage.
    std::uint64_t m_pass = 0;  // from 0
    std::size_t m_step = 0;    // wait mode: the current step
    std::size_t m_stepsDone = 0;
    std::size_t m_stepsDoneAhead = 0;  // in time: steps of the next pass hit before it began
    bool m_passHadFault = false;
    int m_cleanStreak = 0;
    std::uint64_t m_passesDone = 0;

    // Wait mode: which of the current step's notes have been struck.
    std::array<bool, performance::MaxChordNotes> m_struck{};
    int m_struckCount = 0;
    std::optional<TimePoint> m_firstNote;
    TimePoint m_lastStepDone{};

    // In time.
    TimePoint m_start{};
    TimePoint m_songStart{};
    Clock::duration m_passLength{};
    std::uint64_t m_nextClick = 0;  // clicks from Start(), the count-in's four first
    std::uint64_t m_nextPass = 0;   // the next step whose window is to open: pass ...
    std::size_t m_nextStep = 0;     // ... and step
    std::vector<LiveStep> m_live;
    TimePoint m_endTime{};

    // Figures.
    std::uint64_t m_played = 0;
    std::uint64_t m_wrong = 0;
    std::uint64_t m_struckTwice = 0;
    std::uint64_t m_missed = 0;
    std::uint64_t m_early = 0;
    std::uint64_t m_late = 0;
    // Deviations in tenths of a millisecond and how often each came: bounded by the window's
    // width however long the practice runs.
    std::map<std::int64_t, std::uint64_t> m_deviations;
    std::vector<StepTally> m_tally;
};

}  // namespace practice
