#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "output_device.h"

namespace midi {

// Writes every message as "milliseconds-since-start hex-value", one line each, flushed at once
// so that the file is complete whenever the program stops.
class TraceOutput final : public OutputBackend {
  public:
    explicit TraceOutput(std::string path);
    bool available() override;
    void send(std::uint32_t message) override;
    void close() override;

  private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::string m_path;
    std::unique_ptr<std::FILE, FileCloser> m_file;
    bool m_tried = false;
};

class NoOutput final : public OutputBackend {
  public:
    bool available() override { return false; }
    void send(std::uint32_t) override {}
    void close() override {}
};

}  // namespace midi
