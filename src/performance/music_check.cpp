#include "music_check.h"

#include <algorithm>

namespace performance {
namespace {

bool IsDigit(char32_t c) {
    return c >= U'0' && c <= U'9';
}
bool IsPitch(char32_t c) {
    return c == U'ド' || c == U'レ' || c == U'ミ' || c == U'フ' || c == U'ソ' || c == U'ラ' ||
           c == U'シ';
}
bool IsOctave(char32_t c) {
    return c == U'L' || c == U'H' || c == U'W' || c == U'I';
}

// The file's own characters as they go into a message on the user's terminal: control
// characters (an escape sequence could rewrite the terminal) are written as \xHH, and a long
// run is cut short, so that one finding stays one readable line.
std::string Quote(std::u32string_view text) {
    constexpr std::size_t MaxQuoted = 32;
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < MaxQuoted; ++i) {
        const char32_t c = text[i];
        if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            const char* const hex = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            AppendUtf8(out, c);
        }
    }
    if (text.size() > MaxQuoted) out += "…";
    return out;
}

class TokenChecker {
  public:
    explicit TokenChecker(const Token& token) : m_token(token) {
        // Where each kept character stands; a quoted field may run over line ends.
        std::uint64_t line = token.line;
        std::uint64_t column = token.column + (token.quoted ? 1 : 0);
        for (std::size_t i = 0; i < token.text.size(); ++i) {
            m_where.push_back({line, column});
            const char32_t c = token.text[i];
            const bool crlf = c == U'\r' && i + 1 < token.text.size() && token.text[i + 1] == U'\n';
            if ((c == U'\n' || c == U'\r') && !crlf) {
                ++line;
                column = 1;
            } else if (c != U'\r') {
                ++column;
            }
        }
    }

    std::vector<Finding> Check() {
        const std::u32string_view text = m_token.text;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == U'\uFFFD') add(i, "CP932の文字ではないバイトです。");
        }
        if (m_token.size == 0) {
            addAtStart("空のフィールドです。ドを長さ1で演奏します。");
            return std::move(m_findings);
        }
        const bool complete = m_token.size == text.size();
        if (!m_token.parsed.chord) {
            CheckNote(0, text.size(), complete);
        } else {
            CheckChord(complete);
        }
        if (complete && !IsDigit(text.back())) {
            add(text.size() - 1, "長さの数字がありません。長さ1で演奏します。");
        }
        return std::move(m_findings);
    }

  private:
    void add(std::size_t index, std::string message) {
        const auto& [line, column] = m_where[index];
        m_findings.push_back({line, column, std::move(message)});
    }
    void addAtStart(std::string message) {
        m_findings.push_back({m_token.line, m_token.column, std::move(message)});
    }
    void ignored(std::size_t from, std::size_t to) {
        add(from, "「" + Quote(std::u32string_view(m_token.text).substr(from, to - from)) +
                      "」は無視されます。");
    }

    // The note (or rest) written in text[begin, end); lengthAtEnd: its last character may be
    // the token's length digit.
    void CheckNote(std::size_t begin, std::size_t end, bool lengthAtEnd) {
        const std::u32string_view text = m_token.text;
        if (begin == end) {
            if (begin < m_where.size()) {
                add(begin, "音名のない和音の音です。ドとして演奏します。");
            } else {
                addAtStart("音名のない和音の音です。ドとして演奏します。");
            }
            return;
        }
        const char32_t first = text[begin];
        if (!IsPitch(first) && first != U'-') {
            add(begin, "「" + Quote(text.substr(begin, 1)) +
                           "」は音名ではありません。ドとして演奏します。");
            return;
        }
        std::vector<bool> used(end - begin, false);
        used[0] = true;
        // Bytes that are not CP932 are reported as such already.
        for (std::size_t i = begin; i < end; ++i)
            used[i - begin] = used[i - begin] || text[i] == U'\uFFFD';
        if (lengthAtEnd && IsDigit(text[end - 1])) used[end - begin - 1] = true;
        std::size_t mark = begin + 1;
        if (first == U'フ') {
            if (end - begin >= 2 && text[begin + 1] == U'ァ') used[1] = true;
            mark = begin + 2;
        }
        if (first != U'-' && mark < end) {
            const char32_t c = text[mark];
            if (c == U'#' || IsOctave(c)) used[mark - begin] = true;
            if (IsOctave(c) && mark + 1 < end && text[mark + 1] == U'#')
                used[mark + 1 - begin] = true;
        }
        for (std::size_t i = 0; i < used.size();) {
            if (used[i]) {
                ++i;
                continue;
            }
            std::size_t j = i;
            while (j < used.size() && !used[j]) ++j;
            ignored(begin + i, begin + j);
            i = j;
        }
    }

    void CheckChord(bool complete) {
        const std::u32string_view text = m_token.text;
        const std::size_t length = text.size();
        std::size_t start = 0;
        std::size_t member = 0;
        while (start <= length) {
            std::size_t colon = text.find(U':', start);
            if (colon == std::u32string_view::npos) colon = length;
            // A member counts when it starts before the token's last character.
            const bool counts = start + 1 < m_token.size;
            if (!counts) {
                if (complete && start < length) {
                    add(start, "長さの数字がないため、最後の「" + Quote(text.substr(start)) +
                                   "」は和音に入りません。");
                }
                break;
            }
            if (member == MaxChordNotes) {
                add(start, "和音の11音目からは演奏されません。");
            } else if (member < MaxChordNotes) {
                CheckNote(start, colon, colon == length && complete);
            }
            ++member;
            if (colon == length) break;
            start = colon + 1;
        }
    }

    const Token& m_token;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> m_where;
    std::vector<Finding> m_findings;
};

}  // namespace

std::vector<Finding> CheckToken(const Token& token) {
    auto findings = TokenChecker(token).Check();
    std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    return findings;
}

std::uint64_t CheckMusicFile(MusicFileReader& reader,
                             const std::function<void(const Finding&)>& found) {
    std::uint64_t count = 0;
    while (!reader.AtEnd()) {
        for (const auto& finding : CheckToken(reader.Read())) {
            found(finding);
            ++count;
        }
    }
    return count;
}

}  // namespace performance
