// How the program presents itself to the desktop.
#pragma once

namespace app {

// Gives the application the desktop entry's name (so the desktop matches windows to their menu
// entry) and the window icon drawn for the program, at each size the desktop has. Call after
// the QApplication exists.
void PresentToDesktop();

}  // namespace app
