#include "console_modes.h"

#include <fstream>
#include <iostream>

#include "module1.h"
#include "music_check.h"
#include "offline_performance.h"
#include "output_backends.h"
#include "performance_engine.h"

namespace app {
namespace {

const char* const NoMidiMessage = "ご使用の環境では、MIDI音源を使用できません。";

std::string MissingFile(const std::string& name) {
    return "「" + name + "」ﾌｧｲﾙはありません。";
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    out.close();
    if (!out) std::cerr << "muruteka: cannot write " << path << "\n";
    return static_cast<bool>(out);
}

int Check(const CommandLine& command) {
    performance::MusicFileReader reader;
    if (!performance::FileFound(command.input) || !reader.Open(command.input)) {
        std::cerr << MissingFile(command.input) << "\n";
        return 2;
    }
    const auto findings = performance::CheckMusicFile(reader);
    for (const auto& f : findings) {
        std::cout << command.input << ':' << f.line << ':' << f.column << ": " << f.message << "\n";
    }
    return findings.empty() ? 0 : 1;
}

int Play(const CommandLine& command) {
    if (!performance::FileFound(command.input)) {
        std::cerr << MissingFile(command.input) << "\n";
        return 1;
    }
    const midi::SynthSettings synth{command.soundfont, true, command.audioBufferMs};
    midi::installBackend(midi::makeBackend(*midi::parseOutputSpec(command.midiOut), synth));
    if (midi::midiOutGetNumDevs() == 0) {
        std::cerr << NoMidiMessage << "\n";
        midi::installBackend(nullptr);
        return 1;
    }
    midi::midiOutOpen(&Module1::hMidiOut, midi::MIDI_MAPPER);
    const int result = performance::PlayOnConsole(command.input, command.tempo, command.channel);
    // The built-in synthesizer lets the last note's release die away before it is closed.
    if (command.midiOut == "synth") Module1::Wait(1.0f);
    midi::midiOutClose(Module1::hMidiOut);
    midi::installBackend(nullptr);
    return result;
}

int Export(const CommandLine& command) {
    const auto messages =
        performance::FileFound(command.input)
            ? performance::RecordPerformance(command.input, command.tempo, command.channel)
            : std::nullopt;
    if (!messages) {
        std::cerr << MissingFile(command.input) << "\n";
        return 1;
    }
    if (command.mode == "export-midi") {
        return WriteFile(command.output, performance::StandardMidiFile(*messages, command.tempo))
                   ? 0
                   : 1;
    }
    std::string problem;
    const auto wav = performance::RenderWav(*messages, command.soundfont, &problem);
    if (!wav) {
        std::cerr << "muruteka: the built-in synthesizer cannot start: " << problem << "\n";
        return 1;
    }
    return WriteFile(command.output, *wav) ? 0 : 1;
}

}  // namespace

int RunConsoleMode(const CommandLine& command) {
    if (command.mode == "check") return Check(command);
    if (command.mode == "play") return Play(command);
    return Export(command);
}

}  // namespace app
