#include "console_modes.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "history_chart.h"
#include "history_report.h"
#include "module1.h"
#include "music_check.h"
#include "offline_performance.h"
#include "output_backends.h"
#include "output_file.h"
#include "performance_engine.h"
#include "song_import.h"
#include "synth_output.h"

namespace app {
namespace {

const char* const NoMidiMessage = "ご使用の環境では、MIDI音源を使用できません。";

// Exit codes of the modes that write a file.
constexpr int Written = 0;
constexpr int Failed = 1;         // the music file is missing, or the output cannot be written
constexpr int Refused = 2;        // the output named cannot be used; nothing was done
constexpr int Interrupted = 130;  // Ctrl-C: the output stays as it was

std::string MissingFile(const std::string& name) {
    return "「" + name + "」ﾌｧｲﾙはありません。";
}

// A FIFO or a device is not a file the directory search finds, so it is reported like a
// missing one, and never opened.
bool InputFound(const std::string& name) {
    if (performance::FileFound(name)) return true;
    std::cerr << MissingFile(name) << "\n";
    return false;
}

std::atomic<bool> interrupted{false};

extern "C" void OnInterruptWhileWriting(int) {
    interrupted = true;
}

// Ctrl-C while a file is written ends the performance, so that the temporary file is removed
// rather than left behind.
class InterruptGuard {
  public:
    InterruptGuard()
        : m_int(std::signal(SIGINT, OnInterruptWhileWriting)),
          m_term(std::signal(SIGTERM, OnInterruptWhileWriting)) {
        interrupted = false;
    }
    ~InterruptGuard() {
        std::signal(SIGINT, m_int);
        std::signal(SIGTERM, m_term);
    }

  private:
    void (*m_int)(int);
    void (*m_term)(int);
};

// Checks the output before any work: it must not be the music file itself (by device and
// inode, whatever the names), nor something other than a regular file that renaming over would
// destroy (a device, a FIFO, a folder).
bool OutputUsable(const std::string& input, const std::string& output) {
    struct stat out {};
    if (stat(output.c_str(), &out) != 0) return true;  // a new file
    struct stat in {};
    if (stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
        std::cerr << "「" << output << "」は演奏するﾌｧｲﾙ自身です。上書きしません。\n";
        return false;
    }
    if (!S_ISREG(out.st_mode)) {
        std::cerr << "「" << output << "」は通常のﾌｧｲﾙではないため、書き込めません。\n";
        return false;
    }
    return true;
}

int CannotWrite(const std::string& output, int error) {
    std::cerr << "「" << output << "」ﾌｧｲﾙに書き込めません。" << WriteFailureReason(error) << "\n";
    return Failed;
}

// A MIDI file or a score given to a mode: imported once, what fitting changed said on stderr.
class ImportedInput {
  public:
    explicit ImportedInput(const CommandLine& command) : m_tempo(command.tempo) {
        if (!importing::IsImportable(command.input)) return;
        m_imported = true;
        importing::ImportedSong song = importing::ImportSong(command.input, ChoicesOf(command));
        if (!song.error.empty()) {
            std::cerr << song.error << "\n";
            m_failed = true;
            return;
        }
        if (!song.report.empty()) {
            std::cerr << "「" << command.input << "」: " << song.report << "\n";
        }
        if (command.verbose) {
            const importing::FitReport& fit = song.fit;
            std::cerr << "「" << command.input << "」: " << fit.partName << "、" << fit.notesIn
                      << "音のうち" << fit.notesKept << "音、移調" << fit.transpose << "、配列"
                      << importing::LayoutName(fit.layout) << "、オクターブ移動" << fit.octaveMoves
                      << "、3連符など" << fit.tupletPlaces << "、短くした音" << fit.shortened
                      << "\n";
        }
        m_text = std::move(song.text);
        if (!command.tempoGiven)
            m_tempo = std::clamp(static_cast<int>(std::lround(song.tempo)), 1, 999);
    }
    bool failed() const { return m_failed; }
    const std::string& text() const { return m_text; }
    int tempo() const { return m_tempo; }
    // Opens the imported text, or the music file itself.
    performance::SongOpener opener() const {
        if (!m_imported) return {};
        return [this](performance::MusicFileReader& reader, const std::string&) {
            reader.OpenText(m_text);
            return true;
        };
    }

  private:
    bool m_imported = false;
    bool m_failed = false;
    std::string m_text;
    int m_tempo;
};

int Check(const CommandLine& command) {
    performance::MusicFileReader reader;
    if (!InputFound(command.input)) return 2;
    const ImportedInput imported(command);
    if (imported.failed()) return 2;
    if (const auto open = imported.opener()) {
        open(reader, command.input);
    } else if (!reader.Open(command.input)) {
        std::cerr << MissingFile(command.input) << "\n";
        return 2;
    }
    const auto count = performance::CheckMusicFile(reader, [&](const performance::Finding& f) {
        std::cout << command.input << ':' << f.line << ':' << f.column << ": " << f.message << "\n";
    });
    return count == 0 ? 0 : 1;
}

int Play(const CommandLine& command) {
    if (!InputFound(command.input)) return 1;
    const ImportedInput imported(command);
    if (imported.failed()) return 1;
    const audio::SynthSettings synth{command.soundfont, true, command.audioBufferMs};
    midi::installBackend(audio::makeBackend(*midi::parseOutputSpec(command.midiOut), synth));
    if (midi::midiOutGetNumDevs() == 0) {
        std::cerr << NoMidiMessage << "\n";
        midi::installBackend(nullptr);
        return 1;
    }
    midi::midiOutOpen(&Module1::hMidiOut, midi::MIDI_MAPPER);
    const int result = performance::PlayOnConsole(command.input, imported.tempo(), command.channel,
                                                  imported.opener());
    // The built-in synthesizer lets the last note's release die away before it is closed.
    if (command.midiOut == "synth") Module1::Wait(1.0f);
    midi::midiOutClose(Module1::hMidiOut);
    midi::installBackend(nullptr);
    return result;
}

int ExportMidi(const CommandLine& command, const ImportedInput& imported, ReplacingFile& file) {
    performance::MidiFileWriter writer(file, imported.tempo());
    const bool played = performance::RecordPerformance(
        command.input, imported.tempo(), command.channel,
        [&](const performance::TimedMessage& m) {
            writer.Add(m);
            return !interrupted && file.error() == 0;
        },
        imported.opener());
    if (!played) {
        std::cerr << MissingFile(command.input) << "\n";
        return Failed;
    }
    if (interrupted) return Interrupted;
    if (!writer.Finish()) return CannotWrite(command.output, EFBIG);
    return file.Commit() ? Written : CannotWrite(command.output, file.error());
}

int RenderWav(const CommandLine& command, const ImportedInput& imported, ReplacingFile& file) {
    // How long the performance runs is known only by playing it: a quick pass without sound
    // first, so that a tune too long for a WAV file is refused before anything is written.
    bool tooLong = false;
    const bool found = performance::RecordPerformance(
        command.input, imported.tempo(), command.channel,
        [&](const performance::TimedMessage& m) {
            tooLong = m.nanos > performance::MaxWavNanos;
            return !tooLong && !interrupted;
        },
        imported.opener());
    if (!found) {
        std::cerr << MissingFile(command.input) << "\n";
        return Failed;
    }
    if (interrupted) return Interrupted;
    if (tooLong) {
        std::cerr << "「" << command.input
                  << "」の演奏は長すぎるため、WAVﾌｧｲﾙにできません（6時間45分まで）。\n";
        return Failed;
    }
    if (!file.Open(command.output)) return CannotWrite(command.output, file.error());
    performance::WavWriter writer(file, command.soundfont);
    if (!writer.ready()) {
        std::cerr << "muruteka: the built-in synthesizer cannot start: " << writer.problem()
                  << "\n";
        return Failed;
    }
    const bool played = performance::RecordPerformance(
        command.input, imported.tempo(), command.channel,
        [&](const performance::TimedMessage& m) {
            return writer.Add(m) && !interrupted && file.error() == 0;
        },
        imported.opener());
    if (!played) {
        std::cerr << MissingFile(command.input) << "\n";
        return Failed;
    }
    if (interrupted) return Interrupted;
    if (!writer.Finish()) return CannotWrite(command.output, EFBIG);
    return file.Commit() ? Written : CannotWrite(command.output, file.error());
}

int Export(const CommandLine& command) {
    if (!InputFound(command.input)) return Failed;
    if (!OutputUsable(command.input, command.output)) return Refused;
    const ImportedInput imported(command);
    if (imported.failed()) return Failed;
    const InterruptGuard guard;
    ReplacingFile file;
    if (command.mode == "import") {
        if (imported.text().empty()) {
            std::cerr << "「" << command.input
                      << "」はMIDIファイルでもMusicXMLの楽譜でもありません。\n";
            return Failed;
        }
        if (!file.Open(command.output)) return CannotWrite(command.output, file.error());
        file.Write(imported.text());
        return file.Commit() ? Written : CannotWrite(command.output, file.error());
    }
    if (command.mode == "export-midi") {
        if (!file.Open(command.output)) return CannotWrite(command.output, file.error());
        return ExportMidi(command, imported, file);
    }
    return RenderWav(command, imported, file);
}

// The practice history as a table with a chart per song, and the chart as a picture.
int PracticeHistory(const CommandLine& command) {
    const auto path = practice::HistoryPath();
    if (path.empty()) {
        std::cerr << "練習の記録の場所がわかりません（HOMEもXDG_DATA_HOMEもありません）。\n";
        return Failed;
    }
    // Read straight into the songs, one entry at a time: the history is never held twice.
    const std::string wanted =
        command.input.empty() ? std::string() : practice::HistoryName(command.input);
    std::vector<practice::SongHistory> songs;
    std::vector<practice::HistoryEntry> lastWithBars;
    const auto notices = practice::ForEachHistoryEntry(path, [&](practice::HistoryEntry&& e) {
        if (!wanted.empty() && e.file != wanted) return;
        if (!wanted.empty() && !e.bars.empty()) lastWithBars = {e};
        practice::AddToGroup(songs, std::move(e));
    });
    for (const std::string& notice : notices) std::cerr << notice << "\n";
    const std::string bars = practice::LastPracticeBars(lastWithBars, wanted);
    if (songs.empty()) {
        std::cout << (command.input.empty() ? std::string() : "「" + command.input + "」の")
                  << "練習の記録はまだありません（" << path.string() << "）。\n";
        if (command.chart.empty()) return Written;
        std::cerr << "グラフにする記録がないため、「" << command.chart << "」は作りません。\n";
        return Failed;
    }
    std::cout << "練習の記録（" << path.string() << "）\n\n";
    practice::HistoryReport(songs, std::cout);
    const auto days = practice::MinutesPerDay(songs, std::time(nullptr));
    std::cout << "\n" << practice::PracticeDays(days);
    if (!bars.empty()) std::cout << "\n" << bars;
    if (command.chart.empty()) return Written;
    std::error_code error;
    if (std::filesystem::equivalent(path, command.chart, error)) {
        std::cerr << "「" << command.chart << "」は練習の記録そのものです。上書きしません。\n";
        return Refused;
    }
    if (!OutputUsable(std::string(), command.chart)) return Refused;
    const std::string png = practice::AccuracyChartPng(songs, days);
    if (png.empty()) {
        std::cerr << "「" << command.chart << "」に描くグラフを作れません。\n";
        return Failed;
    }
    ReplacingFile file;
    if (!file.Open(command.chart)) return CannotWrite(command.chart, file.error());
    file.Write(png);
    return file.Commit() ? Written : CannotWrite(command.chart, file.error());
}

}  // namespace

importing::SongChoices ChoicesOf(const CommandLine& command) {
    importing::SongChoices choices;
    choices.part = command.part;
    choices.hand = command.hand == "right"  ? importing::Hand::Right
                   : command.hand == "left" ? importing::Hand::Left
                                            : importing::Hand::Both;
    choices.split = command.split;
    choices.chords = command.chords;
    choices.transpose = command.transpose;
    return choices;
}  // namespace app

int RunConsoleMode(const CommandLine& command) {
    if (command.mode == "practice-history") return PracticeHistory(command);
    if (command.mode == "check") return Check(command);
    if (command.mode == "play") return Play(command);
    return Export(command);
}

}  // namespace app
