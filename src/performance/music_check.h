// Checking a music file: every place where a token leans on one of the notation's fallbacks,
// with where it stands. Playing is not affected: such tokens play as they always do.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "music_file.h"

namespace performance {

struct Finding {
    std::uint64_t line = 0;
    std::uint64_t column = 0;  // in characters, 1-based
    std::string message;       // UTF-8
};

std::vector<Finding> CheckToken(const Token& token);
// Reads the whole file as a performance would and checks each token, in file order, handing
// each token's findings on as soon as it is read: nothing of the file is kept, so memory stays
// the same whatever its size. Returns the number of findings.
std::uint64_t CheckMusicFile(MusicFileReader& reader,
                             const std::function<void(const Finding&)>& found);

}  // namespace performance
