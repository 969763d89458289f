// The music-file notation: Japanese solfège tokens (ド2, レ#4, ファH#2, -4, ド:ミ:ソ4) turned into
// semitone offsets from middle C and lengths in sixteenth-note units. Nothing is ever an error:
// every token, however malformed, has a value, and the fallbacks are part of the notation.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace performance {

inline constexpr std::int16_t NoNote = -99;
// At most this many notes of a chord sound; later members are read and dropped.
inline constexpr int MaxChordNotes = 10;

// Value of a note token or chord member; looks at the first character and the marks after it.
std::int16_t NoteValue(std::u32string_view token);
// Octave letter (L H W I) then sharp, or a sharp alone, at position 2 (ド レ ミ ソ ラ シ) ...
std::int16_t ApplyModifiers(std::u32string_view token, std::int16_t base);
// ... or at position 3 (ファ, whose second character is skipped unseen).
std::int16_t ApplyModifiersFa(std::u32string_view token, std::int16_t base);
// Length in units from the token's last character: 1..9 as written, 0 as 10, anything else 1.
std::int16_t TokenLength(std::u32string_view token);

bool IsChord(std::u32string_view token);
// The values of all the chord's members, in order, including those beyond the tenth.
std::vector<std::int16_t> ChordMemberValues(std::u32string_view token);

// What one token plays.
struct ParsedToken {
    bool chord = false;
    std::int16_t value = 0;  // a single token's note, or NoNote for a rest
    // A chord's first members (at most ten) and how many members it had in all.
    std::array<std::int16_t, MaxChordNotes> members{};
    std::uint64_t memberCount = 0;
    std::int16_t length = 1;  // 1..10 units

    int soundingMembers() const {
        return memberCount > MaxChordNotes ? MaxChordNotes : static_cast<int>(memberCount);
    }
    friend bool operator==(const ParsedToken&, const ParsedToken&) = default;
};

// Parses a token fed one character at a time, in constant memory, so that a token of any length
// (a chord of millions of members) is read without keeping it. Gives the same result as the
// functions above applied to the whole token.
class TokenParser {
  public:
    void Add(char32_t c);
    ParsedToken Finish() const;
    std::uint64_t size() const { return m_size; }

  private:
    // A chord member: where it starts and its first characters, all that its value depends on.
    struct Member {
        std::uint64_t start = 1;
        std::array<char32_t, 4> head{};
        int headSize = 0;
        std::int16_t value() const;
    };
    void commit(const Member& member, ParsedToken& into) const;

    std::uint64_t m_size = 0;
    char32_t m_last = 0;
    bool m_chord = false;
    Member m_current;
    // A member closed by a colon; whether it counts depends on whether more characters follow.
    bool m_hasClosed = false;
    Member m_closed;
    ParsedToken m_result;
};

ParsedToken ParseToken(std::u32string_view token);

}  // namespace performance
