// The command-line modes that work without a window.
#pragma once

#include "command_line.h"

namespace app {

// Runs --play, --export-midi, --render-wav or --check; returns the exit code.
int RunConsoleMode(const CommandLine& command);

}  // namespace app
