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
    EXPECT_EQ(ParseCommandLine({"--soundfont", "/x.sf2"}).soundfont, "/x.sf2");
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
