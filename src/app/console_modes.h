// The command-line modes that work without a window.
#pragma once

#include "command_line.h"
#include "song_fitting.h"

namespace app {

// The song choices the command line made, for imported files.
importing::SongChoices ChoicesOf(const CommandLine& command);

// Runs --play, --export-midi, --render-wav, --import or --check; returns the exit code.
int RunConsoleMode(const CommandLine& command);

}  // namespace app
