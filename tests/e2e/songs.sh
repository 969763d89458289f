#!/usr/bin/env bash
# The songs that come with the program: each is a Shift-JIS file with CR LF line ends as a
# Windows editor writes it, leans on no fallback of the notation, and is listed in the folder's
# manifest with where it comes from; the manifest lists no file that is not there.
. "$(dirname "$0")/common.sh"
skip_without iconv
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
    grep -q ':' "$WORK/utf8.txt" && chords=$((chords + 1))
    grep -q "^| \`$name\` | [^|]* | [^|]* | [^|]* |" "$MANIFEST" || fail "$name is not in the manifest"
done
[ "$count" -ge 10 ] || fail "only $count songs"
[ "$chords" -ge 3 ] || fail "only $chords songs with chords"
for listed in $(grep -o '^| `[^`]*`' "$MANIFEST" | tr -d '|` '); do
    [ -f "$SONGS/$listed" ] || fail "the manifest lists $listed, which is not there"
done
echo "songs: $count, $chords with chords: ok"
