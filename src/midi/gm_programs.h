// The 128 General MIDI programs (instruments) by number, English and Japanese name, and the
// loose matching of a name a player types.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace midi {

struct GmProgram {
    std::string_view english;
    std::string_view japanese;
};

// Indexed by the program number 0..127, as a program-change message carries it.
extern const std::array<GmProgram, 128> GmPrograms;

// A number 0..127, or a name in English or Japanese matched loosely: case, width, spaces,
// punctuation and hiragana against katakana do not count, and a part of a name is enough (the
// lowest-numbered program that contains it wins: "piano" is 0). Nothing when none matches.
std::optional<int> findGmProgram(const std::string& text);

// The packed program-change message.
constexpr std::uint32_t ProgramChangeMessage(int program, int channel) {
    return static_cast<std::uint32_t>(0xC0 | (channel & 0x0F) | (program & 0x7F) << 8);
}

}  // namespace midi
