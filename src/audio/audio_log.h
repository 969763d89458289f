// What the audio layer says about itself. Normally nothing reaches the terminal: the messages of
// ALSA, FluidSynth, PipeWire and JACK included, since the program reports the outcome (sound or
// not) itself. With --verbose every message goes to stderr.
#pragma once

#include <string>

namespace audio {

// Sets --verbose for the MIDI side too (midi::setVerbose) and installs the handlers for ALSA's and
// FluidSynth's messages; call before either is used.
void setAudioVerbose(bool verbose);
bool audioVerbose();
// Routes PipeWire's client messages through the same rule; call after each pw_init().
void quietPipeWire();
// One line on stderr, "muruteka: audio: TEXT", when verbose.
void audioLog(const std::string& text);
// A duration for those lines, to a tenth of a millisecond ("3.7").
std::string milliseconds(double ms);

}  // namespace audio
