#!/usr/bin/env bash
# Recording under a real X server with no MIDI output: keys and a chord typed, F9; the music file
# plays back (through --export-midi) the notes and quantized onsets of the MIDI file. Then
# SIGHUP, SIGINT or SIGTERM while a key is held leaves both files whole, with exit code 128 + it.
. "$(dirname "$0")/common.sh"
SMF_EVENTS="$2"
skip_without Xvfb xdotool iconv
cat > "$WORK/session.sh" <<'INNER'
set -euo pipefail
MURUTEKA="$1"; WORK="$2"
find_window() { win=$(wait_for_window 'ムルテカ') || { echo "no window"; exit 1; }; }
"$MURUTEKA" --midi-out none --record "$WORK/take.txt" --record "$WORK/take.mid" 2>"$WORK/err" &
pid=$!
find_window
[ "$(xdotool getwindowname "$win")" = "ムルテカ  [録音中]" ] || { echo "caption"; exit 1; }
sleep 0.3
xdotool windowfocus --sync "$win"
for key in q w e r; do
    xdotool keydown "$key"; sleep 0.25; xdotool keyup "$key"; sleep 0.1
done
xdotool keydown t u o; sleep 0.5; xdotool keyup t u o
sleep 0.3
xdotool keydown y; sleep 0.2; xdotool keyup y
sleep 0.2
[ -s "$WORK/take.mid" ] || { echo "take.mid was not written while playing went on"; exit 1; }
xdotool key F9
wait "$pid" || { echo "exit code $? after F9"; exit 1; }

for signal in HUP INT TERM; do
    echo old > "$WORK/$signal.txt"
    "$MURUTEKA" --midi-out none --record "$WORK/$signal.txt" --record "$WORK/$signal.mid" 2>/dev/null &
    pid=$!
    find_window
    sleep 0.3
    xdotool windowfocus --sync "$win"
    xdotool keydown q; sleep 0.3; xdotool keyup q
    xdotool keydown w
    sleep 1.5
    kill -"$signal" "$pid"
    code=0
    wait "$pid" || code=$?
    xdotool keyup w
    [ "$code" = $((128 + $(kill -l "$signal"))) ] || { echo "exit code $code after SIG$signal"; exit 1; }
done
INNER
in_x11 bash "$WORK/session.sh" "$MURUTEKA" "$WORK" ||
    fail "the X11 session failed; stderr: $(cat "$WORK/err" 2>/dev/null)"
# No chord was too big. (A key may be reported held too long when a busy machine delays
# xdotool's release; the recording stays right either way.)
! grep '」：' "$WORK/err" | grep -v '長く伸ばした音' | grep -q . ||
    fail "unexpected report: $(cat "$WORK/err")"

# The music file: CP932 text, every line ended by CR LF.
iconv -f CP932 -t UTF-8 "$WORK/take.txt" > "$WORK/take.utf8" || fail "take.txt is not CP932"
[ "$(grep -c $'\r$' "$WORK/take.txt")" = "$(wc -l < "$WORK/take.txt")" ] || fail "line ends"
"$MURUTEKA" --export-midi "$WORK/take.txt" "$WORK/back.mid" || fail "take.txt does not export"
"$SMF_EVENTS" "$WORK/take.mid" > "$WORK/take.events" || fail "take.mid is not whole"
"$SMF_EVENTS" "$WORK/back.mid" > "$WORK/back.events" || fail "the export is not whole"

# Onsets in sixteenths (120 ticks) from the first one, per note number. The MIDI file's times
# are exact; one that lies within a tick of half a unit may round either way.
awk '$2 >= 144 && $2 < 160 && $4 > 0 { if (!n++) t0 = $1; x = ($1 - t0) / 120;
     lo = int(x + 0.5); hi = lo;
     if (x - int(x) > 0.5 - 1/120 && x - int(x) < 0.5 + 1/120) { lo = int(x); hi = lo + 1 }
     print $3, lo, hi }' "$WORK/take.events" | sort > "$WORK/take.onsets"
awk '$2 >= 144 && $2 < 160 && $4 > 0 { printf "%d %d\n", $3, int($1 / 120 + 0.5) }' \
    "$WORK/back.events" | sort > "$WORK/back.onsets"
[ "$(wc -l < "$WORK/take.onsets")" = 8 ] || fail "take.mid holds $(cat "$WORK/take.events")"
join "$WORK/take.onsets" "$WORK/back.onsets" |
    awk '$4 >= $2 && $4 <= $3 { ok++ } END { exit ok == 8 ? 0 : 1 }' ||
    fail "take.txt $(cat "$WORK/take.utf8") plays $(cat "$WORK/back.onsets"), take.mid $(cat "$WORK/take.onsets")"
# Every note in the MIDI file ends; the music file's last line ends the recording.
ons=$(awk '$4 > 0' "$WORK/take.events" | wc -l)
offs=$(awk '$4 == 0' "$WORK/take.events" | wc -l)
[ "$ons" = "$offs" ] || fail "notes left sounding in take.mid"

# After each signal: both files whole, the held key ended, the old file replaced.
for cut in HUP INT TERM; do
    "$SMF_EVENTS" "$WORK/$cut.mid" > "$WORK/$cut.events" || fail "$cut.mid is not whole"
    [ "$(awk '$4 > 0' "$WORK/$cut.events" | wc -l)" = 2 ] &&
        [ "$(awk '$4 == 0' "$WORK/$cut.events" | wc -l)" = 2 ] &&
        # w, held 1.5 s (1512 ticks), ends at the signal, not at the last copy of the timer.
        awk '$4 > 0 { on = $1 } $4 == 0 { held = $1 - on } END { exit !(held > 1200) }' \
            "$WORK/$cut.events" || fail "$cut.mid: $(cat "$WORK/$cut.events")"
    "$MURUTEKA" --export-midi "$WORK/$cut.txt" "$WORK/$cut-back.mid" || fail "$cut.txt does not export"
    [ "$("$SMF_EVENTS" "$WORK/$cut-back.mid" | awk '$4 > 0' | wc -l)" = 2 ] ||
        fail "$cut.txt holds $(iconv -f CP932 -t UTF-8 "$WORK/$cut.txt")"
done
ls "$WORK" | grep -q '\.tmp$' && fail "a temporary file was left behind"
echo "recording under X11: ok"
