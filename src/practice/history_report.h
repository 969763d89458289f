// The practice history for people: a table of the practices and, for each song and mode, a
// small chart of its accuracy over time drawn with block characters in the terminal. Plain C++.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "practice_history.h"

namespace practice {

// The practices of one song in one mode, oldest first.
struct SongHistory {
    std::string file;
    Mode mode = Mode::Wait;
    std::vector<HistoryEntry> entries;
};
// Moves one entry into the group of its file and mode, made after the last when it is the first
// of them: groups stand in the order each first appears. The entry in its group is without its
// file's name (the group's) and its bars.
void AddToGroup(std::vector<SongHistory>& songs, HistoryEntry&& entry);

// Seconds since 1970 of an entry's ISO 8601 time, offset included; nothing when unreadable.
std::optional<std::int64_t> EntrySeconds(const HistoryEntry& entry);

// The table and the charts, ready for the terminal (UTF-8, lines end with \n).
// Written song by song, so that a long history is never one string.
void HistoryReport(const std::vector<SongHistory>& songs, std::ostream& out);
// The minutes practised on each of the last 14 days up to `now`, oldest first; a practice counts
// on the date of its own time.
struct DayMinutes {
    std::string date;  // YYYY-MM-DD
    double minutes = 0;
};
std::vector<DayMinutes> MinutesPerDay(const std::vector<SongHistory>& songs, std::time_t now);
// Those days as text, a bar of eighth blocks each, and the sum: "練習した時間".
std::string PracticeDays(const std::vector<DayMinutes>& days);

// The practice dialog's song list: the songs of the history, newest first, then the files of the
// songs folder not yet practised, by name.
struct SongListEntry {
    std::string song;  // as the history names it: a path, perhaps with "（右手）" after it
    std::string path;  // the file to open
    bool practised = false;
    bool missing = false;  // the file is gone; the history keeps it
    double lastAccuracy = 0;
    double bestAccuracy = 0;
    std::string lastDate;  // YYYY-MM-DD
    double minutes = 0;    // all practices of the song
};
std::vector<SongListEntry> SongList(const std::vector<HistoryEntry>& history,
                                    const std::vector<std::string>& folderFiles,
                                    const std::function<bool(const std::string&)>& exists);
// Whether the entry shows for the typed text: its path contains it, ASCII letters in any case.
bool SongMatches(const SongListEntry& entry, const std::string& typed);
// One line of the list: "曲.txt（右手）  最後 80%  最高 100%  2026-12-07  12.5分".
std::string SongListLine(const SongListEntry& entry);

// One song's chart: four rows of eighth blocks, a column per practice (the latest 60), and a
// line of figures for those who do not see the chart.
std::string AccuracyChart(const SongHistory& song);

}  // namespace practice
