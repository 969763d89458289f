// The practice dialog's song list with 1,000 history lines over 250 songs and 200 files in the
// songs folder, offscreen: the dialog made and shown with its list, and the list filtered for
// one more typed letter.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "message_box.h"
#include "practice_dialog.h"

namespace {

std::filesystem::path MakeFolder() {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("muruteka-song-list-bench-" + std::to_string(::getpid()));
    const auto songs = folder / "muruteka" / "songs";
    std::filesystem::create_directories(songs);
    for (int i = 0; i < 200; ++i)
        std::ofstream(songs / ("song" + std::to_string(i) + ".txt")) << "\x83\x68\x34\r\n";
    std::ofstream history(folder / "muruteka" / "practice.tsv");
    for (int i = 0; i < 1000; ++i) {
        char line[256];
        // Songs of the folder and some gone: 250 songs, four practices each.
        std::snprintf(line, sizeof line,
                      "2026-12-%02dT18:%02d:00+09:00\t%s/song%d.txt\twait\t84\t48\t%d\t2\t\t\t\t\t"
                      "61.0\n",
                      1 + i % 28, i % 60, songs.c_str(), i % 250, 40 + i % 9);
        history << line;
    }
    setenv("XDG_DATA_HOME", folder.c_str(), 1);
    return folder;
}

void SongListShown(benchmark::State& state) {
    int songs = 0;
    for (auto _ : state) {
        practice::PracticeDialog dialog(practice::PracticeRequest{});
        dialog.show();
        QApplication::processEvents();
        songs = dialog.List1()->count();
    }
    state.counters["songs"] = songs;
}
BENCHMARK(SongListShown)->Unit(benchmark::kMillisecond);

// "song1", one letter after another; each iteration is one keystroke and its repaint.
void SongListFiltered(benchmark::State& state) {
    practice::PracticeDialog dialog(practice::PracticeRequest{});
    dialog.show();
    QApplication::processEvents();
    const QString word = QStringLiteral("song12");
    int typed = 0;
    for (auto _ : state) {
        typed = typed % word.size() + 1;
        dialog.Text1()->setText(word.left(typed));
        dialog.Text1_Edited();
        QApplication::processEvents();
    }
    dialog.Text1()->setText(word);  // the whole word: song12 and song120 to song129
    dialog.Text1_Edited();
    int shown = 0;
    for (int i = 0; i < dialog.List1()->count(); ++i) shown += !dialog.List1()->item(i)->isHidden();
    state.counters["shown"] = shown;
}
BENCHMARK(SongListFiltered)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const auto folder = MakeFolder();
    QApplication application(argc, argv);
    ui::setMessageHandler([](const ui::MessageRequest&) { return ui::Answer::Ok; });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::filesystem::remove_all(folder);
    return 0;
}
