#!/usr/bin/env bash
# The songs that come with the program: each is a Shift-JIS file with CR LF line ends as a
# Windows editor writes it, leans on no fallback of the notation, and is listed in the folder's
# manifest with where it comes from; the manifest lists no file that is not there. Every note
# is one that a key of the standard layout (F6) plays, so each is marked on the keyboard; an
# independent reader (midi2abc) reads the notes from the exported performance.
. "$(dirname "$0")/common.sh"
skip_without iconv midi2abc
SONGS="$2"
MANIFEST="$SONGS/README.md"
count=0
chords=0
for song in "$SONGS"/*.txt; do
    name=$(basename "$song")
    [ "$name" != CMakeLists.txt ] || continue  # the source folder's build rules
    count=$((count + 1))
    iconv -f CP932 -t UTF-8 "$song" > "$WORK/utf8.txt" || fail "$name is not Shift-JIS (CP932)"
    grep -q "ド\|レ\|ミ\|ファ\|ソ\|ラ\|シ" "$WORK/utf8.txt" || fail "$name has no note names"
    # Every line, the last one too, ends in CR LF, and no CR stands anywhere else.
    [ "$(tail -c 2 "$song" | od -An -tx1 | tr -d ' ')" = "0d0a" ] || fail "$name: last line end is not CR LF"
    lines=$(tr -cd '\n' < "$song" | wc -c)
    crlf=$(grep -c $'\r$' "$song" || true)
    crs=$(tr -cd '\r' < "$song" | wc -c)
    [ "$lines" = "$crlf" ] && [ "$crs" = "$lines" ] || fail "$name: line ends are not all CR LF"
    findings=$("$MURUTEKA" --check "$song") || fail "$name: --check found: $findings"
    [ -z "$findings" ] || fail "$name: --check printed: $findings"
    "$MURUTEKA" --export-midi "$song" "$WORK/song.mid" || fail "$name: --export-midi"
    # F6 keys play MIDI notes 56 (ソ#L) to 85 (ド#I), and 87 (レ#I).
    outside=$(midi2abc -f "$WORK/song.mid" -midigram |
        awk 'NF == 6 && ($5 < 56 || $5 > 87 || $5 == 86) { print $5 }' | sort -u | tr '\n' ' ')
    [ -z "$outside" ] || fail "$name: notes no key of the standard layout plays: $outside"
    notes=$(midi2abc -f "$WORK/song.mid" -midigram | awk 'NF == 6' | wc -l)
    [ "$notes" -ge 20 ] || fail "$name: only $notes notes"
    grep -q ':' "$WORK/utf8.txt" && chords=$((chords + 1))
    grep -q "^| \`$name\` | [^|]* | [^|]* | [^|]* |" "$MANIFEST" || fail "$name is not in the manifest"
done
[ "$count" -ge 10 ] || fail "only $count songs"
[ "$chords" -ge 3 ] || fail "only $chords songs with chords"
for listed in $(grep -o '^| `[^`]*`' "$MANIFEST" | tr -d '|` '); do
    [ -f "$SONGS/$listed" ] || fail "the manifest lists $listed, which is not there"
done
echo "songs: $count, $chords with chords: ok"
