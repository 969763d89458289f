#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace app {
namespace {

constexpr std::size_t FlushAt = 256 * 1024;

}  // namespace

ReplacingFile::~ReplacingFile() {
    Discard();
}

bool ReplacingFile::Open(const std::string& path) {
    namespace fs = std::filesystem;
    Discard();
    m_error = 0;
    m_target = path;
    // A link is written through: the file it points to is replaced, the link stays.
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(path, error))) {
        const fs::path target = fs::canonical(path, error);
        if (!error) m_target = target.string();
    }
    const fs::path target(m_target);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    m_temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    m_fd = mkostemp(m_temporary.data(), O_CLOEXEC);
    if (m_fd < 0) {
        m_error = errno;
        m_temporary.clear();
        return false;
    }
    // The permissions a new file gets; a replaced file keeps its own.
    struct stat old {};
    mode_t mode = 0;
    if (stat(m_target.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    fchmod(m_fd, mode);
    return true;
}

bool ReplacingFile::flush() {
    std::size_t done = 0;
    while (m_error == 0 && done < m_buffer.size()) {
        const ssize_t n = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) m_error = errno;
        if (n == 0) m_error = ENOSPC;
        if (n > 0) done += static_cast<std::size_t>(n);
    }
    m_buffer.clear();
    return m_error == 0;
}

void ReplacingFile::Write(std::string_view bytes) {
    if (m_fd < 0 || m_error != 0) return;
    m_buffer += bytes;
    if (m_buffer.size() >= FlushAt) flush();
}

void ReplacingFile::Patch(std::uint64_t offset, std::string_view bytes) {
    if (m_fd < 0 || !flush()) return;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(m_fd, bytes.data() + done, bytes.size() - done,
                                   static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            m_error = n < 0 ? errno : ENOSPC;
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

bool ReplacingFile::Commit() {
    if (m_fd < 0) return false;
    // The data must be on the disk before the name points to it, or a crash could leave an
    // empty file where the old one was.
    if (flush() && fsync(m_fd) != 0) m_error = errno;
    if (::close(m_fd) != 0 && m_error == 0) m_error = errno;
    m_fd = -1;
    if (m_error == 0 && std::rename(m_temporary.c_str(), m_target.c_str()) != 0) m_error = errno;
    if (m_error != 0) {
        Discard();
        return false;
    }
    m_temporary.clear();
    return true;
}

void ReplacingFile::Discard() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    if (!m_temporary.empty()) ::unlink(m_temporary.c_str());
    m_temporary.clear();
    m_buffer.clear();
}

}  // namespace app
