#include "audio_log.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace midi {
namespace {

std::atomic<bool> verboseOutput{false};

// ALSA-lib prints its failures (e.g. "Unknown PCM default" on a machine without sound) itself.
void alsaMessage(const char* file, int line, const char* function, int error, const char* format,
                 ...) {
    if (!verboseOutput) return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "muruteka: alsa: %s:%d (%s) %s%s%s\n", file, line, function, text,
                 error != 0 ? ": " : "", error != 0 ? snd_strerror(error) : "");
}

void fluidMessage(int level, const char* message, void*) {
    if (!verboseOutput) return;
    static const char* const names[] = {"panic", "error", "warning", "info", "debug"};
    const char* name = level >= FLUID_PANIC && level <= FLUID_DBG ? names[level] : "?";
    std::fprintf(stderr, "muruteka: fluidsynth %s: %s\n", name, message);
}

}  // namespace

void setAudioVerbose(bool verbose) {
    verboseOutput = verbose;
    snd_lib_error_set_handler(alsaMessage);
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO}) {
        fluid_set_log_function(level, fluidMessage, nullptr);
    }
    // FluidSynth's debug messages come once per audio block: never wanted on a terminal.
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
}

bool audioVerbose() {
    return verboseOutput;
}

void audioLog(const std::string& text) {
    if (verboseOutput) std::fprintf(stderr, "muruteka: audio: %s\n", text.c_str());
}

std::string milliseconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", ms);
    return text;
}

}  // namespace midi
