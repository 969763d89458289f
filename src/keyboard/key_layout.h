// The 36 piano keys of the typing keyboard: where they stand, which note each plays in each layout,
// and the tables that map notes back to keys. Plain C++: no window is needed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace keyboard {

inline constexpr int KeyCount = 36;
inline constexpr std::int16_t NoNote = -99;

// Tables indexed by key number use indices 1..36; index 0 belongs to no key.
template <class T>
using KeyTable = std::array<T, KeyCount + 1>;

// Rows in key-number order: digits 1-10, Q row 11-20, A row 21-29, Z row 30-36.
enum class Row { Digits, Q, A, Z };
Row RowOfKey(int key);
// The digit row and the A row hold the black keys (sharps).
inline bool IsSharpRow(Row row) {
    return row == Row::Digits || row == Row::A;
}

// Indexed by scale degree 0..6 (ド レ ミ ﾌｧ ソ ラ シ).
inline constexpr std::array<std::int16_t, 7> NaturalStep = {0, 2, 4, 5, 7, 9, 11};
inline constexpr std::array<std::int16_t, 7> SharpStep = {-99, 1, 3, -99, 6, 8, 10};
inline constexpr std::array<std::string_view, 7> NoteName = {"ド", "レ", "ミ", "ﾌｧ",
                                                             "ソ", "ラ", "シ"};
// A single blank stands where a degree has no black key below it.
inline constexpr std::array<std::string_view, 7> SharpName = {" ",   "ﾄﾞ#", " ﾚ#", " ",
                                                              "ﾌｧ#", " ｿ#", " ﾗ#"};
inline constexpr std::string_view NoBlackKeyLabel = " ";

// x of each key cap's left edge, in the keyboard picture's 7005 x 3000 units.
inline constexpr KeyTable<float> KeyLeft = {
    0,    200,  800,  1400, 2000, 2600, 3200, 3800, 4400, 5000, 5600,  // 1 2 3 4 5 6 7 8 9 0
    500,  1100, 1700, 2300, 2900, 3500, 4100, 4700, 5300, 5900,        // Q W E R T Y U I O P
    700,  1300, 1900, 2500, 3100, 3700, 4300, 4900, 5500,              // A S D F G H J K L
    1000, 1600, 2200, 2800, 3400, 4000, 4600,                          // Z X C V B N M
};

// The character printed on each key cap.
inline constexpr KeyTable<char> KeyCharacter = {
    0,   '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', 'Q', 'W', 'E', 'R', 'T', 'Y', 'U', 'I',
    'O', 'P', 'A', 'S', 'D', 'F', 'G', 'H', 'J', 'K', 'L', 'Z', 'X', 'C', 'V', 'B', 'N', 'M',
};

// The key number of a Windows virtual-key code (the letters' and digits' own character codes),
// or nothing for a key that is not one of the 36.
std::optional<int> KeyOfVirtualKey(int code);
inline int VirtualKeyOfKey(int key) {
    return KeyCharacter[static_cast<std::size_t>(key)];
}

// Layout degrees chosen by F4, F5, F6 and F7; F6 is the standard layout at start.
inline constexpr std::int16_t LayoutF4 = 0;
inline constexpr std::int16_t LayoutF5 = 6;
inline constexpr std::int16_t LayoutF6 = 5;
inline constexpr std::int16_t LayoutF7 = 4;

struct KeyAssignment {
    std::int16_t note = 0;   // semitone offset from middle C, or NoNote
    std::string_view label;  // NoteName or SharpName entry of the key's degree
};

// Walks the keys in key-number order and gives each its note and label for the layout.
KeyTable<KeyAssignment> LayoutRule(std::int16_t layoutDegree);

// The note tables shared by the keyboard and the automatic performance.
struct NoteTables {
    KeyTable<std::int16_t> KeyNote{};  // entry 0 is always 0
    std::int16_t LowestNote = 0;
    std::int16_t HighestNote = 0;
    KeyTable<std::int16_t> NoteKey{};  // NoteKey[i]: key playing LowestNote + i - 1, or 0
    std::int16_t NoteKeyCount = 0;
    std::int16_t MissingNote = 0;  // the one note in range that no key plays, or 0
};

// Recomputes LowestNote, HighestNote, NoteKey, NoteKeyCount and MissingNote from KeyNote.
void BuildNoteKey(NoteTables& tables);

// KeyNote from the layout rule, then BuildNoteKey: the tables of one layout.
NoteTables NoteTablesForLayout(std::int16_t layoutDegree);

}  // namespace keyboard
