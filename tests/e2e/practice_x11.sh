#!/usr/bin/env bash
# Practice under a real X server, keys typed through xdotool: the caption counts the steps, a
# wrong key does not advance, the result goes to stdout and the history, the recording holds what
# was played. In time: the count-in's four clicks (not recorded), then every note missed. A damaged history and
# an unwritable data folder are reported and practice goes on. F3's dialog starts a practice
# whose next key is framed on the screen (a pixel scan), and Esc stops it.
. "$(dirname "$0")/common.sh"
SMF_EVENTS="$2"
skip_without Xvfb xdotool iconv import convert abc2midi
# ド レ ミ and a chord ド:ミ:ソ: E R T and E T U in the standard layout.
printf 'ド4,レ4,ミ4,ド:ミ:ソ4\r\n' | iconv -f UTF-8 -t CP932 > "$WORK/song.txt"
# A MIDI file of two unnamed tracks: ド レ ミ above middle C, a low ド below; practised as the
# right hand, its steps are the upper track's.
printf 'X:1\nL:1/4\nK:C\nV:1\nC D E\nV:2\nC,,3\n' > "$WORK/two.abc"
abc2midi "$WORK/two.abc" -o "$WORK/two.mid" >/dev/null
mkdir -p "$WORK/blocked"
echo "a file where the folder should be" > "$WORK/blocked/muruteka"
cat > "$WORK/session.sh" <<'INNER'
set -euo pipefail
MURUTEKA="$1"; WORK="$2"
caption() {
    for _ in $(seq 100); do
        [ "$(xdotool getwindowname "$win")" = "$1" ] && return 0
        sleep 0.1
    done
    echo "caption '$(xdotool getwindowname "$win")', expected '$1'"; exit 1
}
start() {  # output file, then the program's arguments
    local out="$1"; shift
    "$MURUTEKA" "$@" >"$WORK/$out.out" 2>"$WORK/$out.err" &
    pid=$!
    win=$(wait_for_window 'ムルテカ') || { echo "no window"; exit 1; }
}
play() { for key in "$@"; do xdotool key "$key"; sleep 0.15; done; }
chord() { xdotool keydown e t u; sleep 0.1; xdotool keyup e t u; }
close_result_and_quit() {
    box=$(wait_for_window 'ムルテカの練習結果') || {
        echo "no result box"; xdotool search --name '' getwindowname %@ 2>&1 | grep .; exit 1; }
    xdotool windowfocus --sync "$box"; xdotool key Return
    sleep 0.3
    xdotool windowfocus --sync "$win"; xdotool key F9
    wait "$pid" || { echo "exit code $?"; exit 1; }
}
export XDG_DATA_HOME="$WORK/data"

start wait --midi-out "trace:$WORK/wait.trace" --record "$WORK/take.mid" --practice "$WORK/song.txt"
caption 'ムルテカ  [録音中]  [練習 0/4]'
xdotool windowfocus --sync "$win"
play e; caption 'ムルテカ  [録音中]  [練習 1/4]'
play r q; caption 'ムルテカ  [録音中]  [練習 2/4]'
play t; caption 'ムルテカ  [録音中]  [練習 3/4]'
chord; caption 'ムルテカ  [録音中]'
close_result_and_quit

printf 'damaged line\n' >> "$WORK/data/muruteka/practice.tsv"
start intime --midi-out "trace:$WORK/intime.trace" --record "$WORK/clicks.mid" --practice "$WORK/song.txt" --in-time --tempo 168
close_result_and_quit

XDG_DATA_HOME="$WORK/blocked" start blocked --midi-out "trace:$WORK/blocked.trace" --practice "$WORK/song.txt"
xdotool windowfocus --sync "$win"
play e r t; chord
close_result_and_quit

start midi --midi-out "trace:$WORK/midi.trace" --practice "$WORK/two.mid" --hand right
caption 'ムルテカ  [練習 0/3]'
xdotool windowfocus --sync "$win"
play e r t
close_result_and_quit

# Slow first: a clean pass at 60 raises the tempo to 72; Esc before a note writes no line. Then
# listen and repeat: the one phrase is played (1.8 s at 168), then played back.
start ramp --midi-out "trace:$WORK/ramp.trace" --practice "$WORK/song.txt" --ramp 60 --tempo 72
caption 'ムルテカ  [練習 テンポ60 0/4]'; xdotool windowfocus --sync "$win"
play e r t; chord; caption 'ムルテカ  [練習 テンポ72 0/4]'; xdotool key Escape; close_result_and_quit
start echo --midi-out "trace:$WORK/echo.trace" --practice "$WORK/song.txt" --echo --tempo 168
caption 'ムルテカ  [練習 聴いてまねる 1/1]'; xdotool windowfocus --sync "$win"
sleep 3; play e r t; chord; close_result_and_quit

start dialog --midi-out "trace:$WORK/dialog.trace"
xdotool windowfocus --sync "$win"
xdotool key F3
dialog=$(wait_for_window '^練習$') || { echo "no dialog"; exit 1; }
xdotool windowfocus --sync "$dialog"
xdotool type "$WORK/song.txt"
xdotool key Return
caption 'ムルテカ  [練習 0/4]'
sleep 0.5
import -window "$win" "$WORK/next0.png"
xdotool windowfocus --sync "$win"
play e; caption 'ムルテカ  [練習 1/4]'
sleep 0.5
import -window "$win" "$WORK/next1.png"
xdotool key Escape
caption 'ムルテカ'
close_result_and_quit
INNER
in_x11 bash "$WORK/session.sh" "$MURUTEKA" "$WORK" ||
    fail "the X11 session failed; stderr: $(cat "$WORK"/*.err 2>/dev/null), stdout: $(cat "$WORK"/*.out)"

# Notes as sent, in order: ド レ ラL(wrong) ミ, then the chord; every one ended.
[ "$(awk '$2 ~ /^007f..90$/ { printf "%s ", substr($2, 5, 2) }' "$WORK/wait.trace")" = \
    "3c 3e 39 40 3c 40 43 " ] || fail "wait-mode notes: $(cat "$WORK/wait.trace")"
[ "$(grep -c ' 0000..90$' "$WORK/wait.trace")" = 7 ] || fail "notes left sounding"
"$SMF_EVENTS" "$WORK/take.mid" | awk '$4 > 0 { n++ } END { exit n == 7 ? 0 : 1 }' ||
    fail "the recording holds $("$SMF_EVENTS" "$WORK/take.mid")"
# The count-in: four side-stick clicks on channel 10, each ended; no note, nothing else.
[ "$(grep -c ' 006e2599$' "$WORK/intime.trace")" = 4 ] &&
    [ "$(grep -c ' 00002599$' "$WORK/intime.trace")" = 4 ] &&
    [ "$(wc -l < "$WORK/intime.trace")" = 8 ] || fail "count-in: $(cat "$WORK/intime.trace")"
# The clicks are not the player's: the recording got nothing, so made no file.
[ ! -e "$WORK/clicks.mid" ] || fail "the clicks were recorded: $("$SMF_EVENTS" "$WORK/clicks.mid")"

# The history: time, path, mode, tempo, notes, played, wrong, missed, early, late, median,
# seconds, a ramp's start (60 or empty), the bars. The damaged line is kept and named once. The
# run with no data folder left none; F3's practice was stopped after one note.
song="$(cd "$WORK" && pwd -P)/song.txt"
history="$WORK/data/muruteka/practice.tsv"
cut -f2-11 "$history" > "$WORK/columns"
two="$(cd "$WORK" && pwd -P)/two.mid（右手）"
printf '%s\n' "$song	wait	126	6	6	1				" "damaged line" \
    "$song	in-time	168	6	0	0	6	0	0	" "$two	wait	126	3	3	0				" \
    "$song	wait	60	6	6	0				" "$song	echo	168	6	6	0				" \
    "$song	wait	126	6	1	0				" > "$WORK/expected"
diff "$WORK/expected" "$WORK/columns" || fail "history: $(cat "$history")"
awk -F'\t' 'NF != 1 && (NF != 14 || ($13 != "" && $13 != 60) || $1 !~ /^20[0-9][0-9]-[01][0-9]-[0-3][0-9]T/ || $12 !~ /^[0-9.]+$/) \
    { exit 1 }' "$history" || fail "history columns: $(cat "$history")"
grep -q '2行目' "$WORK/intime.err" || fail "no notice of the damaged line: $(cat "$WORK/intime.err")"
for run in wait intime blocked midi echo dialog; do
    [ "$(wc -l < "$WORK/$run.out")" = 1 ] || fail "$run: stdout $(cat "$WORK/$run.out")"
done
# The phrase as the program played it, then as the player played it back.
[ "$(awk '$2 ~ /^007f..90$/ { printf "%s ", substr($2, 5, 2) }' "$WORK/echo.trace")" = \
    "3c 3e 40 3c 40 43 3c 3e 40 3c 40 43 " ] || fail "echo: $(cat "$WORK/echo.trace")"
grep -q 'ミスなしの最高テンポ 60' "$WORK/ramp.out" || fail "ramp: stdout $(cat "$WORK/ramp.out")"
grep -q '（聴いてまねる・テンポ168）' "$WORK/echo.out" || fail "echo: stdout $(cat "$WORK/echo.out")"
grep -q 'muruteka' "$WORK/blocked.err" || fail "no message about the data folder"
[ ! -e "$WORK/blocked/muruteka/practice.tsv" ] && [ -f "$WORK/blocked/muruteka" ] || fail "blocked"

# The next key's frame, found by its colour alone: around E (picture units 1700-2200 x 800-1300
# in a 467 x 200 picture), then around R, 600 units (40 pixels) to the right. The key tape stands
# above the picture (80 pixels), its now line in the same orange: the picture is the lowest 200.
[ "$(identify -format %h "$WORK/next0.png")" = 280 ] || fail "the window did not grow by the tape"
frame() { convert "$1" -gravity south -crop x200+0+0 +repage \
    -fx '(r > 0.8 && g > 0.2 && g < 0.6 && b < 0.2) ? 1 : 0' -format '%@' info:; }
f0=$(frame "$WORK/next0.png") && f1=$(frame "$WORK/next1.png") || fail "no screenshots"
read -r w0 h0 x0 y0 <<< "${f0//[x+]/ }"
read -r w1 h1 x1 y1 <<< "${f1//[x+]/ }"
[ "$x0" -lt 113 ] && [ $((x0 + w0)) -gt 147 ] && [ "$y0" -lt 53 ] && [ $((y0 + h0)) -gt 87 ] &&
    [ "$w0" -lt 50 ] && [ "$h0" -lt 50 ] || fail "the frame is ${w0}x$h0+$x0+$y0, not around E"
[ "$((x1 - x0))" = 40 ] && [ "$y1" = "$y0" ] && [ "$w1" = "$w0" ] ||
    fail "after E the frame is ${w1}x$h1+$x1+$y1, not around R"
echo "practice under X11: ok"
