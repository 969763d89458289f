// A stream to the system's sound server that pulls samples from the synthesizer through a
// callback, and rests (no callbacks, no wake-ups) while the synthesizer is silent.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace audio {

// Fills frames of interleaved stereo float samples. Returns false when the block was silent
// (below -80 dBFS), so that the stream may rest after a while of silence, until wake().
using RenderFunction = std::function<bool(float* interleaved, int frames)>;

struct AudioRequest {
    // The buffering asked of the server, in milliseconds.
    int bufferMs = 0;
    // How long the synthesizer must stay silent before the stream rests.
    int restAfterMs = 0;
};

class AudioStream {
  public:
    virtual ~AudioStream() = default;
    // The rate the server mixes at; the synthesizer renders at it, so nothing resamples.
    virtual double sampleRate() const = 0;
    // Starts pulling samples from render; called once, before any wake().
    virtual bool start(RenderFunction render) = 0;
    // A note is about to sound: resume pulling if the stream rests. Cheap when it does not.
    virtual void wake() = 0;
    // Which server, protocol and buffering, for --list-midi-outputs and --verbose.
    virtual std::string description() const = 0;
};

// Connects to a PipeWire server through its own protocol, if one runs for this user and its
// session manager links the stream to a sink. Never starts a server. realtime, when given, tells
// whether the thread that will render got real-time priority (tried for one silent cycle).
std::unique_ptr<AudioStream> openPipeWireStream(const AudioRequest& request,
                                                bool* realtime = nullptr);

// Connects to a PulseAudio server or PipeWire's PulseAudio service, if one runs for this user.
// Never starts a server. Returns nullptr (and logs why when verbose) when none answers.
std::unique_ptr<AudioStream> openPulseStream(const AudioRequest& request);

}  // namespace audio
