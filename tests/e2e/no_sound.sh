#!/usr/bin/env bash
# With no sound server and no sound card, the built-in synthesizer has no output: the program
# says so (the list of outputs, and its message box at start), the terminal stays free of the
# sound libraries' own messages unless --verbose, and no sound server is started behind our back.
. "$(dirname "$0")/common.sh"
skip_without Xvfb xdotool
if compgen -G "/dev/snd/pcmC*" >/dev/null; then
    echo "SKIP: this machine has a sound card"
    exit 77
fi
export HOME="$WORK/home"
mkdir -p "$HOME"
unset PULSE_SERVER PIPEWIRE_REMOTE

env -u DISPLAY "$MURUTEKA" --list-midi-outputs >"$WORK/list" 2>"$WORK/err" || fail "--list-midi-outputs failed"
grep -q "^synth  *unavailable: no audio output could be opened$" "$WORK/list" ||
    fail "the list does not say the synthesizer is silent: $(cat "$WORK/list")"
[ ! -s "$WORK/err" ] || fail "messages on stderr without --verbose: $(cat "$WORK/err")"
env -u DISPLAY "$MURUTEKA" --list-midi-outputs --verbose >/dev/null 2>"$WORK/err"
grep -q "audio: no audio output could be opened" "$WORK/err" || fail "--verbose says nothing: $(cat "$WORK/err")"

cat > "$WORK/session.sh" <<'INNER'
set -euo pipefail
MURUTEKA="$1"; WORK="$2"
"$MURUTEKA" 2>"$WORK/stderr" &
pid=$!
visible() { xdotool search --onlyvisible --name 'ムルテカ' 2>/dev/null || true; }
for _ in $(seq 100); do [ -n "$(visible)" ] && break; sleep 0.1; done
first=$(visible)
[ "$(echo "$first" | wc -w)" = 1 ] || { echo "expected the message box alone, found: $first"; exit 1; }
# The message box is small; the keyboard window behind it appears only once it is answered.
width=$(xdotool getwindowgeometry --shell "$first" | sed -n 's/^WIDTH=//p')
xdotool windowfocus --sync "$first"
xdotool key Return
for _ in $(seq 50); do
    now=$(visible)
    [ -n "$now" ] && [ "$now" != "$first" ] && break
    sleep 0.1
done
[ -n "$now" ] && [ "$now" != "$first" ] || { echo "no keyboard window after the message"; exit 1; }
xdotool windowfocus --sync "$now"
xdotool key F9
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "F9 did not end the program"; exit 1; fi
wait "$pid"
echo "$width" > "$WORK/box-width"
INNER
in_x11 bash "$WORK/session.sh" "$MURUTEKA" "$WORK" || fail "the X11 session failed"
if grep -E "ALSA|alsa|fluidsynth|FluidSynth|audio" "$WORK/stderr"; then
    fail "the sound libraries spoke on stderr"
fi
[ ! -e "$XDG_RUNTIME_DIR/pulse/native" ] || fail "a sound server was started"
echo "no sound: ok (message box $(cat "$WORK/box-width") px wide)"
