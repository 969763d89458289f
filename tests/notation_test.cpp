#include "notation.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "music_file.h"

using namespace performance;

namespace {

struct TokenCase {
    std::u32string token;
    std::vector<std::int16_t>
        values;  // one value for a single token; the sounding members of a chord
    std::int16_t length;
};

std::u32string Repeat(std::u32string_view part, int times, std::u32string_view end) {
    std::u32string s;
    for (int i = 0; i < times; ++i) s += part;
    return s + std::u32string(end);
}

const TokenCase TokenCases[] = {
    {U"ド2", {0}, 2},
    {U"レ#4", {3}, 4},
    {U"ドL2", {-12}, 2},
    {U"ドH#2", {13}, 2},
    {U"ド#H2", {1}, 2},
    {U"ドHH2", {12}, 2},
    {U"ファH#2", {18}, 2},
    {U"ファ2", {5}, 2},
    {U"フH4", {5}, 4},
    {U"シI#9", {36}, 9},
    {U"ドW1", {-24}, 1},
    {U"ドW#", {-23}, 1},
    {U"ラL#3", {-2}, 3},
    {U"ドh2", {0}, 2},
    {U"ﾚ2", {0}, 2},
    {U"れ2", {0}, 2},
    {U"ドＨ2", {0}, 2},
    {U"-2", {NoNote}, 2},
    {U"-0", {NoNote}, 10},
    {U"-H#3", {NoNote}, 3},
    {U"ー2", {0}, 2},
    {U"ド", {0}, 1},
    {U"ド5", {0}, 5},
    {U"ド0", {0}, 10},
    {U"ド２", {0}, 1},
    {U"^4", {0}, 4},
    {U"", {0}, 1},
    {U"ド2 レ2", {0}, 2},
    {U"ド:ミ:ソ4", {0, 4, 7}, 4},
    {U"ド:ミH:ソH4", {0, 16, 19}, 4},
    {U"ド2:ミ4", {0, 4}, 4},
    {U"ド:ミ:ソ", {0, 4}, 1},
    {U"ド:ミ:ソL", {0, 4, -5}, 1},
    {U"ド::ミ4", {0, 0, 4}, 4},
    {U":ミ4", {0, 4}, 4},
    {U"ド:", {0}, 1},
    {U"ド::", {0}, 1},
    {U"ド:::", {0, 0}, 1},
    {U"-:-4", {NoNote, NoNote}, 4},
    {U":", {}, 1},
    {U"::", {0}, 1},
    {Repeat(U"ド:", 10, U"ミ4"), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 4},
    {Repeat(U"レ:", 9, U"ミ4"), {2, 2, 2, 2, 2, 2, 2, 2, 2, 4}, 4},
};

TEST(Notation, EveryTokenHasItsValuesAndLength) {
    for (const auto& c : TokenCases) {
        SCOPED_TRACE(std::string(c.token.begin(), c.token.end()).size());
        const ParsedToken parsed = ParseToken(c.token);
        EXPECT_EQ(parsed.length, c.length);
        EXPECT_EQ(TokenLength(c.token), c.length);
        if (IsChord(c.token)) {
            ASSERT_TRUE(parsed.chord);
            const std::vector<std::int16_t> sounding(
                parsed.members.begin(), parsed.members.begin() + parsed.soundingMembers());
            EXPECT_EQ(sounding, c.values);
            auto all = ChordMemberValues(c.token);
            EXPECT_EQ(parsed.memberCount, all.size());
            all.resize(std::min<std::size_t>(all.size(), MaxChordNotes));
            EXPECT_EQ(all, c.values);
        } else {
            ASSERT_FALSE(parsed.chord);
            ASSERT_EQ(c.values.size(), 1u);
            EXPECT_EQ(parsed.value, c.values[0]);
            EXPECT_EQ(NoteValue(c.token), c.values[0]);
        }
    }
}

TEST(Notation, AnElevenMemberChordCountsElevenAndSoundsTen) {
    const auto parsed = ParseToken(Repeat(U"ド:", 10, U"ミ4"));
    EXPECT_EQ(parsed.memberCount, 11u);
    EXPECT_EQ(parsed.soundingMembers(), 10);
}

TEST(Notation, AChordLongerThanAnyShortPositionParsesInFull) {
    // 50,000 members: positions pass 32767 many times over.
    const std::u32string token = Repeat(U"ソH:", 50000, U"ラ#8");
    ASSERT_GT(token.size(), 40000u);
    const auto parsed = ParseToken(token);
    EXPECT_EQ(parsed.memberCount, 50001u);
    EXPECT_EQ(parsed.length, 8);
    EXPECT_EQ(parsed.members[9], 19);
    EXPECT_EQ(ChordMemberValues(token).back(), 10);
}

// A file, read the way the performance reads it.
std::vector<Token> ReadAll(const std::string& bytes) {
    std::istringstream in(bytes);
    MusicFileReader reader(in);
    std::vector<Token> tokens;
    while (!reader.AtEnd()) tokens.push_back(reader.Read());
    return tokens;
}

std::vector<std::u32string> Texts(const std::string& bytes) {
    std::vector<std::u32string> texts;
    for (const auto& t : ReadAll(bytes)) texts.push_back(t.text);
    return texts;
}

// CP932 bytes of the characters used below.
const std::string Do = "\x83\x68";  // ド
const std::string Re = "\x83\x8C";  // レ
const std::string Mi = "\x83\x7E";  // ミ

TEST(MusicFile, FieldsAreCutAtCommasAndTheThreeLineEnds) {
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::u32string> fields;
    };
    const Case cases[] = {
        {"empty file", "", {}},
        {"one field", Do + "2", {U"ド2"}},
        {"commas", Do + "2," + Re + "2," + Mi + "2", {U"ド2", U"レ2", U"ミ2"}},
        {"CR LF", Do + "2\r\n" + Re + "2\r\n", {U"ド2", U"レ2"}},
        {"lone CR", Do + "2\r" + Re + "2\r", {U"ド2", U"レ2"}},
        {"lone LF", Do + "2\n" + Re + "2\n", {U"ド2", U"レ2"}},
        {"LF CR is two", Do + "2\n\r" + Re + "2", {U"ド2", U"", U"レ2"}},
        {"comma then line end", Do + "2," + Re + "2,\r\n", {U"ド2", U"レ2", U""}},
        {"comma at the very end", Do + "2,", {U"ド2"}},
        {"two commas", Do + "2,," + Re + "2", {U"ド2", U"", U"レ2"}},
        {"blank line", Do + "2\r\n\r\n" + Re + "2", {U"ド2", U"", U"レ2"}},
        {"only a line end", "\r\n", {U""}},
        {"blanks around", "  " + Do + "2 \t, \t" + Re + "2  \r\n", {U"ド2", U"レ2"}},
        {"blanks inside stay", Do + "2 " + Re + "2", {U"ド2 レ2"}},
        {"quotes", "\"" + Do + ":" + Mi + "4\"," + Re + "2", {U"ド:ミ4", U"レ2"}},
        {"comma inside quotes", "\"" + Do + "2," + Re + "2\"," + Mi, {U"ド2,レ2", U"ミ"}},
        {"blanks inside quotes", "  \" " + Do + "2 \"  ,x", {U" ド2 ", U"x"}},
        {"after the closing quote", "\"" + Do + "\"2," + Re, {U"ド", U"レ"}},
        {"unclosed quote", "\"" + Do + "2,x", {U"ド2,x"}},
    };
    for (const auto& c : cases) EXPECT_EQ(Texts(c.bytes), c.fields) << c.what;
}

TEST(MusicFile, AQuotedFieldReadsLikeTheSameFieldWithout) {
    const auto quoted = ReadAll("\"" + Do + ":" + Mi + "4\"");
    const auto plain = ReadAll(Do + ":" + Mi + "4");
    ASSERT_EQ(quoted.size(), 1u);
    EXPECT_EQ(quoted[0].parsed, plain[0].parsed);
}

TEST(MusicFile, Cp932SpecificsDecode) {
    // Half-width katakana ﾚ (0xDA), the wave dash 0x81 0x60 (U+FF5E), ① (0x87 0x40).
    EXPECT_EQ(DecodeCp932("\xDA\x32"), U"ﾚ2");
    EXPECT_EQ(DecodeCp932("1\x81\x60"
                          "0"),
              U"1～0");
    EXPECT_EQ(DecodeCp932("\x87\x40"), U"①");
    EXPECT_EQ(DecodeCp932("\x83\x74\x83\x40"), U"ファ");
    const auto tokens = ReadAll("\xDA\x32");
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_EQ(tokens[0].parsed.value, 0);
    EXPECT_EQ(tokens[0].parsed.length, 2);
}

TEST(MusicFile, InvalidBytesBecomeReplacementsAndReadingGoesOn) {
    // 0xFF and 0x80 start no character; 0x83 at the end is a cut character.
    const auto tokens = ReadAll(
        "\xFF"
        "2,\x80," +
        Re + "#4,\x83");
    ASSERT_EQ(tokens.size(), 4u);
    EXPECT_EQ(tokens[0].text, U"\uFFFD2");
    EXPECT_TRUE(tokens[0].invalidBytes);
    EXPECT_EQ(tokens[0].parsed.value, 0);
    EXPECT_EQ(tokens[0].parsed.length, 2);
    EXPECT_EQ(tokens[2].parsed.value, 3);
    EXPECT_FALSE(tokens[2].invalidBytes);
    EXPECT_TRUE(tokens[3].invalidBytes);
}

TEST(MusicFile, LinesAndColumnsCountCharacters) {
    const auto tokens = ReadAll(Do + "2, " + Re + "2\r\n" + Mi + "4\r" + Do + ",\n x");
    ASSERT_EQ(tokens.size(), 6u);
    const std::pair<std::uint64_t, std::uint64_t> where[] = {{1, 1}, {1, 5}, {2, 1},
                                                             {3, 1}, {3, 3}, {4, 2}};
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        EXPECT_EQ(tokens[i].line, where[i].first) << i;
        EXPECT_EQ(tokens[i].column, where[i].second) << i;
    }
}

TEST(MusicFile, ATokenCutAcrossReadBuffersReadsWhole) {
    // Fields and double-byte characters that straddle the reader's 64 KiB chunks: the first
    // chunk ends after a ド, or (one blank in front) between its two bytes.
    for (const std::string lead : {"", " "}) {
        std::string bytes = lead;
        std::vector<std::u32string> expected;
        for (int i = 0; i < 30000; ++i) {
            bytes += Do + (i % 2 ? "," : "\r\n");
            expected.push_back(U"ド");
        }
        ASSERT_EQ(bytes.substr(65534 + lead.size(), 2), Do);
        bytes += "\"" + std::string(70000, ' ') + Re + "\"";
        expected.push_back(std::u32string(70000, U' ') + U"レ");
        const auto tokens = ReadAll(bytes);
        ASSERT_EQ(tokens.size(), expected.size());
        for (std::size_t i = 0; i < 30000; ++i) ASSERT_EQ(tokens[i].text, expected[i]) << i;
        EXPECT_EQ(tokens.back().size, 70001u);
        EXPECT_EQ(tokens.back().text.size(), Token::KeptCharacters);
        EXPECT_EQ(tokens.back().parsed.value, 0) << "a blank is its first character";
    }
}

TEST(MusicFile, AHugeChordFieldIsParsedWithoutBeingKept) {
    std::string bytes;
    for (int i = 0; i < 200000; ++i) bytes += Mi + "H:";
    bytes += Re + "   \r\n";
    const auto tokens = ReadAll(bytes);
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_EQ(tokens[0].parsed.memberCount, 200000u) << "the last one-character member drops";
    EXPECT_EQ(tokens[0].parsed.members[0], 16);
    EXPECT_EQ(tokens[0].parsed.length, 1);
    EXPECT_LE(tokens[0].text.size(), Token::KeptCharacters);
}

}  // namespace
