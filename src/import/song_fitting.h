// A Score fitted to the typing keyboard and written in the notation: one part (or one hand of
// it), its melody or small chords, moved to where the keys reach, its rhythm on sixteenth-note
// units. Says what it changed. Plain C++.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "score.h"

namespace importing {

enum class Hand { Both, Right, Left };

struct SongChoices {
    std::string part;  // empty: the first part (or the track named for the hand); else a
                       // number from 1 or a part of the name
    Hand hand = Hand::Both;
    int split = 60;                // a part with one staff: the right hand plays from this note up
    bool chords = false;           // false: the melody, the top note of each chord
    std::optional<int> transpose;  // semitones; none: chosen to fit the keys
    friend bool operator==(const SongChoices&, const SongChoices&) = default;
};

struct FitReport {
    int notesIn = 0;          // notes of the part (and hand) chosen
    int notesKept = 0;        // notes written
    int transpose = 0;        // semitones
    std::int16_t layout = 5;  // the layout (keyboard::LayoutF4..F7) the song fits best
    int octaveMoves = 0;      // notes moved by octaves into the keys' reach
    int tupletPlaces = 0;     // onsets off the sixteenth-note grid, moved to the nearest unit
    int shortened = 0;        // notes longer than ten units, held for ten
    int leftOut = 0;          // notes no key reaches in any octave
    std::string partName;     // the part as the lists name it
};

struct FittedSong {
    std::string text;  // the notation, CP932 with CR LF line ends; empty on error
    FitReport report;
    std::string error;  // for the player, without the file's name
};

FittedSong FitSong(const Score& score, const SongChoices& choices);

// The parts as the dialogs and --part list them: "Piano", "トラック3 ch2" ...
std::vector<std::string> PartNames(const Score& score);

// "2半音下げ、オクターブ移動 3音、3連符 4か所を丸めました"; empty when nothing changed.
std::string ReportLine(const FitReport& report);

// Layout names as the function keys choose them.
std::string LayoutName(std::int16_t layout);

}  // namespace importing
