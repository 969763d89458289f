// A held key on X11 normally repeats as release-press pairs, which the window has to tell apart
// from a real release by waiting for the press that may follow. The XKB extension can instead
// repeat the press alone ("detectable" auto-repeat), so that every release is a real one.
#pragma once

namespace keyboard {

// Asks the X server for detectable auto-repeat on the application's connection. True when the
// server granted it; false on other window systems, without XKB, or when the server refuses.
bool RequestRealKeyReleases();

}  // namespace keyboard
