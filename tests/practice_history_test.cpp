#include "practice_history.h"

#include <gtest/gtest.h>

#include <QImage>
#include <array>
#include <fstream>
#include <sstream>

#include "history_chart.h"
#include "history_report.h"
#include "temp_file.h"

using namespace practice;

namespace {

std::vector<SongHistory> Grouped(std::vector<HistoryEntry> history) {
    std::vector<SongHistory> songs;
    for (HistoryEntry& entry : history) AddToGroup(songs, std::move(entry));
    return songs;
}

std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

const std::string InTimeLine =
    "2026-12-07T18:04:05+09:00\t/songs/a.txt\tin-time\t126\t48\t40\t3\t8\t12\t28\t-12.5\t61.0";
const std::string WaitLine =
    "2026-12-07T18:10:00+09:00\t/songs/a.txt\twait\t84\t48\t48\t2\t\t\t\t\t58.3";

TEST(PracticeHistory, TwelveColumnsWithEmptyFieldsWhereAFigureDoesNotApply) {
    Result r;
    r.mode = Mode::InTime;
    r.songNotes = 48;
    r.played = 40;
    r.wrong = 3;
    r.missed = 8;
    r.early = 12;
    r.late = 28;
    r.medianMs = -12.5;
    r.seconds = 61.04;
    setenv("TZ", "JST-9", 1);
    tzset();
    HistoryEntry e = EntryOf(r, "/songs/./a.txt", 1796634245);  // 2026-12-07 09:04:05 UTC
    EXPECT_EQ(FormatEntry(e), InTimeLine);
    r.mode = Mode::Wait;
    r.tempo = 84;
    r.played = 48;
    r.wrong = 2;
    r.seconds = 58.26;
    e = EntryOf(r, "/songs/a.txt", 1796634600);
    EXPECT_EQ(FormatEntry(e), WaitLine);
    // Listen-then-repeat has a mode word of its own and the figures of wait.
    r.mode = Mode::Echo;
    const std::string echoLine = FormatEntry(EntryOf(r, "/songs/a.txt", 1796634600));
    EXPECT_EQ(echoLine,
              "2026-12-07T18:10:00+09:00\t/songs/a.txt\techo\t84\t48\t48\t2\t\t\t\t\t58.3");
    EXPECT_EQ(ParseEntry(echoLine)->mode, Mode::Echo);
    // A tab or a line end in the path does not break the line.
    e.file = "/a\tb\nc\\d";
    const auto back = ParseEntry(FormatEntry(e));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->file, e.file);
    EXPECT_FALSE(back->missed);
    EXPECT_DOUBLE_EQ(back->seconds, 58.3);
}

TEST(PracticeHistory, DamagedLinesAreSkippedWithANotice) {
    testing_support::TempFolder folder;
    const std::string path =
        folder.write("practice.tsv",
                     InTimeLine + "\n" + "2026-12-07T18:04:05+09:00\t/a\twait\t126\t48\t40\t3\n" +
                         InTimeLine.substr(0, InTimeLine.size() - 4) + "x1.0\n" + "\n" +
                         std::string(100000, 'z') + "\n" + WaitLine + "\r\n" +
                         "2026-12-07T18:04:05+09:00\t/a\tfast\t126\t48\t40\t3\t\t\t\t\t1.0",
                     false);
    const History h = ReadHistory(path);
    ASSERT_EQ(h.entries.size(), 2u);
    EXPECT_EQ(h.entries[1].tempo, 84);
    ASSERT_EQ(h.notices.size(), 4u);
    EXPECT_NE(h.notices[0].find("の2行目は壊れているため"), std::string::npos) << h.notices[0];
    EXPECT_NE(h.notices[1].find("の3行目は"), std::string::npos) << h.notices[1];
    EXPECT_NE(h.notices[2].find("の5行目は"), std::string::npos) << h.notices[2];
    EXPECT_NE(h.notices[3].find("ほかにも1行"), std::string::npos) << h.notices[3];
}

TEST(PracticeHistory, OnlyEachFilesNewestPracticeKeepsItsBars) {
    testing_support::TempFolder folder;
    const std::string b = "\t\t1:4/0/0/0.0";
    const std::string other =
        "2026-12-07T18:20:00+09:00\t/songs/b.txt\twait\t84\t4\t4\t0\t\t\t\t\t9.0";
    const History h = ReadHistory(folder.write(
        "practice.tsv", WaitLine + b + "\n" + other + b + "\n" + WaitLine + b + "\n" + WaitLine,
        false));
    std::string kept;
    for (const HistoryEntry& e : h.entries) kept += e.bars.empty() ? '-' : 'B';
    EXPECT_EQ(kept, "-BB-");
    EXPECT_NE(LastPracticeBars(h.entries, "/songs/a.txt").find("1小節目 正確さ 100%"),
              std::string::npos);
}

TEST(PracticeHistory, AppendKeepsEveryOldByteAndRefusesClearly) {
    testing_support::TempFolder folder;
    const auto path = folder.path() / "new" / "muruteka" / "practice.tsv";
    const HistoryEntry entry = *ParseEntry(WaitLine);
    EXPECT_EQ(AppendHistory(path, entry), "");
    EXPECT_EQ(Slurp(path), WaitLine + "\n");
    // An old last line without its line end (a damaged file) stays as it was.
    std::ofstream(path, std::ios::binary) << "old\tdamaged";
    EXPECT_EQ(AppendHistory(path, entry), "");
    EXPECT_EQ(Slurp(path), "old\tdamaged\n" + WaitLine + "\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path.parent_path()), {}), 1);
    // A data folder that cannot be made: a file stands where the folder should be.
    const auto blocked = folder.path() / "practice.tsv" / "muruteka" / "practice.tsv";
    folder.write("practice.tsv", "");
    const std::string message = AppendHistory(blocked, entry);
    EXPECT_NE(message.find("保存できません。"), std::string::npos) << message;
}

TEST(PracticeHistory, BestBeforeCountsOnlyWholeSongsOfTheSameFileModeAndTempo) {
    std::vector<HistoryEntry> history;
    for (const std::string line :
         {"2026-01-01T00:00:00+09:00\t/a\twait\t84\t48\t48\t5\t\t\t\t\t70.0",
          "2026-01-02T00:00:00+09:00\t/a\twait\t84\t48\t48\t2\t\t\t\t\t90.0",
          "2026-01-03T00:00:00+09:00\t/a\twait\t84\t48\t10\t0\t\t\t\t\t9.0",    // stopped early
          "2026-01-04T00:00:00+09:00\t/a\twait\t126\t48\t48\t0\t\t\t\t\t40.0",  // other tempo
          "2026-01-05T00:00:00+09:00\t/b\twait\t84\t48\t48\t0\t\t\t\t\t40.0",   // other file
          "2026-01-06T00:00:00+09:00\t/a\tin-time\t84\t48\t40\t1\t8\t3\t4\t-7.5\t30.0",
          "2026-01-07T00:00:00+09:00\t/a\tin-time\t84\t48\t44\t3\t4\t9\t1\t5.0\t30.0"}) {
        history.push_back(*ParseEntry(line));
    }
    const Best wait = BestBefore(history, "/a", Mode::Wait, 84);
    EXPECT_EQ(wait.played, 48u);
    EXPECT_EQ(wait.wrong, 2u);
    EXPECT_EQ(wait.seconds, 70.0);
    EXPECT_FALSE(wait.missed);
    const Best inTime = BestBefore(history, "/a", Mode::InTime, 84);
    EXPECT_EQ(inTime.played, 44u);
    EXPECT_EQ(inTime.missed, 4u);
    EXPECT_EQ(inTime.early, 3u);
    EXPECT_EQ(inTime.late, 1u);
    EXPECT_EQ(inTime.medianMs, 5.0);
    EXPECT_FALSE(BestBefore(history, "/a", Mode::Wait, 60).any());
}

TEST(PracticeHistory, ResultTextPutsEachFigureBesideTheBestBefore) {
    Result r;
    r.mode = Mode::InTime;
    r.tempo = 108;
    r.songNotes = 48;
    r.played = 45;
    r.wrong = 1;
    r.missed = 3;
    r.early = 20;
    r.late = 25;
    r.medianMs = 4.25;
    r.spreadMs = 31;
    r.seconds = 30.04;
    r.completed = true;
    r.places = {{3, 9, 0, 2, 0}, {1, 1, 1, 0, 55.5}};
    Best best;
    best.played = 46;
    best.medianMs = -2;
    EXPECT_EQ(ResultMessage(r, best, "a.txt"),
              "練習の結果（テンポどおり・テンポ108）\n\n"
              "当たり: 45（曲は48音）\u3000自己ベスト: 46\n早め: 20\n遅め: 25\n"
              "弾かなかった音: 3\n間違えた音: 1\n"
              "ずれの中央値: +4.2ms\u3000自己ベスト: -2.0ms\nずれのばらつき: 31.0ms\n"
              "かかった時間: 30.0秒\n\n練習し直すとよい所:\n"
              "a.txt:3:9（弾かなかった音2）\na.txt:1:1（ずれ55.5ms）");
}

TEST(PracticeHistory, TerminalChartDrawsAccuracyInEighthsOfARow) {
    SongHistory song{"/a", Mode::Wait, {}};
    // Accuracy 100 %, 50 %, 62.5 % (played 5 of 8), 0 %.
    for (const std::string figures : {"8\t0", "4\t4", "5\t3", "0\t8"}) {
        song.entries.push_back(*ParseEntry("2026-12-07T18:04:05+09:00\t/a\twait\t84\t8\t" +
                                           figures + "\t\t\t\t\t1.0"));
    }
    EXPECT_EQ(AccuracyChart(song),
              "  100% │█   \n"
              "   75% │█ ▄ \n"
              "   50% │███ \n"
              "   25% │███ \n"
              "       └────\n"
              "        2026-12-07 から 2026-12-07 まで4回: 正確さ 100% → 0%（最高 100%）\n");
    const std::vector<std::pair<std::string, std::int64_t>> times = {
        {"2026-12-07T18:04:05+09:00", 1796634245},
        {"2026-12-07T09:04:05Z", 1796634245},
        {"2026-12-06T23:34:05-09:30", 1796634245}};
    for (const auto& [time, seconds] : times) {
        HistoryEntry e;
        e.time = time;
        EXPECT_EQ(EntrySeconds(e), seconds) << time;
    }
}

// The song list: newest first, then the songs folder's, a gone file kept. The minutes per day: a
// practice counts on its own date; the bars are eighths of the busiest day's 24 cells.
TEST(PracticeHistory, SongListAndMinutesOnEachOfTheLast14Days) {
    setenv("TZ", "JST-9", 1);
    tzset();
    std::vector<HistoryEntry> history;
    for (const auto& [when, file, wrong, seconds] :
         std::vector<std::tuple<std::string, std::string, int, int>>{
             {"11-23T08", "/s/a.txt", 0, 600},
             {"12-01T08", "/gone/b.txt", 0, 30},
             {"12-07T08", "/s/a.txt", 2, 60},
             {"12-07T09", "/s/c.mid（右手）", 0, 120}}) {
        history.push_back(*ParseEntry("2026-" + when + ":00:00+09:00\t" + file +
                                      "\twait\t84\t8\t8\t" + std::to_string(wrong) + "\t\t\t\t\t" +
                                      std::to_string(seconds)));
    }
    std::vector<std::string> lines;
    for (const auto& entry : SongList(history, {"/s/d.txt", "/s/a.txt"}, [](const std::string& f) {
             return f == "/s/a.txt" || f == "/s/c.mid" || f == "/s/d.txt";
         }))
        lines.push_back(entry.path + " " + SongListLine(entry));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "/s/c.mid c.mid（右手）  最後 100%  最高 100%  2026-12-07  2.0分",
                         "/s/a.txt a.txt  最後 80%  最高 100%  2026-12-07  11.0分",
                         "/gone/b.txt b.txt  最後 100%  最高 100%  2026-12-01  0.5分  "
                         "（ﾌｧｲﾙがありません）",
                         "/s/d.txt d.txt"}));
    const auto days = MinutesPerDay(Grouped(history), 1796634245);  // 2026-12-07 18:04:05 JST
    const std::string text = PracticeDays(days);
    const std::string rows[] = {"  11-24 │" + std::string(24, ' ') + " 0.0分\n",
                                "  12-01 │████" + std::string(20, ' ') + " 0.5分\n",
                                "  12-07 │████████████████████████ 3.0分\n",
                                "  合計 3.5分、練習した日 2日\n"};
    for (const std::string& row : rows) {
        EXPECT_NE(text.find(row), std::string::npos) << row << text;
    }
    EXPECT_EQ(text.find("11-23"), std::string::npos) << "more than 14 days ago";
    // The picture's bars, by their pixels: 0.5 and 3.0 minutes, six days' columns apart.
    const QImage chart =
        QImage::fromData(QByteArray::fromStdString(AccuracyChartPng(Grouped(history), days)));
    std::vector<std::array<int, 3>> bars;  // first x, width, height
    for (int x = 0; x < chart.width(); ++x) {
        int height = 0;
        for (int y = 0; y < chart.height(); ++y) height += chart.pixel(x, y) == qRgb(91, 140, 58);
        if (height == 0) continue;
        if (bars.empty() || bars.back()[0] + bars.back()[1] != x || bars.back()[2] != height)
            bars.push_back({x, 0, height});
        ++bars.back()[1];
    }
    ASSERT_EQ(bars.size(), 2u);
    EXPECT_EQ(bars[1][0] - bars[0][0], 6 * 50);
    EXPECT_EQ(bars[0][1], bars[1][1]);
    EXPECT_EQ(std::make_pair(bars[0][2], bars[1][2]), std::make_pair(17, 100));
}

}  // namespace
