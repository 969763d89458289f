#include "take_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace performance {
namespace {

// Where a file is written before it takes its name: the same folder, so that a rename replaces
// the old file at once and whole.
constexpr std::int64_t MidiRewriteNanos = 4'000'000'000;

std::string TemporaryName(const std::string& path) {
    return path + "." + std::to_string(::getpid()) + ".tmp";
}

std::string Reason(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return "フォルダがありません";
        case EACCES:
        case EPERM:
            return "書き込みが許可されていません";
        case EISDIR:
            return "フォルダです";
        case EROFS:
            return "読み取り専用の場所です";
        case ENOSPC:
        case EDQUOT:
            return "空きがありません";
        case ENAMETOOLONG:
            return "名前が長すぎます";
        default:
            return std::strerror(error);
    }
}

std::string CannotCreate(const std::string& path, int error) {
    return "「" + path + "」ﾌｧｲﾙを作成できません（" + Reason(error) + "）。";
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int CreateTemporary(const std::string& path) {
    return ::open(TemporaryName(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

bool ReplaceWithTemporary(const std::string& path) {
    if (std::rename(TemporaryName(path).c_str(), path.c_str()) == 0) return true;
    const int error = errno;
    ::unlink(TemporaryName(path).c_str());
    errno = error;
    return false;
}

}  // namespace

std::string RecordingFileProblem(const std::string& path) {
    std::error_code error;
    if (path.empty()) return CannotCreate(path, ENOENT);
    if (std::filesystem::is_directory(path, error)) return CannotCreate(path, EISDIR);
    // The temporary file is where writing starts; if it can be made, the rename can be too.
    const int fd =
        ::open(TemporaryName(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return CannotCreate(path, errno);
    ::close(fd);
    ::unlink(TemporaryName(path).c_str());
    return {};
}

TakeRecorder::TakeRecorder(std::string textPath, std::string midiPath, int tempo,
                           std::ostream& report)
    : m_textPath(std::move(textPath)),
      m_midiPath(std::move(midiPath)),
      m_tempo(tempo),
      m_report(report),
      m_writer(tempo) {}

TakeRecorder::~TakeRecorder() {
    Finish(std::chrono::steady_clock::now());
}

std::int64_t TakeRecorder::nanosSince(TimePoint when) const {
    const auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(when - m_origin);
    return std::max<std::int64_t>(since.count(), 0);
}

void TakeRecorder::Record(TimePoint when, std::uint32_t message) {
    if (m_finished) return;
    if (!m_started) {
        m_started = true;
        m_origin = when;
    }
    const std::int64_t nanos = nanosSince(when);
    if (!m_midiPath.empty()) {
        m_messages.push_back({nanos, message});
        m_midiDirty = true;
    }
    const unsigned status = message & 0xF0;
    const int channel = static_cast<int>(message & 0x0F);
    const int note = static_cast<int>((message >> 8) & 0x7F);
    const bool sounding = status == 0x90 && ((message >> 16) & 0x7F) != 0;
    if (status != 0x90 && status != 0x80) return;
    std::uint16_t& count = m_sounding[static_cast<std::size_t>(channel * 128 + note)];
    if (sounding) {
        ++count;
        m_writer.NoteOn(nanos, channel, note - 60);
    } else {
        if (count > 0) --count;
        m_writer.NoteOff(nanos, channel, note - 60);
    }
    appendText();
}

void TakeRecorder::Tick(TimePoint now) {
    if (m_finished || !m_started) return;
    m_writer.Advance(nanosSince(now));
    appendText();
    // The MIDI file is written whole each time: soon after the first note, then every few
    // seconds while playing goes on, so that its cost stays small beside the playing.
    const std::int64_t since = nanosSince(now);
    if (m_midiDirty && (!m_midiWritten || since - m_midiWrittenAt >= MidiRewriteNanos)) {
        writeMidi(since);
    }
}

void TakeRecorder::Finish(TimePoint now) {
    if (m_finished) return;
    if (m_started) {
        const std::int64_t end = nanosSince(now);
        m_writer.Finish(end);
        appendText();
        writeMidi(end);
    }
    m_finished = true;
    if (m_textFd >= 0) ::close(m_textFd);
    m_textFd = -1;
}

void TakeRecorder::appendText() {
    reportLosses();
    if (m_textPath.empty()) {
        m_writer.TakeText();
        return;
    }
    const std::string text = m_writer.TakeText();
    if (text.empty() || m_textFailed) return;
    // The first token goes into a new file that then replaces the old one; later tokens are
    // appended to it, each written through at once.
    bool ok;
    if (m_textFd < 0) {
        m_textFd = CreateTemporary(m_textPath);
        ok = m_textFd >= 0 && WriteAll(m_textFd, text) && ReplaceWithTemporary(m_textPath);
    } else {
        ok = WriteAll(m_textFd, text);
    }
    if (!ok) reportWriteFailure(m_textPath, m_textFailed);
}

void TakeRecorder::writeMidi(std::int64_t endNanos) {
    if (m_midiPath.empty() || m_midiFailed || m_messages.empty()) return;
    // The file ends every note still sounding at this moment, so that it is whole as it stands.
    const std::size_t recorded = m_messages.size();
    const std::int64_t end = std::max(endNanos, m_messages.back().nanos);
    for (std::size_t i = 0; i < m_sounding.size(); ++i) {
        for (int n = 0; n < m_sounding[i]; ++n) {
            m_messages.push_back(
                {end, static_cast<std::uint32_t>(0x90 | (i / 128) | (i % 128) << 8)});
        }
    }
    const std::string bytes = StandardMidiFile(m_messages, m_tempo);
    m_messages.resize(recorded);
    m_midiWritten = true;
    m_midiWrittenAt = endNanos;
    const int fd = CreateTemporary(m_midiPath);
    bool ok = fd >= 0 && WriteAll(fd, bytes);
    if (fd >= 0) ok = ::close(fd) == 0 && ok;
    ok = ok && ReplaceWithTemporary(m_midiPath);
    if (!ok) {
        const int error = errno;
        ::unlink(TemporaryName(m_midiPath).c_str());
        errno = error;
        reportWriteFailure(m_midiPath, m_midiFailed);
        return;
    }
    m_midiDirty = false;
}

void TakeRecorder::reportLosses() {
    const std::string name = "「" + m_textPath + "」";
    if (m_textPath.empty()) return;
    if (m_writer.longNotesCut() && !m_reportedLong) {
        m_reportedLong = true;
        m_report << name
                 << "：16分音符10個より長く伸ばした音は、16分音符10個の長さで書きました。\n";
    }
    if (m_writer.chordMembersDropped() && !m_reportedChord) {
        m_reportedChord = true;
        m_report << name << "：11音以上の和音は、低い方から10音だけを書きました。\n";
    }
    if (m_writer.outOfRangeSkipped() && !m_reportedRange) {
        m_reportedRange = true;
        m_report << name
                 << "：ドW（MIDI 36）からシI#（MIDI 96）の外の音は書けないので省きました。\n";
    }
    m_report.flush();
}

void TakeRecorder::reportWriteFailure(const std::string& path, bool& reported) {
    if (reported) return;
    reported = true;
    m_report << "「" << path << "」ﾌｧｲﾙに書き込めません（" << Reason(errno) << "）。\n";
    m_report.flush();
}

}  // namespace performance
