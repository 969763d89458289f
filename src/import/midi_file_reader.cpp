#include "midi_file_reader.h"

#include <portSMF/mfmidi.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <utility>

#include "part_names.h"

namespace importing {
namespace {

// A sysex or meta event longer than this is refused: the reader grows its buffer 128 bytes at a
// time, copying it whole each time, so a file of one huge event would take minutes.
constexpr std::size_t MaxMessageBytes = 256 * 1024;
constexpr int MaxTracks = 1024;
constexpr int DrumChannel = 9;

// Thrown from the reader's callbacks to stop reading at once; the reason is the player's.
struct Stop {
    std::string reason;
};

// A file with one short meta event. The reader keeps its message buffer between files and reads
// the fixed fields of a tempo or meter event from it whatever the event's length; before its
// first message the buffer does not exist. Reading this first means a too short event in the
// player's file is read from that buffer, never from nowhere; RequireFields then refuses it.
constexpr std::array<unsigned char, 31> Primer = {
    'M', 'T', 'h', 'd', 0, 0, 0, 6,    0,    0, 0,   1, 0,    96,   'M', 'T',
    'r', 'k', 0,   0,   0, 9, 0, 0xFF, 0x03, 1, 'x', 0, 0xFF, 0x2F, 0};

class Collector : public Midifile_reader {
  public:
    ReadResult Read(std::string_view bytes) {
        m_bytes = std::string_view(reinterpret_cast<const char*>(Primer.data()), Primer.size());
        m_priming = true;
        midifile();
        m_priming = false;
        m_bytes = bytes;
        m_next = 0;
        ReadResult result;
        try {
            midifile();
            if (midifile_error && m_error.empty()) m_error = "壊れています";
        } catch (const Stop& stop) {
            m_error = stop.reason;
        }
        finalize();
        if (!m_error.empty()) {
            result.error = m_error;
            return result;
        }
        Finish(result.score);
        if (result.score.parts.empty() && m_drumNotes > 0) {
            result.error = "打楽器（チャンネル10）の音しかありません";
        }
        return result;
    }

  protected:
    void* Mf_malloc(size_t size) override {
        if (size > MaxMessageBytes)
            throw Stop{"長すぎるシステムエクスクルーシブかメタイベントがあります"};
        void* p = std::malloc(size);
        if (p == nullptr) throw Stop{"メモリが足りません"};
        return p;
    }
    void Mf_free(void* obj, size_t) override { std::free(obj); }
    int Mf_getc() override {
        if (m_next >= m_bytes.size()) return EOF;
        return static_cast<unsigned char>(m_bytes[m_next++]);
    }
    void Mf_error(char* message) override {
        if (m_priming || !m_error.empty()) return;
        const std::string_view text(message);
        if (text.find("EOF") != std::string_view::npos) {
            m_error =
                "ファイルが途中で切れています（データの長さがファイルの終わりを越えています）";
        } else if (text.find("running status") != std::string_view::npos) {
            m_error = "ステータスのないランニングステータスがあります";
        } else if (text.find("MThd") != std::string_view::npos) {
            m_error = "MIDIファイルではありません";
        } else if (text.find("MTrk") != std::string_view::npos) {
            m_error = "トラックの始まりがありません";
        } else if (text.find("No tracks") != std::string_view::npos) {
            m_error = "トラックがありません";
        } else {
            m_error = "壊れています";
        }
    }
    void Mf_header(int format, int tracks, int division) override {
        if (m_priming) return;
        if (format == 2) throw Stop{"フォーマット2のMIDIファイルには対応していません"};
        if (format > 2) throw Stop{"MIDIファイルのフォーマットが不明です"};
        if (tracks > MaxTracks) throw Stop{"トラックが多すぎます（1024まで）"};
        if (division & 0x8000) {
            // Frames a second times ticks a frame: times in seconds, read at tempo 120.
            const int fps = -static_cast<signed char>((division >> 8) & 0xFF);
            const int perFrame = division & 0xFF;
            if (fps <= 0 || perFrame == 0) throw Stop{"時間の分解能が0です"};
            m_ticksPerBeat = fps * perFrame / 2.0;
        } else {
            if (division == 0) throw Stop{"時間の分解能が0です"};
            m_ticksPerBeat = division;
        }
    }
    void Mf_starttrack() override {
        if (m_priming) return;
        ++m_track;
        m_trackName.clear();
    }
    void Mf_endtrack() override {
        if (m_priming) return;
        // Notes still held at the track's end end there, if that is within a song's time.
        if (!m_open.empty()) CheckTime();
        for (auto& [key, starts] : m_open) {
            for (const long start : starts) AddNote(key.first, key.second, start, Mf_currtime);
        }
        m_open.clear();
    }
    void Mf_eot() override {}
    void Mf_on(int channel, int pitch, int velocity) override {
        if (m_priming) return;
        if (velocity == 0) return Mf_off(channel, pitch, 0);
        CheckTime();
        CheckPitch(pitch);
        m_open[{channel, pitch}].push_back(Mf_currtime);
        if (m_open[{channel, pitch}].size() > 128) throw Stop{"終わらない音が多すぎます"};
    }
    void Mf_off(int channel, int pitch, int) override {
        if (m_priming) return;
        CheckTime();
        CheckPitch(pitch);
        const auto found = m_open.find({channel, pitch});
        if (found == m_open.end() || found->second.empty()) return;
        const long start = found->second.front();
        found->second.pop_front();
        AddNote(channel, pitch, start, Mf_currtime);
    }
    void Mf_pressure(int, int, int) override {}
    void Mf_controller(int, int, int) override {}
    void Mf_pitchbend(int, int, int) override {}
    void Mf_program(int, int) override {}
    void Mf_chanpressure(int, int) override {}
    void Mf_sysex(int, unsigned char*) override {}
    void Mf_arbitrary(int, unsigned char*) override {}
    void Mf_metamisc(int, int, unsigned char*) override {}
    void Mf_seqnum(int) override {}
    void Mf_smpte(int, int, int, int, int) override {}
    void Mf_chanprefix(int) override {}
    void Mf_portprefix(int) override {}
    void Mf_sqspecific(int, unsigned char*) override {}
    void Mf_timesig(int numerator, int power, int, int) override {
        if (m_priming) return;
        RequireFields(0x58, 4, "拍子");
        CheckTime();
        if (numerator < 1 || numerator > 64 || power > 6) return;  // not a meter we can write
        m_meters.push_back({Beats(Mf_currtime), numerator, 1 << power});
    }
    void Mf_tempo(int microseconds) override {
        if (m_priming) return;
        RequireFields(0x51, 3, "テンポ");
        if (microseconds <= 0) throw Stop{"テンポが0になっています"};
        if (m_tempos++ == 0) m_tempo = 60'000'000.0 / microseconds;
    }
    void Mf_keysig(int fifths, int) override {
        if (m_priming) return;
        RequireFields(0x59, 2, "調号");
        if (m_keyGiven) return;
        m_keyGiven = true;
        m_fifths = static_cast<signed char>(fifths & 0xFF);
    }
    void Mf_text(int type, int length, unsigned char* text) override {
        if (m_priming || type != 3 || !m_trackName.empty() || text == nullptr) return;
        m_trackName =
            NameText(std::string_view(reinterpret_cast<const char*>(text),
                                      static_cast<std::size_t>(std::clamp(length, 0, 4096))));
    }

  private:
    // The meta event just read, which ends where reading stands, holds its fixed fields: FF, its
    // type, a length of at least that many bytes, the bytes.
    void RequireFields(int type, std::size_t fields, const char* what) const {
        const auto byte = [this](std::size_t at) {
            return static_cast<unsigned char>(m_bytes[at]);
        };
        for (std::size_t length = fields; length < 0x80 && length + 3 <= m_next; ++length) {
            const std::size_t at = m_next - length - 3;
            if (byte(at) == 0xFF && byte(at + 1) == type && byte(at + 2) == length) return;
        }
        throw Stop{std::string(what) + "のメタイベントが短すぎます"};
    }
    double Beats(long ticks) const { return static_cast<double>(ticks) / m_ticksPerBeat; }
    // A delta time that never ends, or adds up past any song, is a broken file.
    void CheckTime() const {
        if (Mf_currtime < 0 || Beats(Mf_currtime) > MaxBeats) throw Stop{"時間が長すぎます"};
    }
    // portSMF hands on a data byte of 128 or more (a status byte where data should be) as it is.
    static void CheckPitch(int pitch) {
        if (pitch < 0 || pitch > 127) throw Stop{"音の高さが0〜127の外にあります"};
    }
    void AddNote(int channel, int pitch, long start, long end) {
        if (channel == DrumChannel) {
            ++m_drumNotes;
            return;
        }
        if (++m_noteCount > MaxNotes) throw Stop{"音が多すぎます（200万まで）"};
        auto [part, added] = m_parts.try_emplace({m_track, channel});
        if (added) {
            part->second.track = m_track;
            part->second.channel = channel;
            part->second.name = m_trackName;
        }
        part->second.notes.push_back({Beats(start), Beats(std::max(end, start)), pitch, 1});
    }
    void Finish(Score& score) {
        std::map<int, int> channelsOfTrack;
        for (const auto& [key, part] : m_parts) ++channelsOfTrack[key.first];
        for (auto& [key, part] : m_parts) {
            // Notes come per track in order of their ends; the fitting wants them by start.
            std::stable_sort(
                part.notes.begin(), part.notes.end(),
                [](const ScoreNote& a, const ScoreNote& b) { return a.start < b.start; });
            for (ScoreNote& note : part.notes) note.length -= note.start;
            part.namedHand = channelsOfTrack[key.first] == 1 ? HandOfName(part.name) : 0;
            score.parts.push_back(std::move(part));
        }
        std::stable_sort(m_meters.begin(), m_meters.end(),
                         [](const Meter& a, const Meter& b) { return a.at < b.at; });
        score.meters = std::move(m_meters);
        score.tempo = m_tempo;
        score.tempoChanges = std::max(0, m_tempos - 1);
        score.keyFifths = m_fifths;
    }

    std::string_view m_bytes;
    std::size_t m_next = 0;
    bool m_priming = false;
    std::string m_error;
    double m_ticksPerBeat = 96;
    int m_track = 0;
    std::string m_trackName;
    std::map<std::pair<int, int>, std::deque<long>> m_open;
    std::map<std::pair<int, int>, ScorePart> m_parts;
    std::vector<Meter> m_meters;
    double m_tempo = 120;
    int m_tempos = 0;
    bool m_keyGiven = false;
    int m_fifths = 0;
    std::size_t m_noteCount = 0;
    std::size_t m_drumNotes = 0;
};

}  // namespace

ReadResult ReadSmf(std::string_view bytes) {
    Collector collector;
    return collector.Read(bytes);
}

}  // namespace importing
