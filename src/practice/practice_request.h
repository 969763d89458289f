// What the player asked to practise: from the command line or the practice dialog. Plain C++.
#pragma once

#include <string>

#include "song_fitting.h"

namespace practice {

struct PracticeRequest {
    std::string file;
    bool inTime = false;  // false: wait for each step
    int tempo = 126;
    int fromLine = 0;      // the passage's first line; 0: the song's start
    int toLine = 0;        // its last line; 0: the song's end
    int cleanRepeats = 0;  // a passage ends after so many clean plays in a row; 0: when stopped
    bool metronome = false;
    bool echo = false;  // listen, then repeat, phrase by phrase (wait mode's judging)
    int rampFrom = 0;   // the passage loops from this tempo up to `tempo`; 0: the tempo stays
    // A MIDI file or a score: which part and hand, and how it is fitted to the keys.
    importing::SongChoices choices{};
    bool melody = false;  // only the top note of each chord (imports: unless choices.chords)
    // Wait mode: when a bar begins, a screen reader hears the bar ahead instead of the next key.
    bool readBars = false;
};

}  // namespace practice
