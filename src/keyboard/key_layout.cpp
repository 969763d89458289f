#include "key_layout.h"

#include <algorithm>

namespace keyboard {

Row RowOfKey(int key) {
    if (key <= 10) return Row::Digits;
    if (key <= 20) return Row::Q;
    if (key <= 29) return Row::A;
    return Row::Z;
}

std::optional<int> KeyOfVirtualKey(int code) {
    for (int key = 1; key <= KeyCount; ++key) {
        if (VirtualKeyOfKey(key) == code) return key;
    }
    return std::nullopt;
}

KeyTable<KeyAssignment> LayoutRule(std::int16_t layoutDegree) {
    KeyTable<KeyAssignment> keys{};
    int black = layoutDegree;
    int white = layoutDegree;
    int blackOctave = layoutDegree > 0 ? -1 : 0;
    int whiteOctave = blackOctave;
    for (int key = 1; key <= KeyCount; ++key) {
        KeyAssignment& assigned = keys[static_cast<std::size_t>(key)];
        if (IsSharpRow(RowOfKey(key))) {
            const std::int16_t step = SharpStep[static_cast<std::size_t>(black)];
            assigned.note =
                step == NoNote ? NoNote : static_cast<std::int16_t>(step + 12 * blackOctave);
            assigned.label = SharpName[static_cast<std::size_t>(black)];
            ++black;
        } else {
            assigned.note = static_cast<std::int16_t>(NaturalStep[static_cast<std::size_t>(white)] +
                                                      12 * whiteOctave);
            assigned.label = NoteName[static_cast<std::size_t>(white)];
            ++white;
        }
        if (black > 6) {
            black = 0;
            ++blackOctave;
        }
        if (white > 6) {
            white = 0;
            ++whiteOctave;
        }
    }
    return keys;
}

void BuildNoteKey(NoteTables& t) {
    bool any = false;
    for (int key = 1; key <= KeyCount; ++key) {
        const std::int16_t note = t.KeyNote[static_cast<std::size_t>(key)];
        if (note == NoNote) continue;
        if (!any || note < t.LowestNote) t.LowestNote = note;
        if (!any || note > t.HighestNote) t.HighestNote = note;
        any = true;
    }
    t.NoteKey.fill(0);
    t.NoteKeyCount = 0;
    for (int i = 1; i <= KeyCount; ++i) {
        const int note = t.LowestNote + i - 1;
        for (int key = 1; key <= KeyCount; ++key) {
            if (t.KeyNote[static_cast<std::size_t>(key)] == note) {
                t.NoteKey[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(key);
                t.NoteKeyCount = static_cast<std::int16_t>(i);
                break;
            }
        }
    }
    // Only the white key that would follow M can be missing, just below HighestNote.
    t.MissingNote = 0;
    int i = t.NoteKeyCount;
    while (i >= 25 && t.NoteKey[static_cast<std::size_t>(i)] != 0) --i;
    if (i > 25) t.MissingNote = static_cast<std::int16_t>(t.HighestNote - 1);
}

NoteTables NoteTablesForLayout(std::int16_t layoutDegree) {
    NoteTables tables;
    const auto keys = LayoutRule(layoutDegree);
    for (int key = 1; key <= KeyCount; ++key) {
        tables.KeyNote[static_cast<std::size_t>(key)] = keys[static_cast<std::size_t>(key)].note;
    }
    BuildNoteKey(tables);
    return tables;
}

}  // namespace keyboard
