// Files that the console modes write: under a temporary name beside the final one, renamed over
// it only once complete, so that a failure (a full disk, Ctrl-C) leaves whatever file was there
// before untouched and no partial file behind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "offline_performance.h"
#include "write_failure.h"

namespace app {

class ReplacingFile : public performance::ByteSink {
  public:
    ReplacingFile() = default;
    ~ReplacingFile() override;  // a file not committed is removed
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Creates the temporary file; false (see error()) when the folder takes no file.
    bool Open(const std::string& path);
    void Write(std::string_view bytes) override;
    void Patch(std::uint64_t offset, std::string_view bytes) override;
    // Puts the complete file in place; false when anything failed on the way (the temporary file
    // is then removed and the old file stays).
    bool Commit();
    // Removes the temporary file.
    void Discard();
    // The errno of the first failure; 0 when none.
    int error() const { return m_error; }
    // The temporary file's name, for a writer that opens files by name (the PDF printer). What
    // it writes there is put in place by Commit() like what Write() wrote.
    const std::string& temporaryPath() const { return m_temporary; }

  private:
    bool flush();
    std::string m_target;
    std::string m_temporary;
    int m_fd = -1;
    int m_error = 0;
    std::string m_buffer;
};

using performance::WriteFailureReason;

}  // namespace app
