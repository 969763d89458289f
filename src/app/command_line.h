// The program's own command-line options; everything else is the name of a music file.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace app {

struct CommandLine {
    std::string midiOut = "synth";
    std::string soundfont;
    bool listOutputs = false;
    std::string midiIn = "all";
    bool listInputs = false;
    bool verbose = false;   // the audio layer's messages on stderr
    int audioBufferMs = 0;  // 0: the built-in synthesizer's default buffering
    bool help = false;
    bool version = false;
    std::string printLayout;  // a PDF file to write the key layout to, without a window
    std::string layout = "F6";
    // Modes without a window: play, export-midi, render-wav, check, practice-history; empty for
    // the window.
    std::string mode;
    std::string input;   // the music file of a mode
    std::string output;  // the file export-midi and render-wav write
    // Files that record what is played in the window: a music file, a Standard MIDI File.
    std::string recordText;
    std::string recordMidi;
    // Practice in the window: a music file (--practice), or the practice dialog at start.
    std::string practiceFile;
    bool practiceDialog = false;
    bool inTime = false;
    bool metronome = false;
    int fromLine = 0;      // the passage's first line; 0: the song's start
    int toLine = 0;        // its last line; 0: the song's end
    int cleanRepeats = 0;  // a passage ends after so many clean plays in a row; 0: when stopped
    bool echo = false;     // --echo: listen, then repeat, phrase by phrase
    int rampFrom = 0;      // --ramp: the passage loops from this tempo up to --tempo; 0: none
    // --practice-history: the practice history, of one music file (input) or of all; --chart
    // names a PNG picture to draw its accuracy chart in.
    std::string chart;
    // What to learn from a MIDI file or a score, and how it is fitted to the keys.
    std::string part;              // empty: the first part (or the track named for the hand)
    std::string hand = "both";     // right, left or both
    int split = 60;                // a one-staff part's hands meet at this note (middle C)
    bool melody = false;           // the top note of each chord (imports do it by default)
    bool chords = false;           // chords of up to three notes
    std::optional<int> transpose;  // semitones; none: chosen to fit the keys
    int tempo = 126;
    bool tempoGiven = false;  // --tempo was given: an imported song's own tempo is not used
    int channel = 0;
    // The General MIDI program sent at start and at each channel change; -1: none is sent.
    int program = -1;
    bool listPrograms = false;
    // The arguments that are not our options, joined with one blank, as given.
    std::string commandLineFile;
    std::string error;  // not empty: the command line cannot be used
};

// args: the arguments after the program's name. Options start with "--"; a lone "--" ends them.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace app
