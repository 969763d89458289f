// The MIDI output backends, chosen by the --midi-out option.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "output_device.h"

namespace midi {

// The moment the program started; trace lines count milliseconds from it.
std::chrono::steady_clock::time_point programStart();

// A --midi-out value taken apart. kind is one of synth, port, trace, none.
struct OutputSpec {
    std::string kind;
    std::string argument;  // the port's name or number, or the trace file's path
};

// Parses a --midi-out value; returns nothing for an unknown form.
std::optional<OutputSpec> parseOutputSpec(const std::string& value);
// The valid forms, one per line, for error messages and --help.
std::string validOutputForms();

// The built-in synthesizer is the one backend that does not live here: it is in audio/, which
// depends on this folder and never the reverse. Whoever knows both (audio::makeBackend) hands it
// in: makeSynth makes the synth backend, and without it "synth" is no output.
using BackendMaker = std::function<std::unique_ptr<OutputBackend>()>;
std::unique_ptr<OutputBackend> makeBackend(const OutputSpec& spec, const BackendMaker& makeSynth);

// What --list-midi-outputs prints: every backend and whether it can make sound here, the
// synthesizer's line (as audio::describeOutputs words it) first.
std::vector<std::string> describeOutputs(const std::string& synthLine);

}  // namespace midi
