// Feeds arbitrary bytes to the MusicXML reader, or to the .mxl reader when they start as a zip
// does (as the program tells them apart), and fits what it reads to the keys.
#include <cstdint>
#include <string_view>

#include "import_checks.h"
#include "musicxml_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    fuzzing::CheckImport(bytes.starts_with("PK\x03\x04") ? importing::ReadMxl(bytes)
                                                         : importing::ReadMusicXml(bytes));
    return 0;
}
