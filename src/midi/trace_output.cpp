#include "trace_output.h"

#include <chrono>

#include "output_backends.h"

namespace midi {

TraceOutput::TraceOutput(std::string path) : m_path(std::move(path)) {}

bool TraceOutput::available() {
    if (!m_tried) {
        m_tried = true;
        m_file.reset(std::fopen(m_path.c_str(), "w"));
    }
    return m_file != nullptr;
}

void TraceOutput::send(std::uint32_t message) {
    if (!m_file) return;
    const std::chrono::duration<double, std::milli> since =
        std::chrono::steady_clock::now() - programStart();
    std::fprintf(m_file.get(), "%.3f %08x\n", since.count(), static_cast<unsigned>(message));
    std::fflush(m_file.get());
}

void TraceOutput::close() {
    // The file stays open: a program may close and reopen its output, and the trace goes on.
    if (m_file) std::fflush(m_file.get());
}

}  // namespace midi
