// The delay MIDI input adds: a JACK client in this process sends notes to the program's input
// port, one every other cycle; the note's time at the sender, at the input callback and at the
// synthesizer call (FluidSynth rendering offline, so that no audio device is needed) are
// compared. Needs a running JACK server (bench/midi_input_latency.sh starts one).
//   midi_input_latency [notes] [--load]   --load: as many spinning threads as cores meanwhile
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "audio_log.h"
#include "held_notes.h"
#include "input_ports.h"
#include "midi_thru.h"
#include "module1.h"
#include "output_device.h"
#include "synth_output.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Times {
    explicit Times(std::size_t n) : sent(n), received(n), synth(n) {}
    std::vector<Clock::time_point> sent, received, synth;
    std::atomic<std::size_t> sentCount{0}, receivedCount{0}, synthCount{0};
};

class TimedSynth final : public midi::OutputBackend {
  public:
    explicit TimedSynth(Times& times) : m_engine({"", false, 0}), m_times(times) {}
    bool available() override { return m_engine.ready(); }
    void send(std::uint32_t message) override {
        if ((message & 0xF0) == 0x90 && (message >> 16) != 0) {
            const std::size_t i = m_times.synthCount++;
            if (i < m_times.synth.size()) m_times.synth[i] = Clock::now();
        }
        m_engine.handleShortMessage(message);
    }
    void close() override {}

  private:
    audio::SynthEngine m_engine;
    Times& m_times;
};

struct Sender {
    jack_port_t* port = nullptr;
    Times* times = nullptr;
    std::size_t notes = 0;
    std::size_t cycle = 0;
    std::size_t next = 0;  // messages written: on, off, on, off ...
    std::atomic<bool> connected{false};
};

int process(jack_nframes_t frames, void* arg) {
    auto& s = *static_cast<Sender*>(arg);
    void* buffer = jack_port_get_buffer(s.port, frames);
    jack_midi_clear_buffer(buffer);
    if (!s.connected || ++s.cycle % 2 != 0 || s.next >= 2 * s.notes) return 0;
    const bool on = s.next % 2 == 0;
    const unsigned char note = static_cast<unsigned char>(48 + (s.next / 2) % 24);
    const unsigned char message[3] = {static_cast<unsigned char>(on ? 0x90 : 0x80), note,
                                      static_cast<unsigned char>(on ? 100 : 0)};
    if (on) s.times->sent[s.times->sentCount++] = Clock::now();
    jack_midi_event_write(buffer, 0, message, 3);
    ++s.next;
    return 0;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t notes = 2000;
    bool load = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--load") {
            load = true;
        } else {
            notes = std::stoul(argv[i]);
        }
    }
    audio::setAudioVerbose(false);
    Times times(notes);
    midi::installBackend(std::make_unique<TimedSynth>(times));
    if (midi::midiOutOpen(&Module1::hMidiOut, midi::MIDI_MAPPER) != 0) {
        std::fprintf(stderr, "no synthesizer (soundfont?)\n");
        return 1;
    }
    midi::MidiThru thru(midi::playerNotes(), &Module1::CurrentChannel);
    midi::MidiInput input(
        {"all", ""},
        [&](const unsigned char* bytes, std::size_t size) {
            if (size == 3 && (bytes[0] & 0xF0) == 0x90) {
                const std::size_t i = times.receivedCount++;
                if (i < notes) times.received[i] = Clock::now();
            }
            thru.receive(bytes, size);
        },
        [] {});
    if (!input.open()) {
        std::fprintf(stderr, "no JACK server\n");
        return 77;
    }
    Sender sender;
    sender.times = &times;
    sender.notes = notes;
    jack_client_t* client = jack_client_open("muruteka-bench", JackNoStartServer, nullptr);
    if (client == nullptr) return 77;
    sender.port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(client, process, &sender);
    jack_activate(client);
    const char** own =
        jack_get_ports(client, ":ムルテカ$", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
    if (own == nullptr || jack_connect(client, jack_port_name(sender.port), own[0]) != 0) return 1;
    jack_free(own);
    sender.connected = true;

    std::atomic<bool> spinning{load};
    std::vector<std::thread> spinners;
    for (unsigned i = 0; load && i < std::thread::hardware_concurrency(); ++i) {
        spinners.emplace_back([&spinning] {
            volatile unsigned long x = 0;
            while (spinning) x = x + 1;
        });
    }
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    while (times.synthCount < notes && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    spinning = false;
    for (auto& t : spinners) t.join();
    jack_client_close(client);
    const std::size_t n = std::min(
        {times.sentCount.load(), times.receivedCount.load(), times.synthCount.load(), notes});
    std::vector<double> ours, whole;
    for (std::size_t i = 0; i < n; ++i) {
        ours.push_back(
            std::chrono::duration<double, std::milli>(times.synth[i] - times.received[i]).count());
        whole.push_back(
            std::chrono::duration<double, std::milli>(times.synth[i] - times.sent[i]).count());
    }
    if (n == 0) return 1;
    std::printf("notes %zu%s\n", n, load ? " (with a spinning thread per core)" : "");
    std::printf("input callback -> synthesizer call: median %.4f ms, 99th %.4f ms, max %.4f ms\n",
                percentile(ours, 0.5), percentile(ours, 0.99), percentile(ours, 1.0));
    std::printf("sender's write -> synthesizer call: median %.4f ms, 99th %.4f ms, max %.4f ms\n",
                percentile(whole, 0.5), percentile(whole, 0.99), percentile(whole, 1.0));
    midi::midiOutClose(Module1::hMidiOut);
    return 0;
}
