// The automatic performance: plays a music file token by token at the chosen tempo, marking each
// sounding note's key on the keyboard window, and runs the Execute/Cancel button's steps.
// Plain C++: the window, the sound and the clock are reached through PerformanceHost.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "key_layout.h"
#include "music_file.h"

namespace performance {

using Clock = std::chrono::steady_clock;

// What the engine needs of the program around it.
class PerformanceHost {
  public:
    virtual ~PerformanceHost() = default;
    virtual void NoteOn(std::int16_t note) = 0;
    virtual void NoteOff(std::int16_t note) = 0;
    // Toggles the mark of a key on the keyboard window.
    virtual void BarFunc(std::int16_t key) = 0;
    virtual Clock::time_point Now() = 0;
    // Returns at the deadline; window events run meanwhile (a cancel click, a tempo choice).
    virtual void WaitUntil(Clock::time_point deadline) = 0;
    // Lets the pending window events run once.
    virtual void LetEventsRun() = 0;

    // The dialog's controls, as far as the Execute button touches them.
    virtual std::string FileName() = 0;
    virtual void SetButtonCaption(std::string_view caption) = 0;
    virtual void SetStatus(std::string_view text) = 0;
    virtual void EnableInputs(bool enabled) = 0;
    virtual void ReportMissingFile(std::string_view name) = 0;
};

inline constexpr std::string_view ExecuteCaption = "実\u3000行";
inline constexpr std::string_view CancelCaption = "ｷｬﾝｾﾙ";
inline constexpr std::string_view IdleStatus = " ";
inline constexpr std::string_view PlayingStatus = "  演奏中";
inline constexpr std::string_view FinishedStatus = "演奏完了";
inline constexpr std::string_view CancelledStatus = "演奏中にキャンセルされました。";
inline constexpr float EndMessageSeconds = 1.9f;
inline constexpr int DefaultTempo = 126;

// Seconds per length unit (a sixteenth note) at a tempo, in single precision as the program
// has always computed it.
float TimeUnitForTempo(int tempo);

// Does the name match an existing file (not a folder), as a directory search would, with * and ?
// as wildcards in its last part? A name that cannot be searched at all counts as no match.
bool FileFound(const std::string& name);

// Opens the song at a path in the reader; false when it cannot be played. The default opens a
// music file; a caller that takes other formats imports them here.
using SongOpener = std::function<bool(MusicFileReader& reader, const std::string& path)>;

class PerformanceEngine {
  public:
    PerformanceEngine(PerformanceHost& host, const keyboard::NoteTables& tables);

    // The tempo list's choice; the next token's wait uses it.
    void Combo1_Click(int tempo) { TimeUnit = TimeUnitForTempo(tempo); }
    // Execute when idle, Cancel while a performance runs.
    void Command2_Click();
    // The dialog is closing: a running performance ends after its current token.
    void Unload();

    void BuildKeyOfNote();
    void MarkKey(std::int16_t note);
    void PlayNote(std::int16_t note, std::int16_t length);
    // Plays the file at PlayPath; false when it cannot be opened.
    bool PlayMusicFile();
    void SetSongOpener(SongOpener open) { m_open = std::move(open); }

    // True from an Execute click until its end message has gone.
    bool running() const { return m_running > 0; }

    std::int16_t Playing = 0;
    std::int32_t TokenCount = 0;
    std::string PlayPath;
    float TimeUnit = TimeUnitForTempo(DefaultTempo);
    // Key number playing each note, at index note + 100; 0 where no key plays it.
    std::array<std::int16_t, 256> KeyOfNote{};

  private:
    void WaitUnits(std::int16_t length);
    void PlayChord(const ParsedToken& chord);
    std::string m_caption = std::string(ExecuteCaption);

    PerformanceHost& m_host;
    const keyboard::NoteTables& m_tables;
    MusicFileReader m_reader;
    SongOpener m_open;
    // When the current token's time began: each wait ends a whole number of units after the
    // performance began, so small lateness never adds up.
    Clock::time_point m_due{};
    int m_running = 0;
    bool m_unloading = false;
};

}  // namespace performance
