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

inline void CheckFitted(const importing::FittedSong& song) {
    if (!song.error.empty()) {
        CheckLine(song.error);
        if (!song.text.empty()) std::abort();
        return;
    }
    const importing::FitReport& report = song.report;
    if (report.notesKept < 1 || report.notesKept > report.notesIn) std::abort();
    if (report.leftOut < 0 || report.octaveMoves < 0 || report.shortened < 0) std::abort();
    std::istringstream in(song.text);
    performance::MusicFileReader reader(in);
    while (!reader.AtEnd()) {
        const performance::Token token = reader.Read();
        if (!performance::CheckToken(token).empty()) std::abort();
    }
}

inline void CheckImport(const importing::ReadResult& result) {
    if (!result.error.empty()) return CheckLine(result.error);
    for (const importing::ScorePart& part : result.score.parts) {
        if (part.notes.empty() || part.notes.size() > importing::MaxNotes) std::abort();
        for (const importing::ScoreNote& note : part.notes) {
            if (!(note.start >= 0 && note.start <= importing::MaxBeats)) std::abort();
            if (!(note.length >= 0 && note.length <= importing::MaxBeats)) std::abort();
            if (note.pitch < 0 || note.pitch > 127) std::abort();
        }
    }
    using importing::Hand;
    for (const importing::SongChoices& choices :
         {importing::SongChoices{}, importing::SongChoices{"", Hand::Right, 60, true, {}},
          importing::SongChoices{"", Hand::Left, 55, false, {}},
          importing::SongChoices{"2", Hand::Both, 60, true, 30}}) {
        CheckFitted(importing::FitSong(result.score, choices));
    }
}

}  // namespace fuzzing
