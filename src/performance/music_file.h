// Reading a music file: CP932 (Shift-JIS) text cut into fields at commas and line ends, one field
// at a time, in bounded memory whatever the size of the file, its lines or its fields.
#pragma once

#include <iconv.h>

#include <cstdint>
#include <filesystem>
#include <istream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "notation.h"

namespace performance {

// Decodes CP932 bytes to characters, chunk by chunk. Bytes that are not CP932 become U+FFFD.
class Cp932Decoder {
  public:
    Cp932Decoder();
    ~Cp932Decoder();
    Cp932Decoder(const Cp932Decoder&) = delete;
    Cp932Decoder& operator=(const Cp932Decoder&) = delete;
    // Appends the characters of these bytes to out; a character cut by the chunk's end is
    // completed by the next call. last: no more bytes follow.
    void Decode(const char* bytes, std::size_t size, bool last, std::u32string& out);

  private:
    iconv_t m_iconv;
    std::string m_pending;
};

std::u32string DecodeCp932(std::string_view bytes);
// Appends a character as UTF-8, as messages and names are kept.
void AppendUtf8(std::string& out, char32_t c);

// One field of the file.
struct Token {
    // The field's characters, blanks around it and quotes dropped; only the first
    // KeptCharacters of a longer field are kept (its meaning is in `parsed`).
    std::u32string text;
    std::uint64_t size = 0;  // characters in the whole field
    ParsedToken parsed;
    std::uint64_t line = 1;     // where the field starts, 1-based
    std::uint64_t column = 1;   // in characters
    bool invalidBytes = false;  // the field held bytes that are not CP932
    bool quoted = false;        // written in double quotes (its text starts one column later)
    static constexpr std::size_t KeptCharacters = 4096;
};

class MusicFileReader {
  public:
    MusicFileReader() = default;
    ~MusicFileReader() { Close(); }
    MusicFileReader(const MusicFileReader&) = delete;
    MusicFileReader& operator=(const MusicFileReader&) = delete;
    // Reads from a stream that the reader does not own (tests, in-memory files).
    explicit MusicFileReader(std::istream& in);
    // Opens a file; false when it cannot be opened or is not a regular file. A FIFO or a device
    // is refused without waiting for a writer or reading endless bytes.
    bool Open(const std::filesystem::path& path);
    // Reads text made in memory (a song imported from another format), CP932 like a file.
    void OpenText(std::string bytes);
    void Close();

    // True when no characters remain: the line end that closes the last line gives no token.
    bool AtEnd();
    // The next field; call only when AtEnd() is false.
    Token Read();

  private:
    bool Fill();
    bool PeekChar(char32_t& c);
    void Advance();

    bool ReadBytes(std::size_t& got);

    int m_fd = -1;  // the opened file, or -1 when reading from m_in
    std::istream* m_in = nullptr;
    std::unique_ptr<std::istringstream> m_text;  // what OpenText gave, read through m_in
    Cp932Decoder m_decoder;
    std::vector<char> m_bytes = std::vector<char>(64 * 1024);
    std::u32string m_chars;
    std::size_t m_next = 0;
    bool m_streamDone = false;
    std::uint64_t m_line = 1;
    std::uint64_t m_column = 1;
};

}  // namespace performance
