#include "history_report.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <ctime>
#include <filesystem>

namespace practice {
namespace {

constexpr std::size_t ChartColumns = 60;
constexpr int ChartRows = 4;

// Columns a terminal gives the text: two for the wide (kana, kanji, full-width) characters.
std::size_t Width(const std::string& text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        char32_t c = byte;
        int length = 1;
        if (byte >= 0xF0) {
            c = byte & 0x07;
            length = 4;
        } else if (byte >= 0xE0) {
            c = byte & 0x0F;
            length = 3;
        } else if (byte >= 0xC0) {
            c = byte & 0x1F;
            length = 2;
        }
        for (int k = 1; k < length && i + static_cast<std::size_t>(k) < text.size(); ++k)
            c = (c << 6) |
                (static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) & 0x3F);
        i += static_cast<std::size_t>(length);
        const bool narrow =
            c < 0x1100 || (c >= 0x2500 && c < 0x2600) || (c >= 0xFF61 && c <= 0xFF9F);
        width += narrow ? 1 : 2;
    }
    return width;
}

std::string Pad(const std::string& text, std::size_t width, bool right = false) {
    const std::size_t have = Width(text);
    const std::string blanks(have < width ? width - have : 0, ' ');
    return right ? blanks + text : text + blanks;
}

std::string Fixed(double value) {
    char buffer[64];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    return error == std::errc() ? std::string(buffer, end) : std::string("?");
}

std::string Count(const std::optional<std::uint64_t>& value) {
    return value ? std::to_string(*value) : std::string("-");
}

std::string Percent(double value) {
    return std::to_string(static_cast<int>(std::lround(value))) + "%";
}

int Digits(const std::string& text, std::size_t at, std::size_t count, bool& ok) {
    int value = 0;
    if (at + count > text.size()) {
        ok = false;
        return 0;
    }
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + at + count, value);
    if (error != std::errc() || end != text.data() + at + count) ok = false;
    return value;
}

}  // namespace

void AddToGroup(std::vector<SongHistory>& songs, HistoryEntry&& entry) {
    auto group = std::find_if(songs.rbegin(), songs.rend(), [&](const SongHistory& s) {
        return s.mode == entry.mode && s.file == entry.file;
    });
    if (group == songs.rend()) {
        songs.push_back({std::move(entry.file), entry.mode, {}});
        group = songs.rbegin();
    }
    // The group holds the name; the table and the charts show no bars.
    std::string().swap(entry.file);
    std::vector<BarFigures>().swap(entry.bars);
    group->entries.push_back(std::move(entry));
}

std::optional<std::int64_t> EntrySeconds(const HistoryEntry& entry) {
    // 2026-12-07T18:04:05+09:00 (or Z)
    const std::string& t = entry.time;
    bool ok = t.size() >= 20 && t[4] == '-' && t[7] == '-' && t[10] == 'T' && t[13] == ':' &&
              t[16] == ':';
    if (!ok) return {};
    std::tm tm{};
    tm.tm_year = Digits(t, 0, 4, ok) - 1900;
    tm.tm_mon = Digits(t, 5, 2, ok) - 1;
    tm.tm_mday = Digits(t, 8, 2, ok);
    tm.tm_hour = Digits(t, 11, 2, ok);
    tm.tm_min = Digits(t, 14, 2, ok);
    tm.tm_sec = Digits(t, 17, 2, ok);
    int offset = 0;
    if (t[19] == '+' || t[19] == '-') {
        ok = ok && t.size() == 25 && t[22] == ':';
        offset = (Digits(t, 20, 2, ok) * 60 + Digits(t, 23, 2, ok)) * 60;
        if (t[19] == '-') offset = -offset;
    } else {
        ok = ok && t.size() == 20 && t[19] == 'Z';
    }
    if (!ok) return {};
    return static_cast<std::int64_t>(timegm(&tm)) - offset;
}

std::string AccuracyChart(const SongHistory& song) {
    static const char* const Eighths[] = {" ", "▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};
    const std::size_t first =
        song.entries.size() > ChartColumns ? song.entries.size() - ChartColumns : 0;
    std::vector<int> levels;  // in eighths of a row, 0..ChartRows * 8
    double best = 0;
    for (std::size_t i = first; i < song.entries.size(); ++i) {
        const double accuracy = Accuracy(song.entries[i]);
        best = std::max(best, accuracy);
        levels.push_back(static_cast<int>(std::lround(accuracy / 100.0 * ChartRows * 8)));
    }
    std::string chart;
    for (int row = ChartRows - 1; row >= 0; --row) {
        const int percent = (row + 1) * 100 / ChartRows;
        chart += Pad(std::to_string(percent) + "%", 6, true) + " │";
        for (const int level : levels) chart += Eighths[std::clamp(level - row * 8, 0, 8)];
        chart += "\n";
    }
    chart += "       └";
    for (std::size_t i = 0; i < levels.size(); ++i) chart += "─";
    chart += "\n";
    if (!levels.empty()) {
        const HistoryEntry& oldest = song.entries[first];
        const HistoryEntry& latest = song.entries.back();
        chart += "        " + oldest.time.substr(0, 10) + " から " + latest.time.substr(0, 10) +
                 " まで" + std::to_string(song.entries.size() - first) + "回: 正確さ " +
                 Percent(Accuracy(oldest)) + " → " + Percent(Accuracy(latest)) + "（最高 " +
                 Percent(best) + "）\n";
    }
    return chart;
}

std::vector<SongListEntry> SongList(const std::vector<HistoryEntry>& history,
                                    const std::vector<std::string>& folderFiles,
                                    const std::function<bool(const std::string&)>& exists) {
    std::vector<SongListEntry> songs;
    std::vector<std::int64_t> newest;
    for (const HistoryEntry& e : history) {
        auto it = std::find_if(songs.begin(), songs.end(),
                               [&e](const SongListEntry& s) { return s.song == e.file; });
        if (it == songs.end()) {
            SongListEntry entry;
            entry.song = entry.path = e.file;
            // A part, a hand or the melody of a file is named after it: "（右手）".
            const std::size_t open = e.file.rfind("（");
            if (!exists(e.file) && open != std::string::npos && e.file.ends_with("）"))
                entry.path = e.file.substr(0, open);
            entry.practised = true;
            entry.missing = !exists(entry.path);
            songs.push_back(entry);
            newest.push_back(0);
            it = songs.end() - 1;
        }
        const double accuracy = Accuracy(e);
        it->lastAccuracy = accuracy;
        it->bestAccuracy = std::max(it->bestAccuracy, accuracy);
        it->lastDate = e.time.substr(0, 10);
        it->minutes += e.seconds / 60;
        newest[static_cast<std::size_t>(it - songs.begin())] = EntrySeconds(e).value_or(0);
    }
    std::vector<std::size_t> order(songs.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&newest](std::size_t a, std::size_t b) { return newest[a] > newest[b]; });
    std::vector<SongListEntry> list;
    for (const std::size_t i : order) list.push_back(songs[i]);
    std::vector<std::string> files = folderFiles;
    std::sort(files.begin(), files.end());
    for (const std::string& file : files) {
        if (std::none_of(songs.begin(), songs.end(),
                         [&file](const SongListEntry& s) { return s.path == file; })) {
            SongListEntry entry;
            entry.song = entry.path = file;
            list.push_back(entry);
        }
    }
    return list;
}

bool SongMatches(const SongListEntry& entry, const std::string& typed) {
    auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    return lower(entry.song).find(lower(typed)) != std::string::npos;
}

std::string SongListLine(const SongListEntry& entry) {
    const std::size_t slash = entry.song.rfind('/');
    std::string line = slash == std::string::npos ? entry.song : entry.song.substr(slash + 1);
    if (entry.practised) {
        line += "  最後 " + Percent(entry.lastAccuracy) + "  最高 " + Percent(entry.bestAccuracy) +
                "  " + entry.lastDate + "  " + Fixed(entry.minutes) + "分";
    }
    if (entry.missing) line += "  （ﾌｧｲﾙがありません）";
    return line;
}

std::vector<DayMinutes> MinutesPerDay(const std::vector<SongHistory>& songs, std::time_t now) {
    constexpr int Days = 14;
    std::tm today{};
    localtime_r(&now, &today);
    today.tm_hour = 12;  // noon: a day back is a date back, whatever the offset
    const std::time_t noon = timegm(&today);
    std::vector<DayMinutes> days;
    for (int k = Days - 1; k >= 0; --k) {
        const std::time_t day = noon - static_cast<std::time_t>(k) * 86400;
        std::tm tm{};
        gmtime_r(&day, &tm);
        char buffer[16];
        std::strftime(buffer, sizeof buffer, "%Y-%m-%d", &tm);
        days.push_back({buffer, 0.0});
    }
    for (const SongHistory& song : songs) {
        for (const HistoryEntry& e : song.entries) {
            const auto at = std::find_if(days.begin(), days.end(), [&](const DayMinutes& d) {
                return e.time.compare(0, 10, d.date) == 0;
            });
            if (at != days.end()) at->minutes += e.seconds / 60;
        }
    }
    return days;
}

std::string PracticeDays(const std::vector<DayMinutes>& days) {
    constexpr int BarCells = 24;
    static const char* const Eighths[] = {"", "▏", "▎", "▍", "▌", "▋", "▊", "▉"};
    double most = 0, total = 0;
    int daysPractised = 0;
    for (const DayMinutes& d : days) most = std::max(most, d.minutes);
    std::string text = "練習した時間（この14日間、1日あたりの分）\n";
    for (const DayMinutes& d : days) {
        total += d.minutes;
        daysPractised += d.minutes > 0 ? 1 : 0;
        const long eighths = most > 0 ? std::lround(d.minutes / most * BarCells * 8) : 0;
        std::string bar;
        for (long i = 0; i < eighths / 8; ++i) bar += "█";
        bar += Eighths[eighths % 8];
        text +=
            "  " + d.date.substr(5) + " │" + Pad(bar, BarCells) + " " + Fixed(d.minutes) + "分\n";
    }
    text += "  合計 " + Fixed(total) + "分、練習した日 " + std::to_string(daysPractised) + "日\n";
    return text;
}

void HistoryReport(const std::vector<SongHistory>& songs, std::ostream& out) {
    for (const SongHistory& song : songs) {
        std::string text = &song == &songs.front() ? std::string() : "\n";
        text += song.file + "（" + std::string(ModeLabel(song.mode)) + "）\n";
        const bool inTime = song.mode == Mode::InTime;
        const std::vector<std::pair<std::string, std::size_t>> heads = {
            {"日時", 25},    {"テンポ", 6}, {"音数", 6},  {inTime ? "当たり" : "弾いた", 6},
            {"間違い", 6},   {"外れ", 6},   {"早め", 6},  {"遅め", 6},
            {"中央値ms", 8}, {"秒", 8},     {"正確さ", 6}};
        std::string line = " ";
        for (std::size_t i = 0; i < heads.size(); ++i)
            line += " " + Pad(heads[i].first, heads[i].second, i > 0);
        text += line + "\n";
        for (const HistoryEntry& e : song.entries) {
            const std::string cells[] = {e.time,
                                         std::to_string(e.tempo),
                                         std::to_string(e.songNotes),
                                         std::to_string(e.played),
                                         std::to_string(e.wrong),
                                         Count(e.missed),
                                         Count(e.early),
                                         Count(e.late),
                                         e.medianMs ? Fixed(*e.medianMs) : "-",
                                         Fixed(e.seconds),
                                         Percent(Accuracy(e))};
            line = " ";
            for (std::size_t i = 0; i < heads.size(); ++i)
                line += " " + Pad(cells[i], heads[i].second, i > 0);
            text += line + "\n";
        }
        text += AccuracyChart(song);
        if (const auto highest = HighestCleanRampTempo(song.entries)) {
            text += "        テンポ上げ: ミスなしの最高テンポ " + std::to_string(*highest) + "\n";
        }
        out << text;
    }
}

}  // namespace practice
