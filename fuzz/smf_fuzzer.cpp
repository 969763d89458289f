// Feeds arbitrary bytes to the Standard MIDI File reader and fits what it reads to the keys.
#include <cstdint>
#include <string_view>

#include "import_checks.h"
#include "midi_file_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::CheckImport(
        importing::ReadSmf(std::string_view(reinterpret_cast<const char*>(data), size)));
    return 0;
}
