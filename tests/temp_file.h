// Files for tests, in a folder of their own that is removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace testing_support {

class TempFolder {
  public:
    TempFolder() {
        static int counter = 0;
        m_path = std::filesystem::path(::testing::TempDir()) /
                 ("muruteka-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::create_directories(m_path);
    }
    ~TempFolder() {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    const std::filesystem::path& path() const { return m_path; }
    // Writes a file; text is UTF-8 and is stored as CP932, as music files are.
    std::string write(const std::string& name, const std::string& text, bool cp932 = true) const;

  private:
    std::filesystem::path m_path;
};

}  // namespace testing_support
