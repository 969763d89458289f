#include "song_import.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "midi_file_reader.h"
#include "musicxml_reader.h"

namespace importing {
namespace {

enum class Kind { NotImported, Smf, MusicXml, Mxl };

std::string Extension(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

Kind KindOfBytes(std::string_view head) {
    if (head.starts_with("MThd") || head.starts_with("RIFF")) return Kind::Smf;
    if (head.starts_with("PK\x03\x04")) return Kind::Mxl;
    if (head.find("<score-partwise") != std::string_view::npos ||
        head.find("<score-timewise") != std::string_view::npos) {
        return Kind::MusicXml;
    }
    return Kind::NotImported;
}

Kind KindOfName(const std::string& path) {
    const std::string ext = Extension(path);
    if (ext == "mid" || ext == "midi" || ext == "kar" || ext == "smf") return Kind::Smf;
    if (ext == "musicxml" || ext == "xml") return Kind::MusicXml;
    if (ext == "mxl") return Kind::Mxl;
    return Kind::NotImported;
}

// Reads a regular file whole, refusing one over the limit before reading it. A FIFO or a
// device is never opened for reading (it could block or never end).
bool ReadWhole(const std::string& path, std::size_t limit, std::string& bytes, std::string& why) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        why = "ﾌｧｲﾙはありません";
        return false;
    }
    if (static_cast<std::uint64_t>(info.st_size) > limit) {
        why = "大きすぎます（64MBまで）";
        return false;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        why = "開けません";
        return false;
    }
    bytes.clear();
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            close(fd);
            why = "読めません";
            return false;
        }
        if (got == 0) break;
        if (bytes.size() + static_cast<std::size_t>(got) > limit) {
            close(fd);
            why = "大きすぎます（64MBまで）";
            return false;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    return true;
}

Kind KindOf(const std::string& path) {
    std::string head;
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            char buffer[512];
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0) head.assign(buffer, static_cast<std::size_t>(got));
            close(fd);
        }
    }
    const Kind byBytes = KindOfBytes(head);
    return byBytes != Kind::NotImported ? byBytes : KindOfName(path);
}

std::string Sentence(const std::string& path, const std::string& why) {
    return "「" + path + "」を読めません。" + why + "。";
}

// A RIFF MIDI file (.rmi) holds a Standard MIDI File in its "data" chunk.
std::string_view SmfInside(std::string_view bytes) {
    if (!bytes.starts_with("RIFF")) return bytes;
    const auto at = bytes.find("MThd");
    return at == std::string_view::npos ? std::string_view() : bytes.substr(at);
}

ImportedSong Read(const std::string& path, Score& score) {
    ImportedSong song;
    std::string bytes;
    std::string why;
    if (!ReadWhole(path, MaxFileBytes, bytes, why)) {
        song.error =
            why == "ﾌｧｲﾙはありません" ? "「" + path + "」" + why + "。" : Sentence(path, why);
        return song;
    }
    ReadResult result;
    switch (KindOf(path)) {
        case Kind::Smf:
            result = ReadSmf(SmfInside(bytes));
            break;
        case Kind::MusicXml:
            result = ReadMusicXml(bytes);
            break;
        case Kind::Mxl:
            result = ReadMxl(bytes);
            break;
        case Kind::NotImported:
            result.error = "MIDIファイルでもMusicXMLの楽譜でもありません";
            break;
    }
    if (!result.error.empty()) {
        song.error = Sentence(path, result.error);
        return song;
    }
    score = std::move(result.score);
    song.parts = PartNames(score);
    song.tempo = score.tempo;
    if (score.parts.empty()) song.error = Sentence(path, "演奏できる音がありません");
    return song;
}

}  // namespace

bool IsImportable(const std::string& path) {
    return KindOf(path) != Kind::NotImported;
}

ImportedSong ReadParts(const std::string& path) {
    Score score;
    return Read(path, score);
}

ImportedSong ImportSong(const std::string& path, const SongChoices& choices) {
    Score score;
    ImportedSong song = Read(path, score);
    if (!song.error.empty()) return song;
    FittedSong fitted = FitSong(score, choices);
    if (!fitted.error.empty()) {
        // The file was read: only the part asked for is not there.
        song.error = fitted.error.starts_with("パート「")
                         ? "「" + path + "」の" + fitted.error + "。"
                         : Sentence(path, fitted.error);
        return song;
    }
    song.text = std::move(fitted.text);
    song.fit = fitted.report;
    song.report = ReportLine(fitted.report);
    return song;
}

bool OpenSong(performance::MusicFileReader& reader, const std::string& path,
              const SongChoices& choices, std::string& message) {
    message.clear();
    if (!IsImportable(path)) return reader.Open(path);
    ImportedSong song = ImportSong(path, choices);
    if (!song.error.empty()) {
        message = song.error;
        return false;
    }
    message = song.report;
    reader.OpenText(std::move(song.text));
    return true;
}

std::vector<std::string> PartListItems(const std::vector<std::string>& parts) {
    std::vector<std::string> items{"自動"};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        items.push_back(std::to_string(i + 1) + ": " + parts[i]);
    }
    return items;
}

std::string PartOfListIndex(int index) {
    return index > 0 ? std::to_string(index) : std::string();
}

std::string SongKey(const std::string& path, const SongChoices& choices) {
    std::vector<std::string> said;
    if (!choices.part.empty()) said.push_back("パート" + choices.part);
    if (choices.hand == Hand::Right) said.push_back("右手");
    if (choices.hand == Hand::Left) said.push_back("左手");
    if (choices.hand != Hand::Both && choices.split != 60) {
        said.push_back("分割" + std::to_string(choices.split));
    }
    if (choices.chords) said.push_back("和音");
    if (choices.transpose) said.push_back("移調" + std::to_string(*choices.transpose));
    if (said.empty()) return path;
    std::string key = path + "（";
    for (std::size_t i = 0; i < said.size(); ++i) key += (i > 0 ? "・" : "") + said[i];
    return key + "）";
}

}  // namespace importing
