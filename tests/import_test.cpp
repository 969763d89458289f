// Importing: MIDI bytes and MusicXML text made here, the notation written checked as text.
#include <gtest/gtest.h>

#include <string>

#include "midi_file_reader.h"
#include "musicxml_reader.h"
#include "song_fitting.h"

namespace {

// The notation as UTF-8, lines joined with "|": easier to read in a table than CP932.
std::string Utf8(const std::string& cp932) {
    std::string out;
    for (std::size_t i = 0; i < cp932.size(); ++i) {
        const auto c = static_cast<unsigned char>(cp932[i]);
        if (c == '\r') continue;
        if (c == '\n') {
            out += i + 1 < cp932.size() ? "|" : "";
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        const std::string pair = cp932.substr(i++, 2);
        static const std::pair<const char*, const char*> Names[] = {
            {"\x83\x68", "ド"}, {"\x83\x8C", "レ"}, {"\x83\x7E", "ミ"}, {"\x83\x74", "フ"},
            {"\x83\x40", "ァ"}, {"\x83\x5C", "ソ"}, {"\x83\x89", "ラ"}, {"\x83\x56", "シ"}};
        for (const auto& [bytes, name] : Names) {
            if (pair == bytes) out += name;
        }
    }
    return out;
}

// A format-0 file at 96 ticks a beat from one track's events (delta, bytes...).
std::string Smf(const std::string& track) {
    std::string out("MThd\0\0\0\6\0\0\0\1\0\x60MTrk", 18);
    const std::string body = track + std::string("\0\xFF\x2F\0", 4);
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(body.size() >> shift);
    return out + body;
}

std::string On(char delta, int pitch) {
    return std::string{delta, '\x90', static_cast<char>(pitch), '\x40'};
}
std::string Off(char delta, int pitch) {  // running status after an On: velocity 0
    return std::string{delta, static_cast<char>(pitch), '\0'};
}

std::string Import(const importing::ReadResult& read, const importing::SongChoices& choices = {}) {
    if (!read.error.empty()) return "error: " + read.error;
    const importing::FittedSong song = importing::FitSong(read.score, choices);
    return song.error.empty() ? Utf8(song.text) : "error: " + song.error;
}

TEST(Import, MidiNotesBecomeTokensFittedToTheKeys) {
    importing::SongChoices chords;
    chords.chords = true;
    importing::SongChoices up;
    up.transpose = 12;
    importing::SongChoices asWritten;
    asWritten.transpose = 0;
    const struct {
        const char* what;
        std::string track;
        importing::SongChoices choices;
        const char* text;
    } cases[] = {
        {"a quarter and an eighth, running status",
         On(0, 60) + Off(96, 60) + On(0, 62) + Off(48, 62),
         {},
         "ド4,レ2"},
        {"a rest between", On(0, 60) + Off(24, 60) + On(72, 64) + Off(24, 64), {}, "ド1,-3,ミ1"},
        {"the melody of a chord is its top note",
         On(0, 60) + On(0, 64) + On(0, 67) + Off(96, 60) + Off(0, 64) + Off(0, 67),
         {},
         "ソ4"},
        {"chords: top and bottom first",
         On(0, 60) + On(0, 64) + On(0, 67) + On(0, 72) + Off(96, 60) + Off(0, 64) + Off(0, 67) +
             Off(0, 72),
         chords, "ドH:ド:ソ4"},
        {"a long note is held ten units, then rests; a new bar starts a line",
         On(0, 60) + std::string{'\x83', '\0', 60, 0} + On(0, 62) + Off(24, 62),
         {},
         "ド0,-6|レ1"},
        {"out of reach, moved down an octave", On(0, 60 + 36) + Off(24, 96), asWritten, "ドI1"},
        {"a given transposition", On(0, 60) + Off(24, 60), up, "ドH1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Import(importing::ReadSmf(Smf(c.track)), c.choices), c.text) << c.what;
    }
}

TEST(Import, BrokenMidiFilesAreRefusedWithTheirReason) {
    const struct {
        std::string bytes;
        const char* error;
    } cases[] = {
        {Smf(On(0, 60)).substr(0, 24), "ファイルが途中で切れています"},
        {Smf(std::string("\0\x3C\x40", 3)), "ステータスのないランニングステータスがあります"},
        {Smf(std::string("\0\xFF\x51\x03\0\0\0", 7)), "テンポが0になっています"},
        // A tempo event too short for its three bytes, first in the file.
        {Smf(std::string("\0\xFF\x51\0", 4) + On(0, 60) + Off(24, 60)),
         "テンポのメタイベントが短すぎます"},
        {"RIFF not a midi file", "MIDIファイルではありません"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(importing::ReadSmf(c.bytes).error.substr(0, std::string(c.error).size()), c.error)
            << c.error;
    }
}

const char* const TwoStaves = R"(<?xml version="1.0"?>
<score-partwise><part-list><score-part id="P1"><part-name>Piano</part-name></score-part></part-list>
<part id="P1">
<measure number="1"><attributes><divisions>2</divisions><staves>2</staves>
  <time><beats>2</beats><beat-type>4</beat-type></time></attributes>
  <barline location="left"><repeat direction="forward"/></barline>
  <note><pitch><step>E</step><octave>4</octave></pitch><duration>2</duration><staff>1</staff></note>
  <note><grace/><pitch><step>D</step><octave>4</octave></pitch><staff>1</staff></note>
  <note><pitch><step>G</step><octave>4</octave></pitch><duration>2</duration><tie type="start"/><staff>1</staff></note>
  <backup><duration>4</duration></backup>
  <note><pitch><step>C</step><octave>3</octave></pitch><duration>4</duration><staff>2</staff></note>
  <note><chord/><pitch><step>G</step><octave>3</octave></pitch><duration>4</duration><staff>2</staff></note>
</measure>
<measure number="2"><barline location="left"><ending number="1" type="start"/></barline>
  <note><pitch><step>G</step><octave>4</octave></pitch><duration>2</duration><tie type="stop"/><staff>1</staff></note>
  <note><pitch><step>F</step><alter>1</alter><octave>4</octave></pitch><duration>2</duration><staff>1</staff></note>
  <barline location="right"><ending number="1" type="stop"/><repeat direction="backward"/></barline>
</measure>
<measure number="3"><barline location="left"><ending number="2" type="start"/></barline>
  <note><pitch><step>C</step><octave>5</octave></pitch><duration>4</duration><staff>1</staff></note>
  <barline location="right"><ending number="2" type="stop"/></barline>
</measure>
</part></score-partwise>)";

TEST(Import, ScoresGiveStavesAsHandsWithTiesRepeatsAndEndings) {
    importing::SongChoices right;
    right.hand = importing::Hand::Right;
    importing::SongChoices left;
    left.hand = importing::Hand::Left;
    left.chords = true;
    const importing::ReadResult read = importing::ReadMusicXml(TwoStaves);
    EXPECT_EQ(read.score.graceNotes, 1);
    // The first ending is written with the repeat, so bar 2 is played twice and bar 3 never.
    EXPECT_EQ(Import(read, right), "ミ4,ソ8|ファ#4|ミ4,ソ4|ドH8");
    EXPECT_EQ(Import(read, left), "ソ:ド8|-8|ソ:ド8");
}

TEST(Import, HostileXmlIsRefused) {
    EXPECT_EQ(
        importing::ReadMusicXml(R"(<!DOCTYPE s [<!ENTITY a "aaaa">]><score-partwise/>)").error,
        "実体（ENTITY）の宣言があるため読みません");
    EXPECT_EQ(importing::ReadMusicXml("<score-partwise><part")
                  .error.rfind("XMLとして正しくありません", 0),
              0u);
    EXPECT_EQ(importing::ReadMxl("PK\x03\x04 broken").error, "ZIPとして読めません");
}

}  // namespace
