#include "notation.h"

namespace performance {
namespace {

// Character at 1-based position, or 0 when the string is shorter.
char32_t At(std::u32string_view s, std::size_t position) {
    return position >= 1 && position <= s.size() ? s[position - 1] : 0;
}

std::int16_t Modifiers(std::u32string_view token, std::int16_t base, std::size_t mark) {
    int v = base;
    const char32_t c = At(token, mark);
    const bool sharpAfter = At(token, mark + 1) == U'#';
    switch (c) {
        case U'L':
            v = v - 12 + (sharpAfter ? 1 : 0);
            break;
        case U'H':
            v = v + 12 + (sharpAfter ? 1 : 0);
            break;
        // A sharp alone: an octave letter after it is not looked at.
        case U'#':
            v = v + 1;
            break;
        case U'W':
            v = v - 24 + (sharpAfter ? 1 : 0);
            break;
        case U'I':
            v = v + 24 + (sharpAfter ? 1 : 0);
            break;
        default:
            break;
    }
    return static_cast<std::int16_t>(v);
}

}  // namespace

std::int16_t ApplyModifiers(std::u32string_view token, std::int16_t base) {
    return Modifiers(token, base, 2);
}

std::int16_t ApplyModifiersFa(std::u32string_view token, std::int16_t base) {
    return Modifiers(token, base, 3);
}

std::int16_t NoteValue(std::u32string_view token) {
    // Only the first character names the pitch; "^" (hold the previous note, in the help text)
    // has no meaning of its own and falls under "anything else" like every unknown character.
    switch (At(token, 1)) {
        case U'ド':
            return ApplyModifiers(token, 0);
        case U'レ':
            return ApplyModifiers(token, 2);
        case U'ミ':
            return ApplyModifiers(token, 4);
        case U'フ':
            return ApplyModifiersFa(token, 5);
        case U'ソ':
            return ApplyModifiers(token, 7);
        case U'ラ':
            return ApplyModifiers(token, 9);
        case U'シ':
            return ApplyModifiers(token, 11);
        case U'-':
            return NoNote;
        default:
            return 0;
    }
}

std::int16_t TokenLength(std::u32string_view token) {
    if (token.empty()) return 1;
    const char32_t last = token.back();
    if (last < U'0' || last > U'9') return 1;
    const auto digit = static_cast<std::int16_t>(last - U'0');
    return digit == 0 ? 10 : digit;
}

bool IsChord(std::u32string_view token) {
    return token.find(U':') != std::u32string_view::npos;
}

std::vector<std::int16_t> ChordMemberValues(std::u32string_view token) {
    std::vector<std::int16_t> values;
    if (!IsChord(token)) return values;
    const std::size_t length = token.size();
    std::size_t start = 1;
    std::size_t p = token.find(U':') + 1;  // 1-based position of the colon
    while (start < length) {
        values.push_back(NoteValue(token.substr(start - 1, p - start)));
        start = p + 1;
        const std::size_t next = start <= length ? token.find(U':', start - 1) : token.npos;
        p = next == token.npos ? length + 1 : next + 1;
    }
    return values;
}

std::int16_t TokenParser::Member::value() const {
    return NoteValue(std::u32string_view(head.data(), static_cast<std::size_t>(headSize)));
}

void TokenParser::commit(const Member& member, ParsedToken& into) const {
    if (into.memberCount < MaxChordNotes) into.members[into.memberCount] = member.value();
    ++into.memberCount;
}

void TokenParser::Add(char32_t c) {
    ++m_size;
    m_last = c;
    // A member closed by a colon counts once anything follows that colon.
    if (m_hasClosed) {
        commit(m_closed, m_result);
        m_hasClosed = false;
    }
    if (c == U':') {
        m_chord = true;
        m_closed = m_current;
        m_hasClosed = true;
        m_current = Member{m_size + 1, {}, 0};
        return;
    }
    if (m_current.headSize < static_cast<int>(m_current.head.size())) {
        m_current.head[static_cast<std::size_t>(m_current.headSize++)] = c;
    }
}

ParsedToken TokenParser::Finish() const {
    ParsedToken result = m_result;
    const char32_t last[1] = {m_last};
    result.length = TokenLength(std::u32string_view(last, m_size == 0 ? 0 : 1));
    result.chord = m_chord;
    if (!m_chord) {
        result.value = m_current.value();
        return result;
    }
    // A member counts when it starts before the token's last character.
    if (m_hasClosed && m_closed.start < m_size) commit(m_closed, result);
    if (m_current.start < m_size) commit(m_current, result);
    return result;
}

ParsedToken ParseToken(std::u32string_view token) {
    TokenParser parser;
    for (const char32_t c : token) parser.Add(c);
    return parser.Finish();
}

}  // namespace performance
