// Recording what is played into files: a music file written token by token as the playing goes,
// and a Standard MIDI File rewritten whole from memory, each replacing an existing file only once
// there is something to put in it.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "music_writer.h"
#include "offline_performance.h"
#include "recording_output.h"

namespace performance {

// Why a recording file could not be created (in Japanese, naming the file), or empty when it can.
// Tries its folder without touching a file that is already there.
std::string RecordingFileProblem(const std::string& path);

class TakeRecorder final : public midi::MessageRecorder {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    // Either path may be empty (that format is not recorded). Notes about what could not be
    // written as played go to `report`, each once.
    TakeRecorder(std::string textPath, std::string midiPath, int tempo, std::ostream& report);
    ~TakeRecorder() override;
    TakeRecorder(const TakeRecorder&) = delete;
    TakeRecorder& operator=(const TakeRecorder&) = delete;

    void Record(TimePoint when, std::uint32_t message) override;
    // Called now and then: writes tokens that are complete, rewrites the MIDI file if it changed.
    void Tick(TimePoint now);
    // Ends the notes still sounding at this moment and completes both files. Later messages are
    // not recorded.
    void Finish(TimePoint now);
    bool finished() const { return m_finished; }

  private:
    std::int64_t nanosSince(TimePoint when) const;
    void appendText();
    void writeMidi(std::int64_t endNanos);
    void reportLosses();
    void reportWriteFailure(const std::string& path, bool& reported);

    std::string m_textPath;
    std::string m_midiPath;
    int m_tempo;
    std::ostream& m_report;
    MusicWriter m_writer;
    bool m_started = false;
    bool m_finished = false;
    TimePoint m_origin{};
    std::vector<TimedMessage> m_messages;
    // Note-ons not yet ended, per channel and note number.
    std::vector<std::uint16_t> m_sounding = std::vector<std::uint16_t>(16 * 128);
    bool m_midiDirty = false;
    bool m_midiWritten = false;
    std::int64_t m_midiWrittenAt = 0;
    int m_textFd = -1;
    bool m_textFailed = false;
    bool m_midiFailed = false;
    bool m_reportedLong = false;
    bool m_reportedChord = false;
    bool m_reportedRange = false;
};

}  // namespace performance
