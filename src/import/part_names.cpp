#include "part_names.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "music_file.h"

namespace importing {
namespace {

bool HasWord(const std::string& lower, std::string_view word) {
    for (std::size_t at = lower.find(word); at != std::string::npos;
         at = lower.find(word, at + 1)) {
        const bool startsWord = at == 0 || !std::isalpha(static_cast<unsigned char>(lower[at - 1]));
        const std::size_t end = at + word.size();
        const bool endsWord =
            end == lower.size() || !std::isalpha(static_cast<unsigned char>(lower[end]));
        if (startsWord && endsWord) return true;
    }
    return false;
}

bool IsUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t more = lead < 0x80           ? 0
                                 : (lead >> 5) == 0x6  ? 1
                                 : (lead >> 4) == 0xE  ? 2
                                 : (lead >> 3) == 0x1E ? 3
                                                       : 4;
        if (more > 3 || bytes.size() - i <= more) return false;
        for (std::size_t k = 1; k <= more; ++k) {
            if ((static_cast<unsigned char>(bytes[i + k]) >> 6) != 2) return false;
        }
        i += more + 1;
    }
    return true;
}

}  // namespace

// A track's name as text for the lists and messages: UTF-8 as it is, else Shift-JIS (as Japanese
// files name their tracks), else Latin-1; control characters dropped.
std::string NameText(std::string_view bytes) {
    constexpr std::size_t MaxCharacters = 80;
    std::u32string characters;
    if (IsUtf8(bytes)) {
        std::string out;
        std::size_t count = 0;
        for (std::size_t i = 0; i < bytes.size() && count < MaxCharacters; ++count) {
            const auto lead = static_cast<unsigned char>(bytes[i]);
            const std::size_t size = lead < 0x80          ? 1
                                     : (lead >> 5) == 0x6 ? 2
                                     : (lead >> 4) == 0xE ? 3
                                                          : 4;
            if (size > 1 || (lead >= 0x20 && lead != 0x7F)) out += bytes.substr(i, size);
            i += size;
        }
        return out;
    }
    bytes = bytes.substr(0, 2 * MaxCharacters);
    characters = performance::DecodeCp932(bytes);
    if (characters.find(U'\uFFFD') != std::u32string::npos) {
        characters.assign(bytes.begin(), bytes.end());
        for (char32_t& c : characters) c &= 0xFF;
    }
    std::string out;
    for (const char32_t c : characters) {
        if (c >= 0x20 && c != 0x7F && !(c >= 0x80 && c < 0xA0)) performance::AppendUtf8(out, c);
    }
    return out;
}

int HandOfName(std::string_view name) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool right = HasWord(lower, "right") || HasWord(lower, "rh") ||
                       HasWord(lower, "treble") || lower.find("右手") != std::string::npos ||
                       HasWord(lower, "r.h.");
    const bool left = HasWord(lower, "left") || HasWord(lower, "lh") || HasWord(lower, "bass") ||
                      lower.find("左手") != std::string::npos || HasWord(lower, "l.h.");
    if (right == left) return 0;
    return right ? 1 : 2;
}

}  // namespace importing
