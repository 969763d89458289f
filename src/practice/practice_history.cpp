#include "practice_history.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unordered_map>

#include "write_failure.h"

namespace practice {
namespace {

constexpr std::size_t Columns = 12;
// A line longer than this is no line of ours: it is skipped unread, so that a damaged file
// cannot fill the memory.
constexpr std::size_t MaxLine = 64 * 1024;
constexpr std::size_t MaxEntries = 100000;  // the newest are kept
constexpr std::size_t NamedDamagedLines = 3;

std::string Decimal(double value) {
    char buffer[64];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    if (error != std::errc()) return "0.0";
    std::string text(buffer, end);
    if (text == "-0.0") text = "0.0";
    return text;
}

// A path may hold any byte but NUL: tabs and line ends are written as \t, \n and \r, and the
// backslash as \\, so that one practice stays one line of 12 fields.
std::string Escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::optional<std::string> Unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return {};
        switch (text[i]) {
            case '\\':
                out += '\\';
                break;
            case 't':
                out += '\t';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return {};
        }
    }
    return out;
}

template <class T>
bool ParseNumber(std::string_view text, T& value) {
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

template <class T>
bool ParseOptional(std::string_view text, std::optional<T>& value) {
    if (text.empty()) return true;
    T number{};
    if (!ParseNumber(text, number)) return false;
    value = number;
    return true;
}

std::string Optional(const std::optional<std::uint64_t>& value) {
    return value ? std::to_string(*value) : std::string();
}

std::string CannotSave(const std::filesystem::path& path, int error) {
    return "練習の記録を「" + path.string() + "」に保存できません。" +
           performance::WriteFailureReason(error) + "練習の結果はこの画面にだけ表示されます。";
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// "1:4/0/0/12.5 2:3/2/1/40.0"
bool ParseBars(std::string_view text, std::vector<BarFigures>& bars) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view item = text.substr(start, end - start);
        start = end + 1;
        const std::size_t colon = item.find(':');
        std::string_view parts[4];
        std::size_t count = 0;
        for (std::size_t at = colon + 1; colon != std::string_view::npos && count < 5;) {
            const std::size_t slash = item.find('/', at);
            if (count < 4) parts[count] = item.substr(at, slash - at);
            ++count;
            if (slash == std::string_view::npos) break;
            at = slash + 1;
        }
        BarFigures bar;
        if (count != 4 || !ParseNumber(item.substr(0, colon), bar.line) ||
            !ParseNumber(parts[0], bar.played) || !ParseNumber(parts[1], bar.wrong) ||
            !ParseNumber(parts[2], bar.missed) || !ParseNumber(parts[3], bar.largestDeviationMs) ||
            !std::isfinite(bar.largestDeviationMs))
            return false;
        bars.push_back(bar);
    }
    return !bars.empty();
}

std::string ModeField(Mode mode) {
    return mode == Mode::InTime ? "in-time" : mode == Mode::Echo ? "echo" : "wait";
}

}  // namespace

std::string HistoryName(const std::string& file) {
    std::error_code error;
    const auto absolute = std::filesystem::absolute(file, error);
    return error ? file : absolute.lexically_normal().string();
}

std::string_view ModeLabel(Mode mode) {
    return mode == Mode::InTime ? "テンポどおり" : mode == Mode::Echo ? "聴いてまねる" : "待つ";
}

HistoryEntry EntryOf(const Result& result, const std::string& file, std::time_t when) {
    HistoryEntry entry;
    std::tm local{};
    localtime_r(&when, &local);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S%z", &local);
    entry.time = buffer;
    // ISO 8601 writes the offset from UTC as +09:00.
    if (entry.time.size() >= 5) entry.time.insert(entry.time.size() - 2, ":");
    entry.file = HistoryName(file);
    entry.mode = result.mode;
    entry.tempo = result.tempo;
    auto count = [](std::uint64_t n) {
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(n, UINT32_MAX));
    };
    entry.songNotes = count(result.songNotes);
    entry.played = count(result.played);
    entry.wrong = count(result.wrong);
    if (result.mode == Mode::InTime) {
        entry.missed = count(result.missed);
        entry.early = count(result.early);
        entry.late = count(result.late);
        entry.medianMs = result.medianMs;
    }
    entry.seconds = result.seconds;
    entry.rampFrom = result.rampFrom;
    entry.bars = result.bars;
    return entry;
}

std::string FormatEntry(const HistoryEntry& e) {
    const std::string fields[Columns] = {e.time,
                                         Escape(e.file),
                                         ModeField(e.mode),
                                         std::to_string(e.tempo),
                                         std::to_string(e.songNotes),
                                         std::to_string(e.played),
                                         std::to_string(e.wrong),
                                         Optional(e.missed),
                                         Optional(e.early),
                                         Optional(e.late),
                                         e.medianMs ? Decimal(*e.medianMs) : std::string(),
                                         Decimal(e.seconds)};
    std::string line;
    for (std::size_t i = 0; i < Columns; ++i) {
        if (i > 0) line += '\t';
        line += fields[i];
    }
    if (e.rampFrom > 0 || !e.bars.empty()) {
        line += '\t' + (e.rampFrom > 0 ? std::to_string(e.rampFrom) : std::string());
    }
    if (!e.bars.empty()) {
        line += '\t';
        for (const BarFigures& bar : e.bars) {
            if (line.back() != '\t') line += ' ';
            line += std::to_string(bar.line) + ':' + std::to_string(bar.played) + '/' +
                    std::to_string(bar.wrong) + '/' + std::to_string(bar.missed) + '/' +
                    Decimal(bar.largestDeviationMs);
        }
    }
    return line;
}

std::optional<HistoryEntry> ParseEntry(const std::string& line) {
    std::string_view text = line;
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t tab = text.find('\t', start);
        fields.push_back(text.substr(start, tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    if (fields.size() < Columns || fields.size() > Columns + 2) return {};
    HistoryEntry e;
    e.time = fields[0];
    if (e.time.size() < 19 || e.time[4] != '-' || e.time[10] != 'T') return {};
    const auto file = Unescape(fields[1]);
    if (!file || file->empty()) return {};
    e.file = *file;
    if (fields[2] == "wait") {
        e.mode = Mode::Wait;
    } else if (fields[2] == "in-time") {
        e.mode = Mode::InTime;
    } else if (fields[2] == "echo") {
        e.mode = Mode::Echo;
    } else {
        return {};
    }
    double median = 0;
    const bool ok = ParseNumber(fields[3], e.tempo) && e.tempo >= 1 && e.tempo <= 999 &&
                    ParseNumber(fields[4], e.songNotes) && ParseNumber(fields[5], e.played) &&
                    ParseNumber(fields[6], e.wrong) && ParseOptional(fields[7], e.missed) &&
                    ParseOptional(fields[8], e.early) && ParseOptional(fields[9], e.late) &&
                    (fields[10].empty() || ParseNumber(fields[10], median)) &&
                    ParseNumber(fields[11], e.seconds) && std::isfinite(e.seconds) &&
                    e.seconds >= 0 && std::isfinite(median);
    if (!ok) return {};
    if (fields.size() > Columns && !(fields[Columns].empty() && fields.size() > Columns + 1) &&
        !(ParseNumber(fields[Columns], e.rampFrom) && e.rampFrom >= 1 && e.rampFrom <= 999))
        return {};
    if (fields.size() > Columns + 1 && !ParseBars(fields[Columns + 1], e.bars)) return {};
    if (!fields[10].empty()) e.medianMs = median;
    return e;
}

std::filesystem::path HistoryPath() {
    const char* data = std::getenv("XDG_DATA_HOME");
    // A relative XDG_DATA_HOME is to be ignored, as the base directory rules say.
    if (data != nullptr && data[0] == '/') {
        return std::filesystem::path(data) / "muruteka" / "practice.tsv";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return std::filesystem::path(home) / ".local" / "share" / "muruteka" / "practice.tsv";
    }
    return {};
}

std::vector<std::string> ForEachHistoryEntry(const std::filesystem::path& path,
                                             const std::function<void(HistoryEntry&&)>& take) {
    std::vector<std::string> notices;
    std::error_code error;
    if (path.empty() || !std::filesystem::exists(path, error)) return notices;
    if (!std::filesystem::is_regular_file(path, error)) {
        notices.push_back("練習の記録「" + path.string() +
                          "」は通常のﾌｧｲﾙではないため、読めません。");
        return notices;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        notices.push_back("練習の記録「" + path.string() + "」を読めません。" +
                          performance::WriteFailureReason(errno));
        return notices;
    }
    // The lines are counted first, so that only the newest MaxEntries are parsed and nothing
    // older is ever held.
    std::vector<char> buffer(64 * 1024);
    std::uint64_t lines = 0;
    char last = '\n';
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
        const auto n = static_cast<std::size_t>(in.gcount());
        lines += static_cast<std::uint64_t>(std::count(buffer.data(), buffer.data() + n, '\n'));
        last = buffer[n - 1];
    }
    if (last != '\n') ++lines;
    const std::uint64_t skip = lines > MaxEntries ? lines - MaxEntries : 0;
    in.clear();
    in.seekg(0);

    std::uint64_t number = 0;
    std::uint64_t damaged = 0;
    std::string line;
    bool tooLong = false;
    auto endLine = [&] {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (number > skip && (!line.empty() || tooLong)) {
            auto entry = tooLong ? std::nullopt : ParseEntry(line);
            if (entry) {
                take(std::move(*entry));
            } else if (++damaged <= NamedDamagedLines) {
                notices.push_back("練習の記録「" + path.string() + "」の" + std::to_string(number) +
                                  "行目は壊れているため、読み飛ばしました。");
            }
        }
        line.clear();
        tooLong = false;
    };
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
        const char* c = buffer.data();
        const char* const end = c + in.gcount();
        while (c < end) {
            const char* const newline = std::find(c, end, '\n');
            const auto length = static_cast<std::size_t>(newline - c);
            if (line.size() + length <= MaxLine) {
                line.append(c, length);
            } else {
                line.append(c, MaxLine - line.size());
                tooLong = true;
            }
            if (newline == end) break;
            endLine();
            c = newline + 1;
        }
    }
    if (!line.empty() || tooLong) endLine();
    if (damaged > NamedDamagedLines) {
        notices.push_back("ほかにも" + std::to_string(damaged - NamedDamagedLines) +
                          "行が壊れているため、読み飛ばしました。");
    }
    return notices;
}

History ReadHistory(const std::filesystem::path& path) {
    History history;
    // Only the newest practice of each file keeps its bars: no one shows older ones.
    std::unordered_map<std::string, std::size_t> withBars;
    history.notices = ForEachHistoryEntry(path, [&](HistoryEntry&& entry) {
        if (!entry.bars.empty()) {
            const auto [at, added] = withBars.try_emplace(entry.file, history.entries.size());
            if (!added) {
                std::vector<BarFigures>().swap(history.entries[at->second].bars);
                at->second = history.entries.size();
            }
        }
        history.entries.push_back(std::move(entry));
    });
    return history;
}

std::string AppendHistory(const std::filesystem::path& given, const HistoryEntry& entry) {
    if (given.empty()) {
        return "練習の記録を保存する場所がわかりません（HOMEもXDG_DATA_HOMEもありません）。";
    }
    std::error_code error;
    // A history that is a link is written where the link points.
    std::filesystem::path path = given;
    if (std::filesystem::is_symlink(path, error)) {
        const auto target = std::filesystem::canonical(path, error);
        if (!error) path = target;
    }
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) return CannotSave(path, error.value());
    struct stat old {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        return "練習の記録「" + path.string() + "」は通常のﾌｧｲﾙではないため、保存できません。";
    }
    std::string temporary = path.string() + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return CannotSave(path, errno);
    int failure = 0;
    if (::fchmod(fd, exists ? (old.st_mode & 07777) : 0644) != 0) failure = errno;
    bool endsWithNewline = true;
    if (exists && failure == 0) {
        const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) failure = errno;
        char buffer[64 * 1024];
        while (in >= 0 && failure == 0) {
            const ssize_t n = ::read(in, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) failure = errno;
            if (n <= 0) break;
            if (!WriteAll(fd, buffer, static_cast<std::size_t>(n))) failure = errno;
            endsWithNewline = buffer[n - 1] == '\n';
        }
        if (in >= 0) ::close(in);
    }
    const std::string line = (endsWithNewline ? "" : "\n") + FormatEntry(entry) + "\n";
    if (failure == 0 && !WriteAll(fd, line.data(), line.size())) failure = errno;
    if (failure == 0 && ::fsync(fd) != 0) failure = errno;
    if (::close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) failure = errno;
    if (failure != 0) {
        ::unlink(temporary.c_str());
        return CannotSave(path, failure);
    }
    return {};
}

Best BestBefore(const std::vector<HistoryEntry>& history, const std::string& file, Mode mode,
                int tempo) {
    Best best;
    auto most = [](auto& slot, auto value) {
        if (!slot || value > *slot) slot = value;
    };
    auto fewest = [](auto& slot, auto value) {
        if (!slot || value < *slot) slot = value;
    };
    const std::string name = HistoryName(file);
    for (const HistoryEntry& e : history) {
        if (e.file != name || e.mode != mode || e.tempo != tempo) continue;
        if (e.songNotes == 0 || e.played + e.missed.value_or(0) < e.songNotes) continue;
        most(best.played, e.played);
        fewest(best.wrong, e.wrong);
        if (e.missed) fewest(best.missed, *e.missed);
        if (e.early) fewest(best.early, *e.early);
        if (e.late) fewest(best.late, *e.late);
        if (e.medianMs && (!best.medianMs || std::abs(*e.medianMs) < std::abs(*best.medianMs)))
            best.medianMs = e.medianMs;
        fewest(best.seconds, e.seconds);
    }
    return best;
}

namespace {

std::string Ms(double value) {
    return (value > 0 ? "+" : "") + Decimal(value) + "ms";
}

struct Figure {
    std::string name;
    std::string value;
    std::string best;  // empty: no best before
};

std::vector<Figure> Figures(const Result& r, const Best& b) {
    auto count = [](const std::optional<std::uint64_t>& v) {
        return v ? std::to_string(*v) : std::string();
    };
    std::vector<Figure> figures;
    const std::string notes = "（曲は" + std::to_string(r.songNotes) + "音）";
    if (r.mode != Mode::InTime) {
        figures.push_back({"弾いた音", std::to_string(r.played) + notes, count(b.played)});
        figures.push_back({"間違えた音", std::to_string(r.wrong), count(b.wrong)});
    } else {
        figures.push_back({"当たり", std::to_string(r.played) + notes, count(b.played)});
        figures.push_back({"早め", std::to_string(r.early), count(b.early)});
        figures.push_back({"遅め", std::to_string(r.late), count(b.late)});
        figures.push_back({"弾かなかった音", std::to_string(r.missed), count(b.missed)});
        figures.push_back({"間違えた音", std::to_string(r.wrong), count(b.wrong)});
        figures.push_back({"ずれの中央値", r.medianMs ? Ms(*r.medianMs) : "なし",
                           b.medianMs ? Ms(*b.medianMs) : ""});
        figures.push_back(
            {"ずれのばらつき", r.spreadMs ? Decimal(*r.spreadMs) + "ms" : "なし", ""});
    }
    figures.push_back(
        {"かかった時間", Decimal(r.seconds) + "秒", b.seconds ? Decimal(*b.seconds) + "秒" : ""});
    if (r.rampFrom > 0) {
        figures.push_back({"ミスなしの最高テンポ",
                           r.highestCleanTempo ? std::to_string(*r.highestCleanTempo) : "なし",
                           ""});
    }
    return figures;
}

std::string Heading(const Result& r) {
    std::string text = std::string(ModeLabel(r.mode)) + "・テンポ" + std::to_string(r.tempo);
    if (r.rampFrom > 0) text += "・テンポ" + std::to_string(r.rampFrom) + "から上げる";
    if (r.passes > 1) text += "・" + std::to_string(r.passes) + "回通し";
    if (!r.completed) text += "・途中で終了";
    return text;
}

}  // namespace

std::vector<std::string> PlaceTexts(const Result& result, const std::string& file) {
    std::vector<std::string> places;
    for (const Place& p : result.places) {
        std::string text = file + ":" + std::to_string(p.line) + ":" + std::to_string(p.column);
        if (result.mode != Mode::InTime) {
            text += "（間違い" + std::to_string(p.wrong) + "）";
        } else if (p.missed > 0) {
            text += "（弾かなかった音" + std::to_string(p.missed) + "）";
        } else {
            text += "（ずれ" + Decimal(p.largestDeviationMs) + "ms）";
        }
        places.push_back(text);
    }
    return places;
}

std::string ResultLine(const Result& result, const Best& best, const std::string& file) {
    std::string line = "練習の結果 " + file + "（" + Heading(result) + "）:";
    bool first = true;
    for (const Figure& f : Figures(result, best)) {
        line += (first ? " " : "、") + f.name + " " + f.value;
        if (!f.best.empty()) line += "［自己ベスト " + f.best + "］";
        first = false;
    }
    const auto places = PlaceTexts(result, file);
    if (!places.empty()) {
        line += "、練習し直す所";
        for (const auto& p : places) line += " " + p;
    }
    return line;
}

std::string ResultMessage(const Result& result, const Best& best, const std::string& file) {
    std::string text = "練習の結果（" + Heading(result) + "）\n\n";
    for (const Figure& f : Figures(result, best)) {
        text += f.name + ": " + f.value;
        if (!f.best.empty()) text += "\u3000自己ベスト: " + f.best;
        text += "\n";
    }
    const auto places = PlaceTexts(result, file);
    if (!places.empty()) {
        text += "\n練習し直すとよい所:\n";
        for (const auto& p : places) text += p + "\n";
    }
    // The bars to work on (the map's yellow and red ones); the whole list is the map's and
    // --practice-history's.
    std::vector<BarFigures> faulty;
    for (const BarFigures& bar : result.bars) {
        const BarGrade grade = GradeOf(bar, result.mode);
        if (grade == BarGrade::Fair || grade == BarGrade::Poor) faulty.push_back(bar);
    }
    if (!faulty.empty()) {
        text += "\n小節ごと:\n";
        for (const auto& line : BarTexts(faulty, result.mode)) text += line + "\n";
    }
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

std::string UnplayableMessage(const Song& song) {
    const std::string names = UnplayableNames(song);
    if (names.empty()) return {};
    return "この鍵盤にない音があります: " + names + "。その音は飛ばして進みます。";
}

std::optional<int> HighestCleanRampTempo(const std::vector<HistoryEntry>& entries) {
    std::optional<int> highest;
    for (const HistoryEntry& e : entries) {
        const bool clean = e.rampFrom > 0 && e.wrong == 0 && e.missed.value_or(0) == 0 &&
                           e.songNotes > 0 && e.played == e.songNotes;
        if (clean) highest = std::max(highest.value_or(0), e.tempo);
    }
    return highest;
}

std::vector<std::string> BarTexts(const std::vector<BarFigures>& bars, Mode mode) {
    std::vector<std::string> texts;
    for (const BarFigures& bar : bars) {
        std::string text = std::to_string(bar.line) + "小節目 ";
        if (const auto accuracy = BarAccuracy(bar)) {
            text += "正確さ " + std::to_string(std::lround(*accuracy)) + "%";
            if (mode == Mode::InTime && bar.largestDeviationMs > 0)
                text += "、ずれ最大 " + Decimal(bar.largestDeviationMs) + "ms";
        } else {
            text += "まだ弾いていません";
        }
        texts.push_back(text);
    }
    return texts;
}

std::string LastPracticeBars(const std::vector<HistoryEntry>& history, const std::string& file) {
    const std::string name = HistoryName(file);
    for (auto e = history.rbegin(); e != history.rend(); ++e) {
        if (e->file != name || e->bars.empty()) continue;
        std::string text = "最後の練習（" + e->time + "、" + std::string(ModeLabel(e->mode)) +
                           "・テンポ" + std::to_string(e->tempo) + "）の小節ごと:\n";
        for (const auto& line : BarTexts(e->bars, e->mode)) text += "  " + line + "\n";
        return text;
    }
    return {};
}

double Accuracy(const HistoryEntry& e) {
    const double all = static_cast<double>(e.played + e.wrong + e.missed.value_or(0));
    return all > 0 ? 100.0 * static_cast<double>(e.played) / all : 0.0;
}

}  // namespace practice
