// The MIDI output backends, chosen by the --midi-out option.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "output_device.h"

namespace midi {

// The moment the program started; trace lines count milliseconds from it.
std::chrono::steady_clock::time_point programStart();

struct SynthSettings {
    std::string soundfont;  // empty: the system's default General MIDI soundfont
    bool withAudio = true;  // false: no audio driver, for offline rendering
    int audioBufferMs = 0;  // the buffering asked of the sound server; 0: the default
};

// A --midi-out value taken apart. kind is one of synth, port, trace, none.
struct OutputSpec {
    std::string kind;
    std::string argument;  // the port's name or number, or the trace file's path
};

// Parses a --midi-out value; returns nothing for an unknown form.
std::optional<OutputSpec> parseOutputSpec(const std::string& value);
// The valid forms, one per line, for error messages and --help.
std::string validOutputForms();

std::unique_ptr<OutputBackend> makeBackend(const OutputSpec& spec, const SynthSettings& synth);

// What --list-midi-outputs prints: every backend and whether it can make sound here.
std::vector<std::string> describeOutputs(const SynthSettings& synth);

}  // namespace midi
