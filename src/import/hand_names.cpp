#include "hand_names.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace import {
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

}  // namespace

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

}  // namespace import
