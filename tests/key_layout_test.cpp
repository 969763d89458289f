#include "key_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace keyboard;

namespace {

struct LayoutExpectation {
    const char* name;
    std::int16_t degree;
    // KeyNote for keys 1..36 in key-number order.
    std::vector<std::int16_t> notes;
    std::int16_t lowest, highest, count, missing;
    // NoteKey(1..NoteKeyCount) as key characters, '-' for an entry of 0.
    std::string noteKeys;
};

const LayoutExpectation Layouts[] = {
    {"F4",
     LayoutF4,
     {-99, 1,  3,   -99, 6,  8,  10,  -99, 13, 15,  0,  2,  4,  5,  7,  9,  11, 12,
      14,  16, -99, 18,  20, 22, -99, 25,  27, -99, 30, 17, 19, 21, 23, 24, 26, 28},
     0,
     30,
     31,
     29,
     "Q2W3ER5T6Y7UI9O0PZSXDCFVBHNJM-L"},
    {"F5",
     LayoutF5,
     {-2, -99, 1,  3,   -99, 6,  8,  10,  -99, 13, -1,  0,  2,  4,  5,  7,  9,  11,
      12, 14,  15, -99, 18,  20, 22, -99, 25,  27, -99, 16, 17, 19, 21, 23, 24, 26},
     -2,
     27,
     30,
     0,
     "1QW3E4RT6Y7U8IO0PAZXDCFVGBNJMK"},
    {"F6",
     LayoutF6,
     {-4, -2, -99, 1,  3,   -99, 6,  8,  10,  -99, -3, -1, 0,  2,  4,  5,  7,  9,
      11, 12, 13,  15, -99, 18,  20, 22, -99, 25,  27, 14, 16, 17, 19, 21, 23, 24},
     -4,
     27,
     32,
     26,
     "1Q2WE4R5TY7U8I9OPAZSXCFVGBHNMK-L"},
    {"F7",
     LayoutF7,
     {-6, -4, -2,  -99, 1,  3,   -99, 6,  8,  10,  -5, -3, -1, 0,  2,  4,  5,  7,
      9,  11, -99, 13,  15, -99, 18,  20, 22, -99, 25, 12, 14, 16, 17, 19, 21, 23},
     -6,
     25,
     32,
     24,
     "1Q2W3ER5T6YU8I9O0PZSXDCVGBHNJM-L"},
};

TEST(KeyLayout, EveryLayoutGivesItsTablesInFull) {
    for (const auto& layout : Layouts) {
        SCOPED_TRACE(layout.name);
        const NoteTables t = NoteTablesForLayout(layout.degree);
        EXPECT_EQ(t.KeyNote[0], 0);
        for (int k = 1; k <= KeyCount; ++k) {
            EXPECT_EQ(t.KeyNote[static_cast<std::size_t>(k)],
                      layout.notes[static_cast<std::size_t>(k - 1)])
                << "key " << KeyCharacter[static_cast<std::size_t>(k)];
        }
        EXPECT_EQ(t.LowestNote, layout.lowest);
        EXPECT_EQ(t.HighestNote, layout.highest);
        EXPECT_EQ(t.NoteKeyCount, layout.count);
        EXPECT_EQ(t.MissingNote, layout.missing);
        std::string keys;
        for (int i = 1; i <= t.NoteKeyCount; ++i) {
            const auto key = t.NoteKey[static_cast<std::size_t>(i)];
            keys += key == 0 ? '-' : KeyCharacter[static_cast<std::size_t>(key)];
        }
        EXPECT_EQ(keys, layout.noteKeys);
        for (int i = t.NoteKeyCount + 1; i <= KeyCount; ++i) {
            EXPECT_EQ(t.NoteKey[static_cast<std::size_t>(i)], 0) << i;
        }
        EXPECT_EQ(t.NoteKeyCount, t.HighestNote - t.LowestNote + 1);
    }
}

TEST(KeyLayout, LabelsFollowTheDegreeOfEachKey) {
    const auto keys = LayoutRule(LayoutF6);
    const std::vector<std::string_view> digits = {" ｿ#", " ﾗ#", " ",   "ﾄﾞ#", " ﾚ#",
                                                  " ",   "ﾌｧ#", " ｿ#", " ﾗ#", " "};
    const std::vector<std::string_view> aRow = {"ﾄﾞ#", " ﾚ#", " ",   "ﾌｧ#", " ｿ#",
                                                " ﾗ#", " ",   "ﾄﾞ#", " ﾚ#"};
    const std::vector<std::string_view> qRow = {"ラ", "シ", "ド", "レ", "ミ",
                                                "ﾌｧ", "ソ", "ラ", "シ", "ド"};
    const std::vector<std::string_view> zRow = {"レ", "ミ", "ﾌｧ", "ソ", "ラ", "シ", "ド"};
    for (int k = 1; k <= 10; ++k) EXPECT_EQ(keys[k].label, digits[k - 1]) << k;
    for (int k = 11; k <= 20; ++k) EXPECT_EQ(keys[k].label, qRow[k - 11]) << k;
    for (int k = 21; k <= 29; ++k) EXPECT_EQ(keys[k].label, aRow[k - 21]) << k;
    for (int k = 30; k <= 36; ++k) EXPECT_EQ(keys[k].label, zRow[k - 30]) << k;
    // A key without a note carries the single blank label, and only such a key does.
    for (const auto degree : {LayoutF4, LayoutF5, LayoutF6, LayoutF7}) {
        const auto layout = LayoutRule(degree);
        for (int k = 1; k <= KeyCount; ++k) {
            EXPECT_EQ(layout[k].note == NoNote, layout[k].label == NoBlackKeyLabel) << k;
        }
    }
}

TEST(KeyLayout, NoNoteIsPlayedByTwoKeysAndTheTablesAreStable) {
    for (const auto& layout : Layouts) {
        const NoteTables first = NoteTablesForLayout(layout.degree);
        std::vector<int> seen(200, 0);
        for (int k = 1; k <= KeyCount; ++k) {
            const auto note = first.KeyNote[static_cast<std::size_t>(k)];
            if (note != NoNote) {
                EXPECT_EQ(++seen[static_cast<std::size_t>(note + 100)], 1);
            }
        }
        const NoteTables again = NoteTablesForLayout(layout.degree);
        EXPECT_EQ(first.KeyNote, again.KeyNote);
        EXPECT_EQ(first.NoteKey, again.NoteKey);
    }
}

TEST(KeyLayout, VirtualKeyCodesMapToKeyNumbers) {
    const std::pair<int, int> cases[] = {{'1', 1},  {'9', 9},  {'0', 10}, {'Q', 11}, {'P', 20},
                                         {'A', 21}, {'L', 29}, {'Z', 30}, {'M', 36}};
    for (const auto& [code, key] : cases) EXPECT_EQ(KeyOfVirtualKey(code), key) << code;
    for (int code : {0, 27, 96, 112, int{'q'}, int{';'}, 255})
        EXPECT_FALSE(KeyOfVirtualKey(code)) << code;
}

}  // namespace
