#include "command_line.h"

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
        } else if (takeValue(args, i, "--midi-out", result.midiOut, result.error) ||
                   takeValue(args, i, "--soundfont", result.soundfont, result.error) ||
                   takeValue(args, i, "--print-layout", result.printLayout, result.error) ||
                   takeValue(args, i, "--layout", result.layout, result.error)) {
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
           "  --list-midi-outputs    list the MIDI outputs of this machine and exit\n"
           "  --print-layout FILE    write the key layout as a PDF page and exit\n"
           "  --layout F4|F5|F6|F7   the layout to print (default F6: ド on E)\n"
           "  --version              print the version and exit\n"
           "  --help                 print this help and exit\n"
           "  --                     what follows is the music file's name\n";
}

}  // namespace app
