// The names of parts and tracks: as text, and which hand they speak of. Plain C++.
#pragma once

#include <string>
#include <string_view>

namespace importing {

// A name as a file gives it, as text for the lists and messages: UTF-8 as it is, else Shift-JIS
// (as Japanese MIDI files name their tracks), else Latin-1; control characters dropped.
std::string NameText(std::string_view bytes);

// 1: the right hand ("Right", "RH", "右手", "Treble"), 2: the left ("Left", "LH", "左手",
// "Bass"), 0: neither or both.
int HandOfName(std::string_view name);

}  // namespace importing
