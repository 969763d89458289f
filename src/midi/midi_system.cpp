#include "midi_system.h"

#include <fcntl.h>
#include <jack/jack.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>

namespace midi {
namespace {

std::atomic<bool> verboseOutput{false};

void jackMessage(const char* text) {
    if (verbose()) std::fprintf(stderr, "muruteka: jack: %s\n", text);
}

bool jackServerRunning() {
    quietJackMessages();
    jack_status_t status{};
    jack_client_t* probe = jack_client_open("muruteka-probe", JackNoStartServer, &status);
    if (probe == nullptr) return false;
    jack_client_close(probe);
    return true;
}

}  // namespace

void quietJackMessages() {
    jack_set_error_function(jackMessage);
    jack_set_info_function(jackMessage);
}

MidiSystem detectMidiSystem() {
#if defined(__linux__)
    if (access("/dev/snd/seq", R_OK | W_OK) == 0) return MidiSystem::Alsa;
    if (jackServerRunning()) return MidiSystem::Jack;
    return MidiSystem::None;
#else
    return MidiSystem::Alsa;  // the platform's own API stands behind RtMidi's default
#endif
}

RtMidi::Api apiOf(MidiSystem system) {
#if defined(__linux__)
    return system == MidiSystem::Jack ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA;
#else
    (void)system;
    return RtMidi::UNSPECIFIED;
#endif
}

std::string nameOf(MidiSystem system) {
    switch (system) {
        case MidiSystem::Alsa:
            return "ALSA sequencer";
        case MidiSystem::Jack:
            return "JACK";
        case MidiSystem::None:
            break;
    }
    return "none";
}

QuietStderr::QuietStderr() {
    if (verbose()) return;
    std::fflush(stderr);
    m_saved = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDERR_FILENO);
        close(null);
    }
}

QuietStderr::~QuietStderr() {
    if (m_saved < 0) return;
    std::cerr.flush();
    dup2(m_saved, STDERR_FILENO);
    close(m_saved);
}

void setVerbose(bool on) {
    verboseOutput = on;
}

bool verbose() {
    return verboseOutput;
}

void midiLog(const std::string& text) {
    if (verbose()) std::fprintf(stderr, "muruteka: midi: %s\n", text.c_str());
}

}  // namespace midi
