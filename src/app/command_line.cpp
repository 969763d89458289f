#include "command_line.h"

#include <cctype>

#include "gm_programs.h"
#include "input_ports.h"
#include "output_backends.h"

namespace app {
namespace {

// Options that take a value, written "--name VALUE" or "--name=VALUE".
bool takeValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
               std::string& value, std::string& error) {
    const std::string& arg = args[i];
    if (arg == name) {
        if (i + 1 >= args.size()) {
            error = name + " needs a value";
            return true;
        }
        value = args[++i];
        return true;
    }
    if (arg.size() > name.size() && arg.compare(0, name.size() + 1, name + "=") == 0) {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

// A whole number from first to last, or an error naming the option.
bool takeNumber(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                int first, int last, int& number, std::string& error) {
    std::string value;
    if (!takeValue(args, i, name, value, error)) return false;
    if (!error.empty()) return true;
    std::size_t used = 0;
    try {
        number = std::stoi(value, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != value.size() || number < first || number > last) {
        error = name + " takes a whole number from " + std::to_string(first) + " to " +
                std::to_string(last);
    }
    return true;
}

// "--program N" or "--program NAME".
bool takeProgram(const std::vector<std::string>& args, std::size_t& i, CommandLine& result) {
    std::string value;
    if (!takeValue(args, i, "--program", value, result.error)) return false;
    if (!result.error.empty()) return true;
    if (const auto program = midi::findGmProgram(value)) {
        result.program = *program;
    } else {
        result.error =
            "--program takes a General MIDI program, 0 to 127 or a name that "
            "--list-programs shows: " +
            value;
    }
    return true;
}

// A mode option followed by its files: "--check FILE", "--export-midi FILE OUT".
bool takeMode(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
              bool withOutput, CommandLine& result) {
    if (args[i] != name) return false;
    const std::size_t needed = withOutput ? 2 : 1;
    if (i + needed >= args.size()) {
        result.error =
            name + (withOutput ? " needs a music file and an output file" : " needs a music file");
        return true;
    }
    if (!result.mode.empty()) {
        result.error = "--" + result.mode + " and " + name + " cannot be used together";
        return true;
    }
    result.mode = name.substr(2);
    result.input = args[++i];
    if (withOutput) result.output = args[++i];
    return true;
}

// "--transpose auto" or a number of semitones.
bool takeTranspose(const std::vector<std::string>& args, std::size_t& i, CommandLine& result) {
    std::string value;
    if (!takeValue(args, i, "--transpose", value, result.error)) return false;
    if (!result.error.empty() || value == "auto") {
        result.transpose.reset();
        return true;
    }
    int shift = 0;
    std::vector<std::string> one = {"--transpose", value};
    std::size_t at = 0;
    takeNumber(one, at, "--transpose", -36, 36, shift, result.error);
    if (!result.error.empty()) result.error = "--transpose takes auto or semitones from -36 to 36";
    result.transpose = shift;
    return true;
}

bool takeTempo(const std::vector<std::string>& args, std::size_t& i, CommandLine& result) {
    if (!takeNumber(args, i, "--tempo", 1, 999, result.tempo, result.error)) return false;
    result.tempoGiven = true;
    return true;
}

// "--record FILE": the name's ending picks the format, once each.
bool takeRecord(const std::vector<std::string>& args, std::size_t& i, CommandLine& result) {
    std::string path;
    if (!takeValue(args, i, "--record", path, result.error)) return false;
    if (!result.error.empty()) return true;
    std::string ending = path.size() >= 4 ? path.substr(path.size() - 4) : std::string();
    for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string* slot = ending == ".txt"   ? &result.recordText
                        : ending == ".mid" ? &result.recordMidi
                                           : nullptr;
    if (slot == nullptr) {
        result.error =
            "--record takes a file ending in .txt (a music file) or .mid (a Standard "
            "MIDI File): " +
            path;
    } else if (!slot->empty()) {
        result.error = "--record takes one " + ending + " file";
    } else {
        *slot = path;
    }
    return true;
}

// The practice options need --practice, and --practice needs the window to itself.
std::string PracticeProblem(const CommandLine& c, bool noMusicFile) {
    const bool practice = !c.practiceFile.empty();
    if ((c.inTime || c.metronome || c.fromLine > 0 || c.toLine > 0 || c.cleanRepeats > 0 ||
         c.rampFrom > 0 || c.echo) &&
        !practice) {
        return "--in-time, --metronome, --from, --to, --repeat-clean, --ramp and --echo need "
               "--practice FILE";
    }
    if (c.metronome && !c.inTime) return "--metronome needs --in-time";
    if (c.echo && (c.inTime || c.rampFrom > 0))
        return "--echo judges the play-back as wait mode: not with --in-time or --ramp";
    if (c.fromLine > 0 && c.toLine > 0 && c.toLine < c.fromLine) {
        return "--to names a line before --from";
    }
    if (!practice && !c.practiceDialog) return {};
    if (practice && c.practiceDialog)
        return "--practice and --practice-dialog cannot be used together";
    if (!c.mode.empty() || !c.printLayout.empty() || c.listOutputs) {
        return "--practice and --practice-dialog need the window; they cannot be used with --" +
               (c.mode.empty() ? std::string(c.listOutputs ? "list-midi-outputs" : "print-layout")
                               : c.mode);
    }
    if (!noMusicFile) return "--practice names the music file; no other file can be given";
    return {};
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    std::vector<std::string> rest;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size() && result.error.empty(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            rest.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help") {
            result.help = true;
        } else if (arg == "--version") {
            result.version = true;
        } else if (arg == "--list-midi-outputs") {
            result.listOutputs = true;
        } else if (arg == "--list-midi-inputs") {
            result.listInputs = true;
        } else if (arg == "--list-programs") {
            result.listPrograms = true;
        } else if (arg == "--verbose") {
            result.verbose = true;
        } else if (arg == "--practice-dialog") {
            result.practiceDialog = true;
        } else if (arg == "--in-time") {
            result.inTime = true;
        } else if (arg == "--echo") {
            result.echo = true;
        } else if (arg == "--metronome") {
            result.metronome = true;
        } else if (arg == "--melody") {
            result.melody = true;
        } else if (arg == "--chords") {
            result.chords = true;
        } else if (takeValue(args, i, "--part", result.part, result.error) ||
                   takeValue(args, i, "--hand", result.hand, result.error) ||
                   takeNumber(args, i, "--split", 0, 127, result.split, result.error) ||
                   takeTranspose(args, i, result)) {
        } else if (takeValue(args, i, "--practice", result.practiceFile, result.error) ||
                   takeNumber(args, i, "--from", 1, 999999, result.fromLine, result.error) ||
                   takeNumber(args, i, "--to", 1, 999999, result.toLine, result.error) ||
                   takeNumber(args, i, "--repeat-clean", 1, 99, result.cleanRepeats,
                              result.error) ||
                   takeNumber(args, i, "--ramp", 1, 999, result.rampFrom, result.error)) {
        } else if (arg == "--practice-history") {
            if (!result.mode.empty()) {
                result.error =
                    "--" + result.mode + " and --practice-history cannot be used together";
            }
            result.mode = "practice-history";
        } else if (takeValue(args, i, "--midi-out", result.midiOut, result.error) ||
                   takeValue(args, i, "--midi-in", result.midiIn, result.error) ||
                   takeValue(args, i, "--soundfont", result.soundfont, result.error) ||
                   takeValue(args, i, "--print-layout", result.printLayout, result.error) ||
                   takeValue(args, i, "--layout", result.layout, result.error) ||
                   takeValue(args, i, "--chart", result.chart, result.error) ||
                   takeTempo(args, i, result) ||
                   takeNumber(args, i, "--channel", 0, 15, result.channel, result.error) ||
                   takeNumber(args, i, "--audio-buffer", 1, 500, result.audioBufferMs,
                              result.error) ||
                   takeProgram(args, i, result) || takeMode(args, i, "--play", false, result) ||
                   takeMode(args, i, "--check", false, result) ||
                   takeMode(args, i, "--export-midi", true, result) ||
                   takeMode(args, i, "--render-wav", true, result) ||
                   takeMode(args, i, "--import", true, result) || takeRecord(args, i, result)) {
        } else {
            result.error = "unknown option " + arg;
        }
    }
    if (result.error.empty() && !midi::parseOutputSpec(result.midiOut)) {
        result.error = "unknown MIDI output '" + result.midiOut +
                       "'; valid forms of --midi-out:\n" + midi::validOutputForms();
    }
    if (result.error.empty() && !midi::parseInputSpec(result.midiIn)) {
        result.error = "unknown MIDI input '" + result.midiIn + "'; valid forms of --midi-in:\n" +
                       midi::validInputForms();
    }
    if (result.error.empty() && result.layout != "F4" && result.layout != "F5" &&
        result.layout != "F6" && result.layout != "F7") {
        result.error = "--layout takes F4, F5, F6 or F7";
    }
    const bool recording = !result.recordText.empty() || !result.recordMidi.empty();
    if (result.error.empty() && recording && !result.mode.empty()) {
        result.error =
            "--record records the window's playing; it cannot be used with --" + result.mode;
    }
    if (result.error.empty() && recording &&
        (!result.printLayout.empty() || result.listOutputs || result.listInputs)) {
        result.error =
            "--record cannot be used with --print-layout, --list-midi-outputs or "
            "--list-midi-inputs";
    }
    if (result.error.empty() && result.hand != "right" && result.hand != "left" &&
        result.hand != "both") {
        result.error = "--hand takes right, left or both";
    }
    if (result.error.empty() && result.melody && result.chords) {
        result.error = "--melody and --chords cannot be used together";
    }
    if (result.error.empty()) result.error = PracticeProblem(result, rest.empty());
    if (result.error.empty() && !result.chart.empty() && result.mode != "practice-history") {
        result.error = "--chart draws the practice history: use it with --practice-history";
    }
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (i > 0) result.commandLineFile += ' ';
        result.commandLineFile += rest[i];
    }
    if (result.mode == "practice-history") result.input = result.commandLineFile;
    return result;
}

std::string UsageText() {
    return "Usage: muruteka [options] [music file]\n"
           "Plays the typing keyboard as a piano; a music file named here opens in the\n"
           "automatic-performance dialog.\n"
           "\n"
           "Options:\n"
           "  --midi-out OUTPUT      where the notes go (default: synth):\n" +
           midi::validOutputForms() +
           "  --midi-in INPUT        where notes are played from (default: all):\n" +
           midi::validInputForms() +
           "  --soundfont PATH       General MIDI soundfont for the built-in synthesizer\n"
           "  --audio-buffer MS      audio buffering of the built-in synthesizer, 1 to 500\n"
           "                         (default 5); more if the sound breaks up\n"
           "  --verbose              say on stderr which audio path and MIDI input are taken,\n"
           "                         and pass on the sound and MIDI libraries' own messages\n"
           "  --list-midi-outputs    list the MIDI outputs and inputs of this machine and exit\n"
           "  --list-midi-inputs     list the MIDI inputs of this machine and exit\n"
           "  --print-layout FILE    write the key layout as a PDF page and exit\n"
           "  --play FILE            play a music file on the MIDI output without a window\n"
           "  --export-midi FILE OUT.mid\n"
           "                         write the performance as a Standard MIDI File\n"
           "  --render-wav FILE OUT.wav\n"
           "                         render the performance through the built-in synthesizer\n"
           "  --check FILE           list the places where a music file leans on a fallback\n"
           "  --import IN OUT.txt    write a MIDI file (.mid .midi .kar) or a MusicXML score\n"
           "                         (.musicxml .xml .mxl) as a music file, fitted to the keys;\n"
           "                         every mode and dialog also opens such files directly\n"
           "  --part N|NAME          the part, MIDI track or channel to learn (default: the "
           "first)\n"
           "  --hand right|left|both the hand: a score's staff 1 or 2, a MIDI track named for\n"
           "                         the hand, else the notes either side of --split\n"
           "  --split N              where the hands meet, a MIDI note number (default 60, ド)\n"
           "  --melody               only the top note of each chord (the default for imports;\n"
           "                         with --practice also for music files)\n"
           "  --chords               keep chords of up to three notes, top and bottom first\n"
           "  --transpose auto|N     move an import by N semitones (default auto: the shift and\n"
           "                         layout that leave the fewest notes out of reach)\n"
           "  --record FILE.txt      record what is played as a music file (CP932, one line a\n"
           "                         bar, sixteenths at --tempo); written as the playing goes\n"
           "  --record FILE.mid      record it as a Standard MIDI File, exact times; both may be\n"
           "                         given. F9, closing the window, Ctrl-C or a kill end both;\n"
           "                         the caption shows [録音中] meanwhile\n"
           "  --practice-history [FILE]\n"
           "                         print the practice history (of one music file) with a\n"
           "                         chart of each song's accuracy over time\n"
           "  --chart OUT.png        with --practice-history: draw the chart as a PNG picture\n"
           "  --practice FILE        practise a music file in the window: its next keys are\n"
           "                         marked, it waits for them, and says how it went (Esc\n"
           "                         stops); F3 in the window opens the practice dialog\n"
           "  --in-time              practise in time after a count-in of one bar, instead of\n"
           "                         waiting for each note\n"
           "  --metronome            with --in-time: keep clicking through the song\n"
           "  --from LINE, --to LINE practise only the passage from LINE to LINE of the file;\n"
           "                         it repeats until Esc\n"
           "  --repeat-clean N       end the passage after N clean plays in a row\n"
           "  --ramp START           slow first, then faster: loop the passage from tempo\n"
           "                         START, a step faster after each clean pass up to --tempo,\n"
           "                         a step slower after two faulty passes in a row\n"
           "  --echo                 listen, then repeat: each phrase (a bar, or a line of the\n"
           "                         file) is played, then played back by you; a wrong one is\n"
           "                         played again, after three misses the next comes\n"
           "  --practice-dialog      open the practice dialog at start\n"
           "  --tempo N              tempo of --play, --export-midi, --render-wav, --record and\n"
           "                         --practice (default 126)\n"
           "  --channel N            MIDI channel 0 to 15 of those modes (default 0)\n"
           "  --program N|NAME       the instrument: a General MIDI program 0 to 127 or its\n"
           "                         name in English or Japanese (\"violin\", \"バイオリン\"),\n"
           "                         sent on the channel at start and at each channel change\n"
           "                         of the window and --play (default: none is sent, the piano)\n"
           "  --list-programs        list the 128 General MIDI programs and exit\n"
           "  --layout F4|F5|F6|F7   the layout to print (default F6: ド on E)\n"
           "  --version              print the version and exit\n"
           "  --help                 print this help and exit\n"
           "  --                     what follows is the music file's name\n"
           "\n"
           "Exit status: 0 done; 1 failed (the music file is missing or not a regular file,\n"
           "the output cannot be opened or written, a tune too long for a WAV file); 2 the\n"
           "command line cannot be used (also an output that is the music file itself or not\n"
           "a regular file); 130 stopped by Ctrl-C. --check: 0 nothing found, 1 something\n"
           "found, 2 the music file is missing or not a regular file.\n";
}

}  // namespace app
