#!/usr/bin/env bash
# An A3 held on a MIDI keyboard (the test's JACK client) is heard through the built-in
# synthesizer: 220 Hz in the monitor of a private PulseAudio, ending with the key; screen readers
# find Q pressed meanwhile; and the recording holds it with its velocity.
# Usage: midi_sound_x11.sh MURUTEKA WAV_PITCH SMF_EVENTS
. "$(dirname "$0")/common.sh"
. "$(dirname "$0")/sound_server.sh"
. "$(dirname "$0")/jack_session.sh"
PITCH="$2"
SMF_EVENTS="$3"
skip_without Xvfb xdotool parecord pactl pulseaudio dbus-run-session
LAUNCHER=/usr/libexec/at-spi-bus-launcher
[ -x "$LAUNCHER" ] || { echo "SKIP: at-spi2-core is not installed"; exit 77; }
/usr/bin/python3 -c "import pyatspi" 2>/dev/null || { echo "SKIP: python3-pyatspi is not installed"; exit 77; }
trap 'stop_jack; stop_sound_server; cleanup' EXIT
start_jack
start_sound_server pulseaudio "$WORK/server" || fail "the sound server did not start"

session() {
    "$LAUNCHER" --launch-immediately &
    export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb
    "$MURUTEKA" --record "$WORK/take.mid" 2>"$WORK/stderr" &
    local pid=$!
    local win
    win=$(wait_for_window 'ムルテカ') || { echo "no window"; return 1; }
    xdotool windowfocus --sync "$win"
    client_start "$WORK/received" --physical
    wait_for 50 joined || { echo "the program did not join the source"; return 1; }
    parecord --latency-msec=20 -d nullsink.monitor --file-format=wav --format=s16le --channels=1 \
        "$WORK/monitor.wav" &
    local recorder=$!
    wait_for 50 pactl list short source-outputs >/dev/null
    sleep 0.6
    /usr/bin/python3 "$JACK_HERE/key_pressed.py" no || { echo "Q pressed before A3"; return 1; }
    say send 92 39 5a   # A3, velocity 90, channel 2
    sync_client
    sleep 1
    /usr/bin/python3 "$JACK_HERE/key_pressed.py" yes || { echo "Q not pressed while A3 sounds"; return 1; }
    say send 82 39 00
    sync_client
    sleep 1
    /usr/bin/python3 "$JACK_HERE/key_pressed.py" no || { echo "Q pressed after A3 ended"; return 1; }
    kill -INT "$recorder"
    wait "$recorder" || true
    client_stop
    xdotool key F9
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    ! kill -0 "$pid" 2>/dev/null && wait "$pid"
}
export -f session client_start client_up say synced sync_client client_stop joined wait_for fail
export WORK MURUTEKA LAUNCHER JACK_HERE
in_x11 dbus-run-session -- bash -c session >"$WORK/stdout" 2>"$WORK/session.err" ||
    fail "the session failed: $(cat "$WORK/stdout" "$WORK/stderr")"

# Found by loudness, as in sound_x11.sh: the null sink's monitor has holes while idle.
length=$(soxi -D "$WORK/monitor.wav")
loudest=$("$PITCH" "$WORK/monitor.wav" loudest)
read -r pitch held < <("$PITCH" "$WORK/monitor.wav" "$loudest" 0.5)
read -r _ after < <("$PITCH" "$WORK/monitor.wav" "$(awk -v l="$length" 'BEGIN { print l - 0.2 }')" 0.2)
awk -v h="$held" 'BEGIN { exit !(h > 0.01) }' || fail "no sound while A3 is held (RMS $held)"
awk -v p="$pitch" 'BEGIN { exit !(p > 214 && p < 226) }' || fail "A3 sounded at $pitch Hz, not 220 Hz"
awk -v a="$after" -v h="$held" 'BEGIN { exit !(a < h / 10) }' ||
    fail "A3 still sounds after its release (RMS $after against $held)"
"$SMF_EVENTS" "$WORK/take.mid" >"$WORK/take.txt" || fail "the recording is not whole"
grep -q '^[0-9]* 144 57 90$' "$WORK/take.txt" || fail "the recording lacks A3 at 90: $(cat "$WORK/take.txt")"
echo "an incoming A3 heard at $pitch Hz, pressed for screen readers, recorded: ok"
