#!/usr/bin/env bash
# The real program in a real X server: it opens its window, F9 ends it, and holding q while the
# X server's auto-repeat runs sounds exactly one note, shown marked on the screen.
. "$(dirname "$0")/common.sh"
skip_without Xvfb xdotool import
SHOTS="${2:-}"
cat > "$WORK/session.sh" <<'INNER'
set -euo pipefail
MURUTEKA="$1"; WORK="$2"
"$MURUTEKA" --midi-out "trace:$WORK/trace.log" &
pid=$!
win=$(wait_for_window 'ムルテカ') || { echo "no window"; exit 1; }
sleep 0.5
xdotool windowfocus --sync "$win"
[ ! -s "$WORK/trace.log" ] || { echo "messages at start"; exit 1; }
xdotool keydown q
sleep 1
import -window "$win" "$WORK/held.png"
xdotool keyup q
sleep 0.3
import -window "$win" "$WORK/released.png"
xdotool key F9
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "F9 did not end the program"; exit 1; fi
wait "$pid"
INNER
in_x11 bash "$WORK/session.sh" "$MURUTEKA" "$WORK" ||
    fail "the X11 session failed"
ons=$(grep -c ' 007f3990$' "$WORK/trace.log" || true)
offs=$(grep -c ' 00003990$' "$WORK/trace.log" || true)
lines=$(wc -l < "$WORK/trace.log")
[ "$ons" = 1 ] && [ "$offs" = 1 ] && [ "$lines" = 2 ] ||
    fail "expected one note-on and one note-off for note 57, trace: $(cat "$WORK/trace.log")"
# Q's cap at design size: picture units (560, 1200) in a 467 x 200 pixel picture.
pixel() { convert "$1" -format "%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]" \
    -crop "1x1+$2+$3" info:; }
[ "$(pixel "$WORK/held.png" 37 80)" = "63,63,63" ] || fail "Q is not shown marked while held"
[ "$(pixel "$WORK/released.png" 37 80)" = "192,192,192" ] || fail "Q stays marked after release"
[ -z "$SHOTS" ] || cp "$WORK/held.png" "$SHOTS"
echo "window under X11: ok"
