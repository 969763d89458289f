// Standard MIDI Files (format 0 and 1) into a Score, through portSMF's reader.
#pragma once

#include <string_view>

#include "score.h"

namespace importing {

// bytes: the whole file. Drums (channel 10) are left out.
ReadResult ReadSmf(std::string_view bytes);

}  // namespace importing
