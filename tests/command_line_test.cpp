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
    EXPECT_NE(ParseCommandLine({"--frobnicate"}).error, "");
    EXPECT_NE(ParseCommandLine({"--midi-out"}).error, "");
    const auto bad = ParseCommandLine({"--midi-out", "speaker"});
    EXPECT_NE(bad.error.find("trace:FILE"), std::string::npos) << "lists the valid forms";
    EXPECT_TRUE(ParseCommandLine({"--help"}).help);
    EXPECT_TRUE(ParseCommandLine({"--version"}).version);
    EXPECT_TRUE(ParseCommandLine({"--list-midi-outputs"}).listOutputs);
    EXPECT_EQ(ParseCommandLine({"--soundfont", "/x.sf2"}).soundfont, "/x.sf2");
}
