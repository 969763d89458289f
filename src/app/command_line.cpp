#include "command_line.h"

#include <cctype>

#include "gm_programs.h"
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
        } else if (arg == "--list-programs") {
            result.listPrograms = true;
        } else if (arg == "--verbose") {
            result.verbose = true;
        } else if (takeValue(args, i, "--midi-out", result.midiOut, result.error) ||
                   takeValue(args, i, "--soundfont", result.soundfont, result.error) ||
                   takeValue(args, i, "--print-layout", result.printLayout, result.error) ||
                   takeValue(args, i, "--layout", result.layout, result.error) ||
                   takeNumber(args, i, "--tempo", 1, 999, result.tempo, result.error) ||
                   takeNumber(args, i, "--channel", 0, 15, result.channel, result.error) ||
                   takeNumber(args, i, "--audio-buffer", 1, 500, result.audioBufferMs,
                              result.error) ||
                   takeProgram(args, i, result) || takeMode(args, i, "--play", false, result) ||
                   takeMode(args, i, "--check", false, result) ||
                   takeMode(args, i, "--export-midi", true, result) ||
                   takeMode(args, i, "--render-wav", true, result) || takeRecord(args, i, result)) {
        } else {
            result.error = "unknown option " + arg;
        }
    }
    if (result.error.empty() && !midi::parseOutputSpec(result.midiOut)) {
        result.error = "unknown MIDI output '" + result.midiOut +
                       "'; valid forms of --midi-out:\n" + midi::validOutputForms();
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
    if (result.error.empty() && recording && (!result.printLayout.empty() || result.listOutputs)) {
        result.error = "--record cannot be used with --print-layout or --list-midi-outputs";
    }
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (i > 0) result.commandLineFile += ' ';
        result.commandLineFile += rest[i];
    }
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
           "  --soundfont PATH       General MIDI soundfont for the built-in synthesizer\n"
           "  --audio-buffer MS      audio buffering of the built-in synthesizer, 1 to 500\n"
           "                         (default 5); more if the sound breaks up\n"
           "  --verbose              say on stderr which audio path is taken, and pass on\n"
           "                         the sound libraries' own messages\n"
           "  --list-midi-outputs    list the MIDI outputs of this machine and exit\n"
           "  --print-layout FILE    write the key layout as a PDF page and exit\n"
           "  --play FILE            play a music file on the MIDI output without a window\n"
           "  --export-midi FILE OUT.mid\n"
           "                         write the performance as a Standard MIDI File\n"
           "  --render-wav FILE OUT.wav\n"
           "                         render the performance through the built-in synthesizer\n"
           "  --check FILE           list the places where a music file leans on a fallback\n"
           "  --record FILE.txt      record what is played as a music file (CP932, one line a\n"
           "                         bar, sixteenths at --tempo); written as the playing goes\n"
           "  --record FILE.mid      record it as a Standard MIDI File, exact times; both may be\n"
           "                         given. F9, closing the window, Ctrl-C or a kill end both;\n"
           "                         the caption shows [録音中] meanwhile\n"
           "  --tempo N              tempo of --play, --export-midi, --render-wav and --record\n"
           "                         (default 126)\n"
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
