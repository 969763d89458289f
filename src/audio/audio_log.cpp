#include "audio_log.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>
#include <pipewire/pipewire.h>
#include <spa/support/log.h>

#include <cstdarg>
#include <cstdio>

#include "midi_system.h"

namespace audio {
namespace {

// ALSA-lib prints its failures (e.g. "Unknown PCM default" on a machine without sound) itself.
void alsaMessage(const char* file, int line, const char* function, int error, const char* format,
                 ...) {
    if (!midi::verbose()) return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "muruteka: alsa: %s:%d (%s) %s%s%s\n", file, line, function, text,
                 error != 0 ? ": " : "", error != 0 ? snd_strerror(error) : "");
}

void fluidMessage(int level, const char* message, void*) {
    if (!midi::verbose()) return;
    static const char* const names[] = {"panic", "error", "warning", "info", "debug"};
    const char* name = level >= FLUID_PANIC && level <= FLUID_DBG ? names[level] : "?";
    std::fprintf(stderr, "muruteka: fluidsynth %s: %s\n", name, message);
}

// PipeWire's client library logs through one global logger. Its default one prints errors on
// stderr, for example when a system without the pipewire package has no client.conf.
void pipeWireMessage(void*, spa_log_level level, const spa_log_topic* topic, const char* file,
                     int line, const char*, const char* format, va_list args) {
    if (!midi::verbose()) return;
    static const char* const names[] = {"none", "error", "warning", "info", "debug", "trace"};
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    std::fprintf(stderr, "muruteka: pipewire %s: %s%s%s:%d %s\n",
                 level <= SPA_LOG_LEVEL_TRACE ? names[level] : "?",
                 topic != nullptr ? topic->topic : "", topic != nullptr ? " " : "", file, line,
                 text);
}
void pipeWireMessageV0(void* object, spa_log_level level, const char* file, int line,
                       const char* function, const char* format, va_list args) {
    pipeWireMessage(object, level, nullptr, file, line, function, format, args);
}
void pipeWireMessageF0(void* object, spa_log_level level, const char* file, int line,
                       const char* function, const char* format, ...) {
    va_list args;
    va_start(args, format);
    pipeWireMessage(object, level, nullptr, file, line, function, format, args);
    va_end(args);
}
void pipeWireMessageF1(void* object, spa_log_level level, const spa_log_topic* topic,
                       const char* file, int line, const char* function, const char* format, ...) {
    va_list args;
    va_start(args, format);
    pipeWireMessage(object, level, topic, file, line, function, format, args);
    va_end(args);
}
const spa_log_methods pipeWireMethods = {SPA_VERSION_LOG_METHODS, pipeWireMessageF0,
                                         pipeWireMessageV0,       pipeWireMessageF1,
                                         pipeWireMessage,         nullptr};
spa_log pipeWireLog = {{SPA_TYPE_INTERFACE_Log, SPA_VERSION_LOG, {&pipeWireMethods, nullptr}},
                       SPA_LOG_LEVEL_WARN};

}  // namespace

void quietPipeWire() {
    pw_log_set(&pipeWireLog);
    pw_log_set_level(SPA_LOG_LEVEL_WARN);
}

void setAudioVerbose(bool verbose) {
    midi::setVerbose(verbose);
    snd_lib_error_set_handler(alsaMessage);
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO}) {
        fluid_set_log_function(level, fluidMessage, nullptr);
    }
    // FluidSynth's debug messages come once per audio block: never wanted on a terminal.
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    midi::quietJackMessages();
}

bool audioVerbose() {
    return midi::verbose();
}

void audioLog(const std::string& text) {
    if (midi::verbose()) std::fprintf(stderr, "muruteka: audio: %s\n", text.c_str());
}

std::string milliseconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", ms);
    return text;
}

}  // namespace audio
