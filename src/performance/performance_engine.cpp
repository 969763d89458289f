#include "performance_engine.h"

#include <fnmatch.h>

#include <filesystem>
#include <system_error>

namespace performance {
namespace {

// Lateness beyond which the performance stops trying to catch up (the program was held up, for
// example by the window system): the next token starts from now instead of rushing.
constexpr auto MaxCatchUp = std::chrono::milliseconds(100);

}  // namespace

float TimeUnitForTempo(int tempo) {
    if (tempo <= 0) tempo = DefaultTempo;
    const float perBeat = static_cast<float>(60.0 / tempo);
    return perBeat / 4.0f;
}

bool FileFound(const std::string& name) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path path(name);
    std::string pattern = path.filename().string();
    if (pattern.empty()) return false;
    // Only regular files count: a FIFO or a device is no music file, and opening one could
    // wait for ever or read without end.
    if (pattern.find_first_of("*?") == std::string::npos) {
        const auto status = fs::status(path, error);
        return !error && fs::is_regular_file(status);
    }
    if (pattern == "*.*") pattern = "*";  // every file, as in a directory search
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    fs::directory_iterator entries(folder, error);
    if (error) return false;
    for (const auto& entry : entries) {
        if (fnmatch(pattern.c_str(), entry.path().filename().c_str(), 0) != 0) continue;
        if (entry.is_regular_file(error)) return true;
    }
    return false;
}

PerformanceEngine::PerformanceEngine(PerformanceHost& host, const keyboard::NoteTables& tables)
    : m_host(host), m_tables(tables) {}

void PerformanceEngine::BuildKeyOfNote() {
    for (int i = 1; i <= m_tables.NoteKeyCount; ++i) {
        const int index = m_tables.LowestNote + 100 + i - 1;
        if (index >= 0 && index < static_cast<int>(KeyOfNote.size())) {
            KeyOfNote[static_cast<std::size_t>(index)] =
                m_tables.NoteKey[static_cast<std::size_t>(i)];
        }
    }
}

void PerformanceEngine::MarkKey(std::int16_t note) {
    if (note < m_tables.LowestNote || note > m_tables.HighestNote) return;
    if (m_tables.MissingNote > 0 && note == m_tables.MissingNote) return;
    m_host.BarFunc(KeyOfNote[static_cast<std::size_t>(note + 100)]);
}

void PerformanceEngine::WaitUnits(std::int16_t length) {
    // Read the tempo now, so that a choice made during the previous token applies from here.
    const float seconds = static_cast<float>(length) * TimeUnit;
    if (m_due == Clock::time_point{}) m_due = m_host.Now();
    const auto deadline =
        m_due + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    m_host.WaitUntil(deadline);
    const auto now = m_host.Now();
    m_due = now - deadline > MaxCatchUp ? now : deadline;
}

void PerformanceEngine::PlayNote(std::int16_t note, std::int16_t length) {
    if (length == 0) length = 10;
    if (note <= NoNote) {
        WaitUnits(length);
        return;
    }
    MarkKey(note);
    m_host.NoteOn(note);
    WaitUnits(length);
    m_host.NoteOff(note);
    MarkKey(note);
}

void PerformanceEngine::PlayChord(const ParsedToken& chord) {
    const int n = chord.soundingMembers();
    for (int k = 0; k < n; ++k) {
        MarkKey(chord.members[static_cast<std::size_t>(k)]);
        m_host.NoteOn(chord.members[static_cast<std::size_t>(k)]);
    }
    WaitUnits(chord.length);
    for (int k = 0; k < n; ++k) {
        m_host.NoteOff(chord.members[static_cast<std::size_t>(k)]);
        MarkKey(chord.members[static_cast<std::size_t>(k)]);
    }
}

bool PerformanceEngine::PlayMusicFile() {
    std::error_code error;
    const std::filesystem::path path(PlayPath);
    if (std::filesystem::is_directory(path, error)) return false;
    if (!(m_open ? m_open(m_reader, PlayPath) : m_reader.Open(path))) return false;
    m_due = m_host.Now();
    while (!m_reader.AtEnd()) {
        const Token token = m_reader.Read();
        if (token.parsed.chord) {
            PlayChord(token.parsed);
        } else {
            PlayNote(token.parsed.value, token.parsed.length);
        }
        ++TokenCount;
        if (Playing == 0 || m_unloading) break;
    }
    m_reader.Close();
    m_due = {};
    return true;
}

void PerformanceEngine::Command2_Click() {
    if (m_host.FileName().empty()) return;
    m_reader.Close();
    if (m_caption == CancelCaption) {
        m_host.LetEventsRun();
        Playing = 0;
        return;
    }
    const std::string name = m_host.FileName();
    if (!FileFound(name)) {
        m_host.ReportMissingFile(name);
        return;
    }
    auto setCaption = [this](std::string_view caption) {
        m_caption = caption;
        m_host.SetButtonCaption(caption);
    };
    setCaption(CancelCaption);
    m_host.EnableInputs(false);
    TokenCount = 0;
    m_host.LetEventsRun();
    Playing = 1;
    PlayPath = m_host.FileName();
    m_host.SetStatus(PlayingStatus);
    ++m_running;
    struct Leave {
        int& running;
        ~Leave() { --running; }
    } leave{m_running};
    if (!PlayMusicFile()) {
        // A file that exists but cannot be opened: back to idle without a word.
        m_host.LetEventsRun();
        Playing = 0;
        setCaption(ExecuteCaption);
        m_host.EnableInputs(true);
        m_host.SetStatus(IdleStatus);
        return;
    }
    m_host.SetStatus(IdleStatus);
    setCaption(ExecuteCaption);
    m_host.EnableInputs(true);
    if (TokenCount > 0 && !m_unloading) {
        m_host.SetStatus(Playing != 0 ? FinishedStatus : CancelledStatus);
        const auto pause = std::chrono::duration<double>(EndMessageSeconds);
        m_host.WaitUntil(m_host.Now() + std::chrono::duration_cast<Clock::duration>(pause));
        m_host.SetStatus(IdleStatus);
    }
    Playing = 0;
}

void PerformanceEngine::Unload() {
    m_unloading = true;
    m_reader.Close();
}

}  // namespace performance
