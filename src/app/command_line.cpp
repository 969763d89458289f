#include "command_line.h"

#include <QCommandLineParser>
#include <cctype>
#include <variant>

#include "gm_programs.h"
#include "input_ports.h"
#include "output_backends.h"

namespace app {
namespace {

// A whole number option's range.
struct Number {
    int CommandLine::*field;
    int first;
    int last;
};
struct Mode {};  // a mode without a window; its files are its value

// One option: its name, the value it takes ("" none; "FILE OUT.mid": two words, a mode's files),
// its help, and where a plain value goes (monostate: taken apart below).
struct Row {
    const char* name;
    const char* value;
    const char* help;
    std::variant<std::monostate, Mode, bool CommandLine::*, std::string CommandLine::*, Number> to;
    std::string (*forms)() = nullptr;  // a table of values under the option in --help
};

using C = CommandLine;
const Row Rows[] = {
    {"midi-out", "OUTPUT", "where the notes go (default: synth):", &C::midiOut,
     midi::validOutputForms},
    {"midi-in", "INPUT", "where notes are played from (default: all):", &C::midiIn,
     midi::validInputForms},
    {"soundfont", "PATH", "General MIDI soundfont for the built-in synthesizer", &C::soundfont},
    {"audio-buffer", "MS",
     "audio buffering of the built-in synthesizer, 1 to 500\n(default 5); more if the sound "
     "breaks up",
     Number{&C::audioBufferMs, 1, 500}},
    {"verbose", "",
     "say on stderr which audio path and MIDI input are taken,\nand pass on the sound and MIDI "
     "libraries' own messages",
     &C::verbose},
    {"list-midi-outputs", "", "list the MIDI outputs and inputs of this machine and exit",
     &C::listOutputs},
    {"list-midi-inputs", "", "list the MIDI inputs of this machine and exit", &C::listInputs},
    {"print-layout", "FILE", "write the key layout as a PDF page and exit", &C::printLayout},
    {"play", "FILE", "play a music file on the MIDI output without a window", Mode{}},
    {"export-midi", "FILE OUT.mid", "write the performance as a Standard MIDI File", Mode{}},
    {"render-wav", "FILE OUT.wav", "render the performance through the built-in synthesizer",
     Mode{}},
    {"check", "FILE", "list the places where a music file leans on a fallback", Mode{}},
    {"import", "IN OUT.txt",
     "write a MIDI file (.mid .midi .kar) or a MusicXML score\n(.musicxml .xml .mxl) as a music "
     "file, fitted to the keys;\nevery mode and dialog also opens such files directly",
     Mode{}},
    {"part", "N|NAME", "the part, MIDI track or channel to learn (default: the first)", &C::part},
    {"hand", "right|left|both",
     "the hand: a score's staff 1 or 2, a MIDI track named for\nthe hand, else the notes either "
     "side of --split",
     &C::hand},
    {"split", "N", "where the hands meet, a MIDI note number (default 60, ド)",
     Number{&C::split, 0, 127}},
    {"melody", "",
     "only the top note of each chord (the default for imports;\nwith --practice also for music "
     "files)",
     &C::melody},
    {"chords", "", "keep chords of up to three notes, top and bottom first", &C::chords},
    {"transpose",
     "auto|N",
     "move an import by N semitones (default auto: the shift and\nlayout that leave the fewest "
     "notes out of reach)",
     {}},
    {"record",
     "FILE.txt|FILE.mid",
     "record what is played: FILE.txt as a music file (CP932,\none line a bar, sixteenths at "
     "--tempo, written as the\nplaying goes), FILE.mid as a Standard MIDI File (exact\ntimes); "
     "both may be given. F9, closing the window,\nCtrl-C or a kill end both; the caption shows "
     "[録音中]\nmeanwhile",
     {}},
    {"practice-history", "",
     "print the practice history (of the music file named,\nelse of all) with a chart of each "
     "song's accuracy over\ntime",
     Mode{}},
    {"chart", "OUT.png", "with --practice-history: draw the chart as a PNG picture", &C::chart},
    {"practice", "FILE",
     "practise a music file in the window: its next keys are\nmarked, it waits for them, and "
     "says how it went (Esc\nstops); F3 in the window opens the practice dialog",
     &C::practiceFile},
    {"in-time", "",
     "practise in time after a count-in of one bar, instead of\nwaiting for each note", &C::inTime},
    {"metronome", "", "with --in-time: keep clicking through the song", &C::metronome},
    {"from", "LINE",
     "practise only the passage from LINE of the file (to\n--to); it repeats until Esc",
     Number{&C::fromLine, 1, 999999}},
    {"to", "LINE", "the passage's last line", Number{&C::toLine, 1, 999999}},
    {"repeat-clean", "N", "end the passage after N clean plays in a row",
     Number{&C::cleanRepeats, 1, 99}},
    {"ramp", "START",
     "slow first, then faster: loop the passage from tempo\nSTART, a step faster after each clean "
     "pass up to --tempo,\na step slower after two faulty passes in a row",
     Number{&C::rampFrom, 1, 999}},
    {"echo", "",
     "listen, then repeat: each phrase (a bar, or a line of the\nfile) is played, then played "
     "back by you; a wrong one is\nplayed again, after three misses the next comes",
     &C::echo},
    {"practice-dialog", "", "open the practice dialog at start", &C::practiceDialog},
    {"tempo", "N",
     "tempo of --play, --export-midi, --render-wav, --record and\n--practice (default 126)",
     Number{&C::tempo, 1, 999}},
    {"channel", "N", "MIDI channel 0 to 15 of those modes (default 0)", Number{&C::channel, 0, 15}},
    {"program",
     "N|NAME",
     "the instrument: a General MIDI program 0 to 127 or its\nname in English or Japanese "
     "(\"violin\", \"バイオリン\"),\nsent on the channel at start and at each channel change\nof "
     "the window and --play (default: none is sent, the piano)",
     {}},
    {"list-programs", "", "list the 128 General MIDI programs and exit", &C::listPrograms},
    {"layout", "F4|F5|F6|F7", "the layout to print (default F6: ド on E)", &C::layout},
    {"version", "", "print the version and exit", &C::version},
    {"help", "", "print this help and exit", &C::help},
};

const Row* FindRow(const std::string& name) {
    for (const Row& row : Rows) {
        if (name == row.name) return &row;
    }
    return nullptr;
}

bool IsMode(const std::string& name) {
    const Row* row = FindRow(name);
    return row != nullptr && std::holds_alternative<Mode>(row->to);
}

// The words an option takes: one a word of its value's name ("FILE OUT.mid": two).
std::size_t WordsOf(const Row* row) {
    if (row == nullptr || *row->value == '\0') return 0;
    return std::string(row->value).find(' ') == std::string::npos ? 1 : 2;
}

// The arguments reach Qt one byte a character, so that every value comes back byte for byte
// whatever its encoding (a file name need not be UTF-8).
QString Latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
std::string Bytes(const QString& text) {
    return text.toLatin1().toStdString();
}

// Kept by hand, for what Qt's parser cannot do: it reads a word starting with one "-" as short
// options, but a music file's name may start with "-"; and it takes one value an option, but
// --export-midi, --render-wav and --import take two files. So the arguments are sorted here:
// the options with their first value go to Qt; the words that are not options (all after "--")
// make the music file's name, and a mode's second file is kept aside.
struct Sorted {
    QStringList options{QStringLiteral("muruteka")};  // Qt skips the first, the program's name
    std::vector<std::string> words;
    std::string secondFile;
    std::string error;
};

Sorted Sort(const std::vector<std::string>& args) {
    Sorted sorted;
    bool ended = false;
    for (std::size_t i = 0; i < args.size() && sorted.error.empty(); ++i) {
        const std::string& arg = args[i];
        if (ended || arg.rfind("--", 0) != 0) {
            sorted.words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            ended = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
        const Row* row = FindRow(name);
        const std::size_t files = WordsOf(row);
        if (row != nullptr && files == 0 && equals != std::string::npos) {
            sorted.error = "--" + name + " takes no value";
        }
        const std::size_t wanted = files - (files > 0 && equals != std::string::npos ? 1 : 0);
        if (args.size() - 1 - i < wanted) {
            sorted.error = "--" + name +
                           (!IsMode(name) ? " needs a value"
                            : files == 2  ? " needs a music file and an output file"
                                          : " needs a music file");
        }
        sorted.options.push_back(Latin1(arg));
        for (std::size_t k = 0; k < wanted && sorted.error.empty(); ++k) {
            const std::string& word = args[++i];
            if (k == 0 && equals == std::string::npos) {
                sorted.options.push_back(Latin1(word));
            } else {
                sorted.secondFile = word;
            }
        }
    }
    return sorted;
}

bool TakeNumber(const std::string& value, const Number& range, CommandLine& result) {
    bool whole = false;
    const int number = Latin1(value).toInt(&whole);
    if (!whole || number < range.first || number > range.last) return false;
    result.*range.field = number;
    return true;
}

// "--record FILE": the name's ending picks the format, once each.
void TakeRecord(const std::string& path, CommandLine& result) {
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
}

// The values Qt has parsed, into the command line; the first problem in the rows' order.
void TakeValues(const QCommandLineParser& parser, const Sorted& sorted, CommandLine& result) {
    for (const Row& row : Rows) {
        const QString name = QString::fromLatin1(row.name);
        if (!parser.isSet(name)) continue;
        const std::string value = Bytes(parser.value(name));
        if (const auto flag = std::get_if<bool CommandLine::*>(&row.to)) {
            result.*(*flag) = true;
        } else if (const auto text = std::get_if<std::string CommandLine::*>(&row.to)) {
            result.*(*text) = value;
        } else if (const auto range = std::get_if<Number>(&row.to)) {
            if (!TakeNumber(value, *range, result) && result.error.empty()) {
                result.error = "--" + std::string(row.name) + " takes a whole number from " +
                               std::to_string(range->first) + " to " + std::to_string(range->last);
            }
        }
    }
    result.tempoGiven = parser.isSet(QStringLiteral("tempo"));
    const QString transpose = parser.value(QStringLiteral("transpose"));
    if (parser.isSet(QStringLiteral("transpose")) && transpose != QStringLiteral("auto")) {
        bool whole = false;
        const int shift = transpose.toInt(&whole);
        if (whole && shift >= -36 && shift <= 36) {
            result.transpose = shift;
        } else if (result.error.empty()) {
            result.error = "--transpose takes auto or semitones from -36 to 36";
        }
    }
    if (parser.isSet(QStringLiteral("program"))) {
        const std::string name = Bytes(parser.value(QStringLiteral("program")));
        if (const auto program = midi::findGmProgram(name)) {
            result.program = *program;
        } else if (result.error.empty()) {
            result.error =
                "--program takes a General MIDI program, 0 to 127 or a name that "
                "--list-programs shows: " +
                name;
        }
    }
    for (const QString& path : parser.values(QStringLiteral("record"))) {
        if (result.error.empty()) TakeRecord(Bytes(path), result);
    }
    // The modes in the order given: one of them at most.
    for (const QString& option : parser.optionNames()) {
        const std::string name = Bytes(option);
        if (!IsMode(name) || !result.error.empty()) continue;
        if (!result.mode.empty()) {
            result.error = "--" + result.mode + " and --" + name + " cannot be used together";
        }
        result.mode = name;
    }
    if (!result.mode.empty() && result.mode != "practice-history") {
        result.input = Bytes(parser.value(Latin1(result.mode)));
        result.output = sorted.secondFile;
    }
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
    if (c.echo && (c.inTime || c.rampFrom > 0))
        return "--echo judges the play-back as wait mode: not with --in-time or --ramp";
    if (c.metronome && !c.inTime) return "--metronome needs --in-time";
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

// Each line of the text after the first starts with so many blanks.
std::string Indented(const std::string& text, std::size_t blanks) {
    std::string indented;
    for (const char c : text) {
        indented += c;
        if (c == '\n') indented.append(blanks, ' ');
    }
    return indented;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    const Sorted sorted = Sort(args);
    result.error = sorted.error;
    QCommandLineParser parser;
    for (const Row& row : Rows) {
        parser.addOption(QCommandLineOption(QString::fromLatin1(row.name), QString(),
                                            QString::fromLatin1(row.value)));
    }
    if (result.error.empty() && !parser.parse(sorted.options)) {
        const QStringList unknown = parser.unknownOptionNames();
        result.error = unknown.isEmpty() ? Bytes(parser.errorText())
                                         : "unknown option --" + Bytes(unknown.first());
    }
    if (result.error.empty()) TakeValues(parser, sorted, result);
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
    if (result.error.empty()) result.error = PracticeProblem(result, sorted.words.empty());
    if (result.error.empty() && !result.chart.empty() && result.mode != "practice-history") {
        result.error = "--chart draws the practice history: use it with --practice-history";
    }
    for (std::size_t i = 0; i < sorted.words.size(); ++i) {
        if (i > 0) result.commandLineFile += ' ';
        result.commandLineFile += sorted.words[i];
    }
    if (result.mode == "practice-history") result.input = result.commandLineFile;
    return result;
}

// The help is laid out from the rows: Qt's own helpText() would wrap the Japanese words by
// characters, not by their double width, and the tables of values by their blanks.
std::string UsageText() {
    constexpr std::size_t helpColumn = 25;
    std::string text =
        "Usage: muruteka [options] [music file]\n"
        "Plays the typing keyboard as a piano; a music file named here opens in the\n"
        "automatic-performance dialog.\n"
        "\n"
        "Options:\n";
    for (const Row& row : Rows) {
        std::string line = std::string("  --") + row.name;
        if (*row.value != '\0') line += std::string(" ") + row.value;
        // A long name has a line to itself.
        if (line.size() >= helpColumn) line += "\n" + std::string(helpColumn, ' ');
        line.resize(line.size() < helpColumn ? helpColumn : line.size(), ' ');
        text += line + Indented(row.help, helpColumn) + "\n";
        // The table of values is indented under its option.
        if (row.forms != nullptr) {
            std::string forms = row.forms();
            forms.pop_back();  // its last newline
            text += "    " + Indented(forms, 4) + "\n";
        }
    }
    return text +
           "  --                     what follows is the music file's name\n"
           "\n"
           "Exit status: 0 done; 1 failed (the music file is missing or not a regular file,\n"
           "the output cannot be opened or written, a tune too long for a WAV file); 2 the\n"
           "command line cannot be used (also an output that is the music file itself or not\n"
           "a regular file); 130 stopped by Ctrl-C. --check: 0 nothing found, 1 something\n"
           "found, 2 the music file is missing or not a regular file.\n";
}

}  // namespace app
