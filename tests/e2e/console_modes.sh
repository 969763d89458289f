#!/usr/bin/env bash
# --check, --export-midi and --render-wav as a user runs them: for each outcome the exit status
# and every character written to the terminal, and the limits of --tempo and --channel.
. "$(dirname "$0")/common.sh"
skip_without iconv od
# None of these needs a display; a recording whose file cannot be made ends before any window.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
cp932() { printf '%s' "$1" | iconv -f UTF-8 -t CP932 > "$2"; }
CLEAN="$WORK/曲 clean.txt"
ODD="$WORK/曲 odd.txt"
MISSING="$WORK/ない.txt"
cp932 $'ド2,レ#4,ド:ミ:ソ4\r\n-2,ラ1\r\n' "$CLEAN"
cp932 $'ド2,ﾚ2\r\nレ\r\n"ミh4",ド:ミ:ソ\r\n' "$ODD"
mkdir "$WORK/folder.txt"

# expect WHAT STATUS STDOUT STDERR ARGS...: the whole of stdout, newlines included, and the one
# line of stderr.
expect() {
    local what="$1" status="$2" out="$3" err="$4" code=0
    shift 4
    "$MURUTEKA" "$@" >"$WORK/out" 2>"$WORK/err" </dev/null || code=$?
    [ "$code" = "$status" ] || fail "$what: exit status $code, expected $status"
    printf '%s' "$out" | cmp -s - "$WORK/out" || fail "$what: stdout was [$(cat "$WORK/out")]"
    printf '%s' "${err:+$err$'\n'}" | cmp -s - "$WORK/err" || fail "$what: stderr was [$(cat "$WORK/err")]"
}
missing() { printf '「%s」ﾌｧｲﾙはありません。\n' "$1"; }

expect "check, clean" 0 "" "" --check "$CLEAN"
expect "check, findings" 1 "$ODD:1:4: 「ﾚ」は音名ではありません。ドとして演奏します。
$ODD:2:1: 長さの数字がありません。長さ1で演奏します。
$ODD:3:3: 「h」は無視されます。
$ODD:3:11: 長さの数字がないため、最後の「ソ」は和音に入りません。
$ODD:3:11: 長さの数字がありません。長さ1で演奏します。
" "" --check "$ODD"
expect "check, missing" 2 "" "$(missing "$MISSING")" --check "$MISSING"
expect "check, a folder" 2 "" "$(missing "$WORK/folder.txt")" --check "$WORK/folder.txt"
for mode in export-midi render-wav; do
    out="$WORK/out.$mode"
    expect "$mode, missing" 1 "" "$(missing "$MISSING")" "--$mode" "$MISSING" "$out"
    expect "$mode, a folder" 1 "" "$(missing "$WORK/folder.txt")" \
        "--$mode" "$WORK/folder.txt" "$out"
    [ ! -e "$out" ] || fail "$mode wrote a file for a missing music file"
    expect "$mode, findings play as they sound" 0 "" "" "--$mode" "$ODD" "$out"
    [ -s "$out" ] || fail "$mode wrote nothing"
    rm "$out"
    expect "$mode, clean" 0 "" "" "--$mode" "$CLEAN" "$out"
    [ -s "$out" ] || fail "$mode wrote nothing"
done
if [ "$(id -u)" != 0 ]; then
    cp "$CLEAN" "$WORK/locked.txt"
    chmod 000 "$WORK/locked.txt"
    expect "check, unreadable" 2 "" "$(missing "$WORK/locked.txt")" --check "$WORK/locked.txt"
fi

usage() { printf 'muruteka: %s\n' "$1"; }
expect "check without a file" 2 "" "$(usage "--check needs a music file")" --check
expect "export with one file" 2 "" \
    "$(usage "--export-midi needs a music file and an output file")" --export-midi "$CLEAN"
expect "two modes" 2 "" "$(usage "--check and --render-wav cannot be used together")" \
    --check "$CLEAN" --render-wav "$CLEAN" "$WORK/x.wav"
expect "unknown option" 2 "" "$(usage "unknown option --tempi")" --tempi 100 --check "$CLEAN"
expect "tempo without a number" 2 "" "$(usage "--tempo needs a value")" --check "$CLEAN" --tempo
for tempo in 0 1000 -5 12x ""; do
    expect "tempo '$tempo'" 2 "" "$(usage "--tempo takes a whole number from 1 to 999")" \
        --export-midi "$CLEAN" "$WORK/x.mid" "--tempo=$tempo"
done
for channel in -1 16 1.5; do
    expect "channel $channel" 2 "" "$(usage "--channel takes a whole number from 0 to 15")" \
        --export-midi "$CLEAN" "$WORK/x.mid" --channel "$channel"
done
expect "record into a missing folder" 1 "" \
    "「$WORK/none/take.txt」ﾌｧｲﾙを作成できません（フォルダがありません）。" --record "$WORK/none/take.txt"
[ ! -e "$WORK/x.mid" ] || fail "a usage error wrote a file"

# The limits that are taken reach the file: its tempo event (microseconds a quarter note, three
# bytes), the channel of the note and the delta time of its ending. "ド4" lasts one beat, a whole
# minute at tempo 1: 60,000,000 microseconds do not fit three bytes, so that file counts a beat a
# quarter as long with four times the ticks.
cp932 'ド4' "$WORK/do.txt"
bytes() { od -An -tx1 -v -j "$2" -N "$3" "$1" | tr -d ' \n'; }
for row in "1 0 e4e1c0 903c7f 8f00" "999 15 00ea9c 9f3c7f 8360" "126 9 07441e 993c7f 8360"; do
    read -r tempo channel micros note ending <<<"$row"
    expect "tempo $tempo channel $channel" 0 "" "" \
        --export-midi "$WORK/do.txt" "$WORK/t.mid" --tempo "$tempo" --channel "$channel"
    # The track: 00 ff 51 03 and the tempo, 00 and the note-on, the ending's delta time.
    [ "$(bytes "$WORK/t.mid" 22 13)" = "00ff5103${micros}00${note}${ending}" ] ||
        fail "tempo $tempo channel $channel: track starts $(bytes "$WORK/t.mid" 22 13)"
done

# An existing output is replaced whole: through a symlink, its target, the link staying; the
# replaced file keeps its permissions.
for row in "export-midi MThd" "render-wav RIFF" "print-layout %PDF"; do
    read -r mode magic <<<"$row"
    printf OLD >"$WORK/old.$mode" && chmod 640 "$WORK/old.$mode" && ln -s "old.$mode" "$WORK/$mode.lnk"
    input=("$WORK/do.txt")
    [ "$mode" != print-layout ] || input=()
    expect "$mode over a linked file" 0 "" "" "--$mode" "${input[@]}" "$WORK/$mode.lnk"
    [ -L "$WORK/$mode.lnk" ] && [ "$(stat -c %a "$WORK/old.$mode")" = 640 ] &&
        [ "$(head -c 4 "$WORK/old.$mode")" = "$magic" ] ||
        fail "$mode: $(ls -l "$WORK/$mode.lnk" "$WORK/old.$mode")"
done

# A rendered file as a standard reader sees it: "ラ4" at tempo 126 ends at 0.476190 s, sample
# 21000 of 44.1 kHz, then its release rings on in tenths of a second until one is silent.
if command -v soxi >/dev/null && [ -e /usr/share/sounds/sf2/default-GM.sf2 ]; then
    cp932 'ラ4' "$WORK/la.txt"
    expect "render la" 0 "" "" --render-wav "$WORK/la.txt" "$WORK/la.wav"
    header="$(soxi -r "$WORK/la.wav") $(soxi -c "$WORK/la.wav") $(soxi -b "$WORK/la.wav")"
    [ "$header" = "44100 2 16" ] || fail "rate, channels, bits: $header"
    samples=$(soxi -s "$WORK/la.wav")
    tail=$((samples - 21000))
    [ $((tail % 4410)) = 0 ] && [ "$tail" -ge 4410 ] && [ "$tail" -le 220500 ] ||
        fail "$samples samples"
    rms() { sox "$WORK/la.wav" -n trim "$1" "$2" stat 2>&1 | awk '/RMS +amplitude/ { print $3 }'; }
    awk -v a="$(rms 0.05 0.4)" -v b="$(rms "$((samples - 4410))s" 4410s)" \
        'BEGIN { exit !(a > 0.01 && b < a / 100) }' || fail "not sounding, or it does not die away"
    # The strongest line of its spectrum (bins of 10.8 Hz) is ラ4's 440 Hz.
    peak=$(sox "$WORK/la.wav" -n remix 1 trim 0.05 0.4 stat -freq 2>&1 |
        awk 'NF == 2 && $1 > 0 && $2 > m { m = $2; f = $1 } END { print f }')
    awk -v f="$peak" 'BEGIN { exit !(f > 430 && f < 452) }' || fail "ラ4 sounds at $peak Hz"
fi
echo "console modes: ok"
