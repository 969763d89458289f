// Feeds arbitrary bytes to the music-file reader and the notation, and checks that the
// constant-memory parser agrees with the plain string functions on every field, and that
// checking each field finds its places without fault.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "music_check.h"
#include "music_file.h"
#include "notation.h"

using namespace performance;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    MusicFileReader reader(in);
    std::size_t fields = 0;
    while (!reader.AtEnd()) {
        const Token token = reader.Read();
        if (++fields > size + 1) std::abort();  // every field consumes at least one byte
        // What --check prints goes to a terminal: no control character of the file gets there
        // raw (C0, DEL, or C1 in UTF-8), and each finding stays one short line.
        for (const Finding& finding : CheckToken(token)) {
            const std::string& m = finding.message;
            if (m.size() > 400) std::abort();
            for (std::size_t i = 0; i < m.size(); ++i) {
                const auto c = static_cast<unsigned char>(m[i]);
                if (c < 0x20 || c == 0x7F) std::abort();
                if (c == 0xC2 && i + 1 < m.size() && static_cast<unsigned char>(m[i + 1]) < 0xA0)
                    std::abort();
            }
        }
        if (token.size != token.text.size()) continue;  // only the start of the field is kept
        const ParsedToken& parsed = token.parsed;
        if (parsed.length != TokenLength(token.text)) std::abort();
        if (parsed.length < 1 || parsed.length > 10) std::abort();
        if (parsed.chord != IsChord(token.text)) std::abort();
        if (!parsed.chord) {
            if (parsed.value != NoteValue(token.text)) std::abort();
            if (parsed.value != NoNote && (parsed.value < -24 || parsed.value > 36)) std::abort();
            continue;
        }
        const auto members = ChordMemberValues(token.text);
        if (members.size() != parsed.memberCount) std::abort();
        for (int i = 0; i < parsed.soundingMembers(); ++i) {
            if (members[static_cast<std::size_t>(i)] !=
                parsed.members[static_cast<std::size_t>(i)]) {
                std::abort();
            }
        }
    }
    return 0;
}
