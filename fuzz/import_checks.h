// What the two import fuzz targets check of whatever a reader makes of the bytes: a score read
// stays within the limits the readers promise, an error is one short printable line, and each
// fitting of the score (melody or chords, either hand) writes notation that reads back without
// a single finding, as --check must find nothing in what --import writes.
#pragma once

#include <cstdlib>
#include <sstream>
#include <string>

#include "music_check.h"
#include "music_file.h"
#include "score.h"
#include "song_fitting.h"

namespace fuzzing {

inline void CheckLine(const std::string& text) {
    if (text.empty() || text.size() > 400) std::abort();
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
    }
}

inline void CheckFitted(const import::FittedSong& song) {
    if (!song.error.empty()) {
        CheckLine(song.error);
        if (!song.text.empty()) std::abort();
        return;
    }
    const import::FitReport& report = song.report;
    if (report.notesKept < 1 || report.notesKept > report.notesIn) std::abort();
    if (report.leftOut < 0 || report.octaveMoves < 0 || report.shortened < 0) std::abort();
    std::istringstream in(song.text);
    performance::MusicFileReader reader(in);
    while (!reader.AtEnd()) {
        const performance::Token token = reader.Read();
        if (!performance::CheckToken(token).empty()) std::abort();
    }
}

inline void CheckImport(const import::ReadResult& result) {
    if (!result.error.empty()) return CheckLine(result.error);
    for (const import::ScorePart& part : result.score.parts) {
        if (part.notes.empty() || part.notes.size() > import::MaxNotes) std::abort();
        for (const import::ScoreNote& note : part.notes) {
            if (!(note.start >= 0 && note.start <= import::MaxBeats)) std::abort();
            if (!(note.length >= 0 && note.length <= import::MaxBeats)) std::abort();
            if (note.pitch < 0 || note.pitch > 127) std::abort();
        }
    }
    using import::Hand;
    for (const import::SongChoices& choices :
         {import::SongChoices{}, import::SongChoices{"", Hand::Right, 60, true, {}},
          import::SongChoices{"", Hand::Left, 55, false, {}},
          import::SongChoices{"2", Hand::Both, 60, true, 30}}) {
        CheckFitted(import::FitSong(result.score, choices));
    }
}

}  // namespace fuzzing
