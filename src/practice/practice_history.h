// The practice history: one tab-separated line per practice in
// $XDG_DATA_HOME/muruteka/practice.tsv (~/.local/share/muruteka/practice.tsv without it), and
// the texts that show a result beside the player's best before. Plain C++, no Qt.
//
// The columns, in order: ISO 8601 time, the file's absolute path, the mode ("wait", "in-time",
// or "echo" for listen-then-repeat, whose figures are those of wait), tempo, notes in the song,
// notes played or hit, wrong, missed, early, late, median deviation ms, seconds taken; a 13th
// column for a pass of a tempo ramp: the ramp's start tempo, else empty; a 14th with the figures
// of each bar: "LINE:played/wrong/missed/largest deviation ms" apart by blanks. Lines of 12 or 13
// columns read as before. A figure that does not apply (missed, early, late and the median in
// wait mode; the median without a hit) is an empty field.
#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "practice_engine.h"

namespace practice {

struct HistoryEntry {
    std::string time;  // ISO 8601 with the offset from UTC: 2026-12-07T18:04:05+09:00
    std::string file;  // absolute path
    Mode mode = Mode::Wait;
    int tempo = 126;
    // Counts of one practice fit 32 bits; a long history holds many entries.
    std::uint32_t songNotes = 0;
    std::uint32_t played = 0;
    std::uint32_t wrong = 0;
    std::optional<std::uint32_t> missed;  // in time only
    std::optional<std::uint32_t> early;
    std::optional<std::uint32_t> late;
    std::optional<double> medianMs;
    double seconds = 0;
    int rampFrom = 0;              // a pass of a tempo ramp from this tempo; 0: none
    std::vector<BarFigures> bars;  // their notes are not kept (0)
};

// The mode as the result texts name it: "待つ", "テンポどおり", "聴いてまねる".
std::string_view ModeLabel(Mode mode);

// A file as the history names it: absolute, without "." or "..".
std::string HistoryName(const std::string& file);
// The history line of a result; `file` is made absolute, `when` is written in local time.
HistoryEntry EntryOf(const Result& result, const std::string& file, std::time_t when);
// The entry as one line of the file, without the line end.
std::string FormatEntry(const HistoryEntry& entry);
// The entry of one line, or nothing for a line that is damaged (wrong count of fields, a
// figure that is not a number, an unknown mode).
std::optional<HistoryEntry> ParseEntry(const std::string& line);

// The history file's path: $XDG_DATA_HOME/muruteka/practice.tsv, else
// $HOME/.local/share/muruteka/practice.tsv; empty when neither is set.
std::filesystem::path HistoryPath();

struct History {
    std::vector<HistoryEntry> entries;  // in file order
    // One Japanese sentence per damaged line skipped, or for a file that cannot be read.
    std::vector<std::string> notices;
};
// Hands each entry of the history to `take`, oldest first: of the newest 100,000 lines (older
// ones are counted, not read), those that are not damaged. Returns the notices. A missing file
// is an empty history, not a notice.
std::vector<std::string> ForEachHistoryEntry(const std::filesystem::path& path,
                                             const std::function<void(HistoryEntry&&)>& take);
// The whole history at once. Only the newest entry of each file that has bars keeps them (the
// one LastPracticeBars shows); the others' are let go as they are read.
History ReadHistory(const std::filesystem::path& path);

// Appends one entry: the old lines and the new one go to a temporary file beside the history,
// which is then renamed over it, so that a killed program leaves the old history or the new
// one, never half of either. Damaged lines are kept as they were. Returns an empty string when
// written, else a Japanese message that says what went wrong (the practice itself is not
// affected).
std::string AppendHistory(const std::filesystem::path& path, const HistoryEntry& entry);

// The player's best before for the same file, mode and tempo, figure by figure: the most
// played, the fewest wrong / missed / early / late, the median nearest zero, the shortest time.
// Only earlier practices that got through the song at least once count (played + missed
// reaching the song's notes), so that a practice stopped early is not "best" for few wrong notes.
struct Best {
    std::optional<std::uint64_t> played, wrong, missed, early, late;
    std::optional<double> medianMs, seconds;
    bool any() const { return played.has_value(); }
};
Best BestBefore(const std::vector<HistoryEntry>& history, const std::string& file, Mode mode,
                int tempo);

// The highest tempo of the entries that are passes of a tempo ramp played clean: no wrong and,
// in time, no missed note, through the whole passage.
std::optional<int> HighestCleanRampTempo(const std::vector<HistoryEntry>& entries);

// Each bar as a sentence: "3小節目 正確さ 60%", in time with its largest deviation.
std::vector<std::string> BarTexts(const std::vector<BarFigures>& bars, Mode mode);
// The bars of the last practice of `file` (as typed: made absolute) that has them, as lines
// for the terminal; empty when there is none.
std::string LastPracticeBars(const std::vector<HistoryEntry>& history, const std::string& file);

// The result as one line for stdout. Call BestBefore with the history read before this
// practice's line is appended, so that a practice is not compared with itself.
std::string ResultLine(const Result& result, const Best& best, const std::string& file);
// The result as the message box's text: one figure a line, each beside the best before, then
// the places to practise again as FILE:LINE:COLUMN.
std::string ResultMessage(const Result& result, const Best& best, const std::string& file);
// "ドH, レI" style list of the notes no key plays, as one sentence, or empty when there are none.
std::string UnplayableMessage(const Song& song);
// The places as FILE:LINE:COLUMN lines (at most three).
std::vector<std::string> PlaceTexts(const Result& result, const std::string& file);

// For the history chart: a practice's accuracy in percent: played / (played + wrong + missed).
double Accuracy(const HistoryEntry& entry);

}  // namespace practice
