#!/usr/bin/env bash
# A music file named on the command line: the dialog opens before the main window, Execute is
# pressed from the keyboard, and every note starts when it is due. The margin of 30 ms is a quarter
# of a sixteenth: a wrong tempo or a lost length unit is far outside it, while the scheduler of a
# busy machine stays inside it (bench/performance_timing measures the real precision).
. "$(dirname "$0")/common.sh"
skip_without Xvfb xdotool iconv
printf 'ド:ミ:ソ4,ド:ファ:ラ4,ド:ミ:ソ4\r\nド2,レ2,ミ2\r\n' | iconv -f UTF-8 -t CP932 > "$WORK/tune.txt"
cat > "$WORK/session.sh" <<'INNER'
set -euo pipefail
MURUTEKA="$1"; WORK="$2"
find_window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
"$MURUTEKA" --midi-out "trace:$WORK/trace.log" "$WORK/tune.txt" &
pid=$!
for _ in $(seq 100); do dialog=$(find_window '自動演奏') && [ -n "$dialog" ] && break; sleep 0.1; done
[ -n "${dialog:-}" ] || { echo "no dialog"; exit 1; }
[ -z "$(find_window '^ムルテカ$')" ] || { echo "the main window opened before the dialog closed"; exit 1; }
xdotool windowfocus --sync "$dialog"
xdotool key Tab Tab space
sleep 4.5
xdotool key alt+x
for _ in $(seq 50); do main=$(find_window '^ムルテカ$') && [ -n "$main" ] && break; sleep 0.1; done
[ -n "${main:-}" ] || { echo "no main window after the dialog"; exit 1; }
xdotool windowfocus --sync "$main"
xdotool key F9
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
wait "$pid"
INNER
in_x11 bash "$WORK/session.sh" "$MURUTEKA" "$WORK" ||
    fail "the X11 session failed"
# Expected note-ons: value and due time in sixteenth-note units at tempo 126.
cat > "$WORK/expected" <<'LIST'
007f3c90 0
007f4090 0
007f4390 0
007f3c90 4
007f4190 4
007f4590 4
007f3c90 8
007f4090 8
007f4390 8
007f3c90 12
007f3e90 14
007f4090 16
LIST
grep ' 007f' "$WORK/trace.log" | paste -d' ' - "$WORK/expected" | awk -v unit=119.047619 '
    NR == 1 { start = $1 }
    {
        if ($2 != $3) { print "note " NR ": got " $2 ", expected " $3; bad = 1 }
        late = $1 - (start + $4 * unit)
        if (late > 30 || late < -30) { print "note " NR " off by " late " ms"; bad = 1 }
        if (late > worst || -late > worst) worst = late < 0 ? -late : late
    }
    END { print "largest onset error: " worst " ms"; exit bad }' || fail "timing or notes wrong"
[ "$(grep -c ' 007f' "$WORK/trace.log")" = 12 ] || fail "wrong number of note-ons"
[ "$(grep -c ' 0000' "$WORK/trace.log")" = 12 ] || fail "a note was left sounding"
echo "performance under X11: ok"
