// A reader of Standard MIDI Files written from the file format alone, not from the program's
// writer, so that the tests judge the program's files by what any player would read in them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct SmfFile {
    // A header of six bytes, one track whose length is the rest of the file, channel messages
    // with full status bytes, meta events, and the end of the track last.
    bool whole = false;
    std::string problem;  // why not, when not whole
    int format = -1, tracks = 0, division = 0;
    std::uint32_t microsPerQuarter = 0;  // from the tempo event
    // Absolute tick and the channel message's three bytes as they stand in the file (0x903C7F).
    std::vector<std::pair<std::int64_t, std::uint32_t>> events;
};

SmfFile ReadSmf(const std::string& bytes);

}  // namespace testing_support
