#include "music_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

namespace performance {
namespace {

constexpr char32_t Replacement = U'\uFFFD';

bool IsBlank(char32_t c) {
    return c == U' ' || c == U'\t';
}

}  // namespace

Cp932Decoder::Cp932Decoder() : m_iconv(iconv_open("UTF-32LE", "CP932")) {}

Cp932Decoder::~Cp932Decoder() {
    if (m_iconv != reinterpret_cast<iconv_t>(-1)) iconv_close(m_iconv);
}

void Cp932Decoder::Decode(const char* bytes, std::size_t size, bool last, std::u32string& out) {
    m_pending.append(bytes, size);
    if (m_iconv == reinterpret_cast<iconv_t>(-1)) {
        // No CP932 converter on this system: ASCII still reads, everything else is replaced.
        for (const unsigned char b : m_pending) out.push_back(b < 0x80 ? b : Replacement);
        m_pending.clear();
        return;
    }
    std::size_t used = 0;
    std::u32string chunk(m_pending.size() + 1, U'\0');
    while (used < m_pending.size()) {
        char* in = m_pending.data() + used;
        std::size_t inLeft = m_pending.size() - used;
        char* outPtr = reinterpret_cast<char*>(chunk.data());
        std::size_t outLeft = chunk.size() * sizeof(char32_t);
        const std::size_t result = iconv(m_iconv, &in, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        const std::size_t produced =
            static_cast<std::size_t>(outPtr - reinterpret_cast<char*>(chunk.data())) /
            sizeof(char32_t);
        out.append(chunk.data(), produced);
        used = static_cast<std::size_t>(in - m_pending.data());
        if (result != static_cast<std::size_t>(-1)) break;
        if (error == EINVAL && !last) break;  // a character cut by the chunk's end
        if (error == E2BIG) continue;
        // A byte that starts no CP932 character, or a cut character at the very end.
        out.push_back(Replacement);
        ++used;
        iconv(m_iconv, nullptr, nullptr, nullptr, nullptr);
    }
    m_pending.erase(0, used);
}

std::u32string DecodeCp932(std::string_view bytes) {
    Cp932Decoder decoder;
    std::u32string out;
    decoder.Decode(bytes.data(), bytes.size(), true, out);
    return out;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

MusicFileReader::MusicFileReader(std::istream& in) : m_in(&in) {}

bool MusicFileReader::Open(const std::filesystem::path& path) {
    Close();
    // Without O_NONBLOCK, opening a FIFO would wait for a writer that may never come.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_fd = fd;
    return true;
}

void MusicFileReader::OpenText(std::string bytes) {
    Close();
    m_text = std::make_unique<std::istringstream>(std::move(bytes));
    m_in = m_text.get();
}

void MusicFileReader::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_in = nullptr;
    m_text.reset();
    m_chars.clear();
    m_next = 0;
    m_streamDone = false;
    m_line = 1;
    m_column = 1;
}

// Fills m_bytes as far as the source allows; false when the source has ended (or failed).
bool MusicFileReader::ReadBytes(std::size_t& got) {
    got = 0;
    if (m_fd < 0) {
        m_in->read(m_bytes.data(), static_cast<std::streamsize>(m_bytes.size()));
        got = static_cast<std::size_t>(m_in->gcount());
        return got == m_bytes.size() && *m_in;
    }
    while (got < m_bytes.size()) {
        const ssize_t n = ::read(m_fd, m_bytes.data() + got, m_bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

bool MusicFileReader::Fill() {
    while (m_next >= m_chars.size()) {
        if ((m_fd < 0 && m_in == nullptr) || m_streamDone) return false;
        m_chars.clear();
        m_next = 0;
        std::size_t got = 0;
        m_streamDone = !ReadBytes(got);
        m_decoder.Decode(m_bytes.data(), got, m_streamDone, m_chars);
    }
    return true;
}

bool MusicFileReader::PeekChar(char32_t& c) {
    if (!Fill()) return false;
    c = m_chars[m_next];
    return true;
}

void MusicFileReader::Advance() {
    const char32_t c = m_chars[m_next++];
    if (c == U'\n') {
        ++m_line;
        m_column = 1;
    } else if (c == U'\r') {
        // CR LF is one line end; the LF that follows counts it.
        char32_t next = 0;
        if (!PeekChar(next) || next != U'\n') {
            ++m_line;
            m_column = 1;
        }
    } else {
        ++m_column;
    }
}

bool MusicFileReader::AtEnd() {
    char32_t c;
    return !PeekChar(c);
}

Token MusicFileReader::Read() {
    Token token;
    TokenParser parser;
    char32_t c = 0;
    auto take = [&](char32_t ch) {
        parser.Add(ch);
        if (token.text.size() < Token::KeptCharacters) token.text.push_back(ch);
        if (ch == Replacement) token.invalidBytes = true;
    };
    while (PeekChar(c) && IsBlank(c)) Advance();
    token.line = m_line;
    token.column = m_column;

    if (PeekChar(c) && c == U'"') {
        // A quoted field runs to the next quote, commas and line ends included; what follows
        // the closing quote up to the separator is not part of the field.
        token.quoted = true;
        Advance();
        while (PeekChar(c) && c != U'"') {
            take(c);
            Advance();
        }
        if (PeekChar(c)) Advance();
        while (PeekChar(c) && c != U',' && c != U'\r' && c != U'\n') Advance();
    } else {
        // Blanks inside the field stay; those at its end are dropped. A run of blanks is taken
        // as it comes and undone when the field ends after it, so that no run is ever stored.
        std::optional<TokenParser> beforeBlanks;
        std::size_t keptBeforeBlanks = 0;
        while (PeekChar(c) && c != U',' && c != U'\r' && c != U'\n') {
            if (IsBlank(c) && !beforeBlanks) {
                beforeBlanks = parser;
                keptBeforeBlanks = token.text.size();
            } else if (!IsBlank(c)) {
                beforeBlanks.reset();
            }
            take(c);
            Advance();
        }
        if (beforeBlanks) {
            parser = *beforeBlanks;
            token.text.resize(keptBeforeBlanks);
        }
    }
    // The separator: a comma, or one line end (CR LF counts as one).
    if (PeekChar(c)) {
        Advance();
        if (c == U'\r' && PeekChar(c) && c == U'\n') Advance();
    }
    token.size = parser.size();
    token.parsed = parser.Finish();
    return token;
}

}  // namespace performance
