// Which hand a track's or a part's name speaks of. Plain C++.
#pragma once

#include <string_view>

namespace import {

// 1: the right hand ("Right", "RH", "右手", "Treble"), 2: the left ("Left", "LH", "左手",
// "Bass"), 0: neither or both.
int HandOfName(std::string_view name);

}  // namespace import
