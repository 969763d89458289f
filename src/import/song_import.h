// Opening a MIDI file or a MusicXML score as a song in the notation: the one way in for the
// dialogs, practice and the console modes.
#pragma once

#include <string>
#include <vector>

#include "music_file.h"
#include "song_fitting.h"

namespace importing {

// Is this a file to import rather than a music file: by its first bytes, else by its name
// (.mid .midi .kar .musicxml .xml .mxl)?
bool IsImportable(const std::string& path);

struct ImportedSong {
    std::string text;    // the notation, CP932; empty on error
    std::string error;   // a whole sentence naming the file; empty when it was read
    std::string report;  // what fitting changed, one line; may be empty
    FitReport fit;
    std::vector<std::string> parts;  // every part the file has, for the lists
    double tempo = 120;              // the file's first tempo
};

// Reads and fits the file. Never writes anything; reads at most MaxFileBytes.
ImportedSong ImportSong(const std::string& path, const SongChoices& choices);

// The file's parts (for the dialogs' list), or an error sentence.
ImportedSong ReadParts(const std::string& path);

// Opens the reader on the song: an importable file through ImportSong, a music file as it is.
// message: the error when false; when true, what fitting changed (may be empty).
bool OpenSong(performance::MusicFileReader& reader, const std::string& path,
              const SongChoices& choices, std::string& message);

// The dialogs' part list: "自動" (the first part, or the hand's track), then "1: Piano" ...
std::vector<std::string> PartListItems(const std::vector<std::string>& parts);
// The choice a line of that list stands for.
std::string PartOfListIndex(int index);

// "song.mid（パート2・右手・和音）": how the practice history tells the songs of one file
// apart. A music file, and an import with the default choices, is its path alone.
std::string SongKey(const std::string& path, const SongChoices& choices);

}  // namespace importing
