// Writing what is played as a music file: timed note-ons and note-offs become tokens of the
// notation, quantized to sixteenth-note units at a tempo, so that the file plays back the same
// pitches at the same quantized times. Plain C++; the caller owns the file and the clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace performance {

// The offsets the notation can write: ドW to シI#.
inline constexpr int LowestWrittenOffset = -24;
inline constexpr int HighestWrittenOffset = 36;
// Units of a bar of 4/4; each bar starts a new line where no note is held across it.
inline constexpr int UnitsPerLine = 16;

// The one spelling the writer uses for an offset, without its length digit (UTF-8):
// name, at most one octave letter, then a sharp. Empty outside the written range.
std::string CanonicalPitch(int offset);

// UTF-8 text of the writer's alphabet (pitch names, octave letters, #, digits, marks) as CP932.
std::string ToCp932(const std::string& utf8);

class MusicWriter {
  public:
    // Times are nanoseconds on any clock that does not go back; the first note-on is unit 0.
    explicit MusicWriter(int tempo);

    void NoteOn(std::int64_t nanos, int channel, int offset);
    void NoteOff(std::int64_t nanos, int channel, int offset);
    // Time has passed without a message: a token whose length can no longer change is written.
    void Advance(std::int64_t nanos);
    // Ends every sounding note at this time and writes everything that is left.
    void Finish(std::int64_t nanos);

    // The text completed since the last call, CP932 with CR LF line ends.
    std::string TakeText();

    // What could not be written as played; each is worth telling the player once.
    bool longNotesCut() const { return m_longNotesCut; }
    bool chordMembersDropped() const { return m_chordMembersDropped; }
    bool outOfRangeSkipped() const { return m_outOfRangeSkipped; }
    bool finished() const { return m_finished; }

  private:
    struct Note {
        int channel;
        int offset;
        std::int64_t end;  // unit; -1 while held
    };
    std::int64_t unitOf(std::int64_t nanos) const;
    // Writes the current group's token, and its trailing rests when the next onset is known
    // (next < 0: the recording has ended).
    void closeGroup(std::int64_t next);
    void writeToken();
    void writeRests(std::int64_t from, std::int64_t to);
    void put(std::int64_t position, const std::string& token);
    // The kept pitches of the group, lowest first, and the units they sound (kHeld if held).
    std::vector<int> keptPitches();
    std::int64_t soundingUnits(const std::vector<int>& kept) const;

    double m_unitNanos;
    bool m_started = false;
    bool m_finished = false;
    std::int64_t m_origin = 0;
    bool m_hasGroup = false;
    std::int64_t m_groupStart = 0;
    std::vector<Note> m_group;
    bool m_tokenWritten = false;
    std::int64_t m_tokenLength = 0;
    // No later onset can fall on an earlier unit than this.
    std::int64_t m_floor = 0;
    bool m_anythingWritten = false;
    std::string m_text;
    bool m_longNotesCut = false;
    bool m_chordMembersDropped = false;
    bool m_outOfRangeSkipped = false;
};

}  // namespace performance
