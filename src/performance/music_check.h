// Checking a music file: every place where a token leans on one of the notation's fallbacks,
// with where it stands. Playing is not affected: such tokens play as they always do.
#pragma once

#include <cstdint>
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
// Reads the whole file as a performance would and checks each token, in file order.
std::vector<Finding> CheckMusicFile(MusicFileReader& reader);

}  // namespace performance
