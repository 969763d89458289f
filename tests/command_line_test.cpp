#include "command_line.h"

#include <gtest/gtest.h>

using app::ParseCommandLine;

TEST(CommandLine, NonOptionArgumentsAreJoinedAsGiven) {
    struct Case {
        std::vector<std::string> args;
        std::string file;
        std::string midiOut;
    };
    const Case cases[] = {
        {{}, "", "synth"},
        {{"song.txt"}, "song.txt", "synth"},
        {{"\"C:\\My Music\\a.txt\""}, "\"C:\\My Music\\a.txt\"", "synth"},
        {{" padded ", "two"}, " padded  two", "synth"},
        {{"--midi-out", "trace:t.log", "a.txt"}, "a.txt", "trace:t.log"},
        {{"--midi-out=none", "x"}, "x", "none"},
        {{"--", "--midi-out", "none"}, "--midi-out none", "synth"},
        {{"-x"}, "-x", "synth"},
        {{"a", "--verbose", "-b", "--", "--c"}, "a -b --c", "synth"},
        {{"--midi-out", "trace:-t", "-"}, "-", "trace:-t"},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseCommandLine(c.args);
        EXPECT_TRUE(parsed.error.empty()) << parsed.error;
        EXPECT_EQ(parsed.commandLineFile, c.file);
        EXPECT_EQ(parsed.midiOut, c.midiOut);
    }
}

TEST(CommandLine, UnknownOptionsAndOutputsAreErrors) {
    EXPECT_NE(ParseCommandLine({"--midi-out"}).error, "");
    const auto bad = ParseCommandLine({"--midi-out", "speaker"});
    EXPECT_NE(bad.error.find("trace:FILE"), std::string::npos) << "lists the valid forms";
    EXPECT_TRUE(ParseCommandLine({"--version"}).version);
    EXPECT_TRUE(ParseCommandLine({"--list-midi-outputs"}).listOutputs);
    EXPECT_NE(ParseCommandLine({"--midi-in", "usb"}).error.find("port:NUMBER"), std::string::npos);
    EXPECT_NE(ParseCommandLine({"--midi-in", "port:"}).error, "");
    EXPECT_EQ(ParseCommandLine({"--midi-in=port:Keystation 49"}).midiIn, "port:Keystation 49");
    EXPECT_EQ(ParseCommandLine({"--soundfont", "-x.sf2"}).soundfont, "-x.sf2");
}

TEST(CommandLine, ModesTakeTheirFilesAndNumbersTheirRanges) {
    const auto exportMidi = ParseCommandLine(
        {"--export-midi", "a b.txt", "out.mid", "--tempo", "150", "--channel", "9"});
    EXPECT_EQ(exportMidi.error, "");
    EXPECT_EQ(exportMidi.mode, "export-midi");
    EXPECT_EQ(exportMidi.input, "a b.txt");
    EXPECT_EQ(exportMidi.output, "out.mid");
    EXPECT_EQ(exportMidi.tempo, 150);
    EXPECT_EQ(exportMidi.channel, 9);
    EXPECT_EQ(ParseCommandLine({"--check", "x.txt"}).mode, "check");
    EXPECT_EQ(ParseCommandLine({"--play", "x.txt"}).tempo, 126);
    EXPECT_EQ(ParseCommandLine({"--render-wav", "x.txt", "y.wav"}).output, "y.wav");
    const auto dashes = ParseCommandLine({"--import", "-a.mid", "-b.txt", "--verbose"});
    EXPECT_EQ(dashes.input + " " + dashes.output + " " + dashes.commandLineFile, "-a.mid -b.txt ");
    const auto equals = ParseCommandLine({"--render-wav=x y.txt", "--z.wav"});
    EXPECT_EQ(equals.input + "|" + equals.output, "x y.txt|--z.wav");
    const auto audio = ParseCommandLine({"--audio-buffer=20", "--verbose", "tune.txt"});
    EXPECT_EQ(audio.error, "");
    EXPECT_EQ(audio.audioBufferMs, 20);
    EXPECT_TRUE(audio.verbose);
    EXPECT_EQ(audio.commandLineFile, "tune.txt");
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--audio-buffer", "0"},
             {"--audio-buffer", "501"},
             {"--audio-buffer"},
             {"--print-layout", "p.pdf", "--layout", "F3"},
             {"--verbose=1"},
             {"--play=a.txt", "--check", "b.txt"},
             {"--export-midi=a.txt"},
         }) {
        EXPECT_NE(ParseCommandLine(bad).error, "") << bad[0] << " " << bad.back();
    }
}

TEST(CommandLine, RecordTakesOneMusicFileAndOneMidiFile) {
    const auto both = ParseCommandLine({"--record", "take.txt", "--record=Take.MID", "song.txt"});
    EXPECT_EQ(both.error, "");
    EXPECT_EQ(both.recordText, "take.txt");
    EXPECT_EQ(both.recordMidi, "Take.MID");
    EXPECT_EQ(both.commandLineFile, "song.txt");
    // A file name that is not UTF-8 (here Shift-JIS) comes back byte for byte.
    EXPECT_EQ(ParseCommandLine({"--record", "\x82\xa0\x81\x60.mid"}).recordMidi,
              "\x82\xa0\x81\x60.mid");
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--record", "take.wav"},
             {"--record", "take"},
             {"--record"},
             {"--record", "a.txt", "--record", "b.txt"},
             {"--record", "a.mid", "--play", "b.txt"},
             {"--record", "a.mid", "--print-layout", "p.pdf"},
         }) {
        EXPECT_NE(ParseCommandLine(bad).error, "") << bad.back();
    }
}

TEST(CommandLine, PracticeTakesItsFileAndItsOptionsNeedIt) {
    const auto p =
        ParseCommandLine({"--practice", "a.txt", "--in-time", "--metronome", "--from", "3",
                          "--to=5", "--repeat-clean", "2", "--tempo", "60", "--ramp", "48"});
    EXPECT_EQ(p.error, "");
    EXPECT_EQ(p.practiceFile, "a.txt");
    EXPECT_TRUE(p.inTime && p.metronome);
    EXPECT_EQ(p.fromLine * 1000 + p.toLine * 100 + p.cleanRepeats * 10, 3520);
    EXPECT_EQ(p.commandLineFile, "");
    EXPECT_EQ(p.rampFrom, 48);
    EXPECT_TRUE(ParseCommandLine({"--practice", "a.txt", "--echo"}).echo);
    EXPECT_TRUE(ParseCommandLine({"--practice-dialog"}).practiceDialog);
    EXPECT_EQ(ParseCommandLine({"--practice", "a.txt", "--record", "t.mid"}).error, "");
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--in-time"},
             {"--from", "2", "x.txt"},
             {"--practice", "a.txt", "--metronome"},
             {"--practice", "a.txt", "--from", "5", "--to", "4"},
             {"--practice", "a.txt", "--repeat-clean", "0"},
             {"--ramp", "60"},
             {"--echo"},
             {"--practice", "a.txt", "--echo", "--in-time"},
             {"--practice", "a.txt", "--ramp", "0"},
             {"--practice", "a.txt", "b.txt"},
             {"--practice", "a.txt", "--practice-dialog"},
             {"--practice", "a.txt", "--play", "b.txt"},
             {"--practice-dialog", "--print-layout", "x.pdf"},
         }) {
        EXPECT_NE(ParseCommandLine(bad).error, "") << bad[0] << " " << bad.size();
    }
}

// The numbers are those of the General MIDI table; the names as a player might type them.
TEST(CommandLine, ProgramTakesANumberOrALooseName) {
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{}, -1},
        {{"--program", "0"}, 0},
        {{"--program=127"}, 127},
        {{"--program", "Violin"}, 40},
        {{"--program", "ＶＩＯＬＩＮ"}, 40},
        {{"--program", "ばいおりん"}, 40},
        {{"--program", "ﾊﾞｲｵﾘﾝ"}, 40},
        {{"--program", "honky tonk"}, 3},
        {{"--program", "electric piano 2"}, 5},
        {{"--program", "piano"}, 0},
        {{"--program", "ピアノ"}, 0},
        {{"--program", "Acoustic Guitar (steel)"}, 25},
        {{"--program", "尺八"}, 77},
        {{"--program", "shamisen"}, 106},
        {{"--program", "gunshot"}, 127},
    };
    for (const auto& [args, program] : cases) {
        const auto parsed = ParseCommandLine(args);
        EXPECT_EQ(parsed.error, "") << args.back();
        EXPECT_EQ(parsed.program, program) << (args.empty() ? "" : args.back());
    }
    for (const char* wrong : {"128", "-1", "kazoo", "", "・"}) {
        EXPECT_NE(ParseCommandLine({"--program", wrong}).error, "") << wrong;
    }
    EXPECT_TRUE(ParseCommandLine({"--list-programs"}).listPrograms);
}
