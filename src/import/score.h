// A song as a MIDI file or a score gives it, before it is fitted to the typing keyboard: parts
// of timed notes in quarter-note beats, the meters and the tempo. Plain C++.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace importing {

struct ScoreNote {
    double start = 0;   // quarter-note beats from the song's start
    double length = 0;  // beats
    int pitch = 60;     // MIDI note number
    int staff = 1;      // a score's staff (1 the upper); MIDI: 1
};

struct ScorePart {
    std::string name;  // as the file names it; may be empty
    int track = 0;     // MIDI: the track, 1-based; a score: the part, 1-based
    int channel = -1;  // MIDI: 0..15; a score: -1
    int staves = 1;
    // MIDI: the track's name says which hand plays it (1 right, 2 left); 0: it does not.
    int namedHand = 0;
    std::vector<ScoreNote> notes;
};

struct Meter {
    double at = 0;  // beats
    int numerator = 4;
    int denominator = 4;
};

struct Score {
    std::vector<ScorePart> parts;  // only parts that have notes; drums are never among them
    std::vector<Meter> meters;     // ascending; empty: 4/4 throughout
    // Where each bar starts, in beats, as a score plays them; empty: bars follow the meters.
    std::vector<double> barStarts;
    double tempo = 120;    // the first tempo, quarter notes a minute
    int tempoChanges = 0;  // tempo events after the first
    int keyFifths = 0;     // the first key signature: sharps > 0, flats < 0
    int tupletNotes = 0;   // a score's notes written in tuplets (MIDI: found by fitting)
    int graceNotes = 0;    // left out: they take no time of their own
};

// Why a file could not be read, in words for the player; empty when it was read.
struct ReadResult {
    Score score;
    std::string error;
};

// Limits for any file a player opens: nothing larger is read, and the note count bounds memory.
inline constexpr std::size_t MaxFileBytes = 64u * 1024 * 1024;
inline constexpr std::size_t MaxNotes = 2'000'000;
// Beats past this (about 14 hours at tempo 120) are taken for a broken file.
inline constexpr double MaxBeats = 100'000;

}  // namespace importing
