#!/usr/bin/env bash
# What a blind player meets: Orca itself (speech-dispatcher speaking into a null sound device),
# buses of the test's own, openbox in a real X server. accessibility_tree.py reads the tree and
# the key states that Orca does not speak, orca_speech.py plays the program and reads Orca's
# debug log, and the in-process accessibility tests run once more where Qt passes events on.
. "$(dirname "$0")/common.sh"
skip_without Xvfb xdotool dbus-run-session openbox speech-dispatcher iconv orca
for need in /usr/libexec/at-spi-bus-launcher /usr/lib/python3/dist-packages/pyatspi; do
    [ -e "$need" ] || { echo "SKIP: $need is missing"; exit 77; }
done
printf 'ド:ミ:ソ4,ド:ファ:ラ4,ド:ミ:ソ4,ド:ミ:ソ4\r\nド2,レ2,ミ2,ファ2\r\n' | iconv -f UTF-8 -t CP932 > "$WORK/tune.txt"
cat > "$WORK/session.sh" <<'INNER'
set -euo pipefail
MURUTEKA="$1"; WORK="$2"; HERE="$3"; TESTS="$4"
export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" XDG_DATA_HOME="$WORK/home/.local/share"
export XDG_CACHE_HOME="$WORK/home/.cache" LANG=C.UTF-8
mkdir -p "$XDG_CONFIG_HOME/speech-dispatcher" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
echo 'pcm.!default { type null }' > "$HOME/.asoundrc"
printf 'AudioOutputMethod "alsa"\nDefaultModule dummy\nAddModule "dummy" "sd_dummy" ""\n' \
    > "$XDG_CONFIG_HOME/speech-dispatcher/speechd.conf"
stop() {  # Orca may hang on SIGTERM
    [ -n "${ORCA:-}" ] && { kill "$ORCA"; sleep 1; kill -9 "$ORCA"; } 2>/dev/null || true
    cat "$XDG_RUNTIME_DIR"/speech-dispatcher/pid/*.pid 2>/dev/null | xargs -r kill || true
    jobs -p | xargs -r kill 2>/dev/null || true
}
trap stop EXIT
/usr/libexec/at-spi-bus-launcher --launch-immediately &
openbox > "$WORK/openbox.log" 2>&1 &
spoken() { grep -q "SPEECH OUTPUT: '$1" "$WORK/orca.log" 2>/dev/null; }
heard() { for _ in $(seq "$1"); do spoken "$2" && return 0; sleep 0.1; done; echo "not heard: $2"; exit 1; }
/usr/bin/python3 "$HERE/orca_launch.py" "$WORK/orca.log" --disable braille > "$WORK/orca.out" 2>&1 &
ORCA=$!
heard 300 'Screen reader on'
"$MURUTEKA" --midi-out "trace:$WORK/trace.log" > "$WORK/program.out" 2>&1 &
xdotool windowfocus --sync "$(wait_for_window 'ムルテカ')"
heard 100 'キーボード panel'
# With Num Lock off, keypad 0 is Orca's own key. Orca hears keys only through a focused program.
xdotool key Num_Lock
heard 100 'num lock'
if spoken 'num lock off'; then xdotool key Num_Lock; fi
/usr/bin/python3 "$HERE/accessibility_tree.py"
# Holding q sounded note 57 once, though Qt's bridge relays every key event through Orca.
[ "$(grep -c ' 007f3990$' "$WORK/trace.log")" = 1 ] || { echo "trace: $(cat "$WORK/trace.log")"; exit 1; }
/usr/bin/python3 "$HERE/orca_speech.py" "$WORK/orca.log" "$WORK/tune.txt"
[ -z "$TESTS" ] || MURUTEKA_TEST_ON_A11Y_BUS=1 QT_QPA_PLATFORM=xcb "$TESTS" --gtest_brief=1 > "$WORK/gtest.log" 2>&1 ||
    { echo "in-process tests on the bus failed:"; tail -n 30 "$WORK/gtest.log"; exit 1; }
INNER
in_x11 dbus-run-session -- bash "$WORK/session.sh" "$MURUTEKA" "$WORK" "$(dirname "$0")" "${2:-}" \
    2>"$WORK/stderr" >"$WORK/stdout" ||
    fail "Orca's session failed: $(cat "$WORK/stdout"; grep -v dbus-daemon "$WORK/stderr" | tail -n 12)"
cat "$WORK/stdout"; echo "Orca under X11: ok"
