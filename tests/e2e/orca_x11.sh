#!/usr/bin/env bash
# What a blind player hears: Orca itself, with speech-dispatcher speaking into a null sound
# device, on a session bus and an accessibility bus of the test's own, under openbox in a real X
# server. orca_speech.py plays the program and reads Orca's debug log.
. "$(dirname "$0")/common.sh"
skip_without Xvfb xdotool dbus-run-session openbox speech-dispatcher iconv
[ -x /usr/bin/orca ] || { echo "SKIP: orca is not installed"; exit 77; }
[ -x /usr/libexec/at-spi-bus-launcher ] || { echo "SKIP: at-spi2-core is not installed"; exit 77; }
printf 'ド:ミ:ソ4,ド:ファ:ラ4,ド:ミ:ソ4,ド:ミ:ソ4\r\nド2,レ2,ミ2,ファ2\r\n' | iconv -f UTF-8 -t CP932 > "$WORK/tune.txt"
cat > "$WORK/session.sh" <<'INNER'
set -euo pipefail
MURUTEKA="$1"; WORK="$2"; HERE="$3"
# Orca, speech-dispatcher and the program keep their settings in the test's folder.
export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" XDG_DATA_HOME="$WORK/home/.local/share"
export XDG_CACHE_HOME="$WORK/home/.cache" LANG=C.UTF-8
mkdir -p "$XDG_CONFIG_HOME/speech-dispatcher" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
echo 'pcm.!default { type null }' > "$HOME/.asoundrc"
printf 'AudioOutputMethod "alsa"\nDefaultModule dummy\nAddModule "dummy" "sd_dummy" ""\n' \
    > "$XDG_CONFIG_HOME/speech-dispatcher/speechd.conf"
stop() {
    [ -n "${ORCA:-}" ] && { kill "$ORCA" 2>/dev/null; sleep 1; kill -9 "$ORCA" 2>/dev/null; } || true
    for pidfile in "$XDG_RUNTIME_DIR"/speech-dispatcher/pid/*.pid; do
        [ -f "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null || true
    done
    jobs -p | xargs -r kill 2>/dev/null || true
}
trap stop EXIT
/usr/libexec/at-spi-bus-launcher --launch-immediately &
openbox > "$WORK/openbox.log" 2>&1 &
spoken() { grep -q "SPEECH OUTPUT: '$1" "$WORK/orca.log" 2>/dev/null; }
heard() { for _ in $(seq "$1"); do spoken "$2" && return 0; sleep 0.1; done; return 1; }
/usr/bin/python3 "$HERE/orca_launch.py" "$WORK/orca.log" --disable braille \
    > "$WORK/orca.out" 2>&1 &
ORCA=$!
heard 300 'Screen reader on' || { echo "Orca did not start"; tail -n 20 "$WORK/orca.out"; exit 1; }
"$MURUTEKA" --midi-out "trace:$WORK/trace.log" > "$WORK/program.out" 2>&1 &
win=$(wait_for_window 'ムルテカ') || { echo "no window"; exit 1; }
xdotool windowfocus --sync "$win"
heard 100 'キーボード panel' || { echo "Orca did not speak the window"; exit 1; }
# With Num Lock off, keypad 0 would be Orca's own modifier key. Orca hears keys only through a
# program that has the focus.
xdotool key Num_Lock
heard 100 'num lock' || { echo "Num Lock was not heard"; exit 1; }
spoken 'num lock off' && xdotool key Num_Lock
/usr/bin/python3 "$HERE/orca_speech.py" "$WORK/orca.log" "$WORK/tune.txt"
INNER
in_x11 dbus-run-session -- bash "$WORK/session.sh" "$MURUTEKA" "$WORK" "$(dirname "$0")" \
    2>"$WORK/stderr" >"$WORK/stdout" || {
    fail "Orca's session failed: $(cat "$WORK/stdout"; grep -v dbus-daemon "$WORK/stderr" | tail -n 12)"
}
cat "$WORK/stdout"; echo "Orca under X11: ok"
