// MusicXML scores (score-partwise, plain or compressed as .mxl) into a Score, through pugixml
// and libzip. No entity is ever expanded and no file outside the score is read.
#pragma once

#include <string_view>

#include "score.h"

namespace importing {

// bytes: a whole .musicxml/.xml file.
ReadResult ReadMusicXml(std::string_view bytes);
// bytes: a whole .mxl file: a zip holding the score.
ReadResult ReadMxl(std::string_view bytes);

}  // namespace importing
