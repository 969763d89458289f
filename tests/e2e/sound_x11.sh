#!/usr/bin/env bash
# The program's default output against a real sound server (a private PulseAudio or PipeWire
# with a null sink): holding q under X11 sounds 220 Hz in the sink's monitor, the note ends with
# the key, and --verbose names the path the sound took.
# Usage: sound_x11.sh MURUTEKA WAV_PITCH pulseaudio|pipewire
. "$(dirname "$0")/common.sh"
. "$(dirname "$0")/sound_server.sh"
PITCH="$2"
SERVER="$3"
skip_without Xvfb xdotool parecord pactl "$SERVER"
[ "$SERVER" != pipewire ] || skip_without wireplumber pipewire-pulse dbus-daemon
trap 'stop_sound_server; cleanup' EXIT
start_sound_server "$SERVER" "$WORK/server" || fail "the $SERVER server did not start"

cat > "$WORK/session.sh" <<'INNER'
set -euo pipefail
MURUTEKA="$1"; WORK="$2"
"$MURUTEKA" --verbose 2>"$WORK/stderr" &
pid=$!
win=$(wait_for_window 'ムルテカ') || { echo "no window"; exit 1; }
xdotool windowfocus --sync "$win"
parecord --latency-msec=20 -d nullsink.monitor --file-format=wav --format=s16le --channels=1 "$WORK/monitor.wav" &
recorder=$!
for _ in $(seq 50); do
    pactl list short source-outputs 2>/dev/null | grep -q . && break
    sleep 0.1
done
sleep 0.6
xdotool keydown q
sleep 1
xdotool keyup q
sleep 1
kill -INT "$recorder"
wait "$recorder" || true
xdotool key F9
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "F9 did not end the program"; exit 1; fi
wait "$pid"
INNER
in_x11 bash "$WORK/session.sh" "$MURUTEKA" "$WORK" || fail "the X11 session failed: $(cat "$WORK/stderr")"

# Found by its loudness rather than by time: PulseAudio's null sink gives its monitor nothing
# while it is idle, so the recording's time line has holes. Half a second from the loudest
# moment must be 220 Hz, and the last 0.2 s (a second after the release) far quieter.
length=$(soxi -D "$WORK/monitor.wav")
loudest=$("$PITCH" "$WORK/monitor.wav" loudest)
read -r pitch held < <("$PITCH" "$WORK/monitor.wav" "$loudest" 0.5)
read -r _ after < <("$PITCH" "$WORK/monitor.wav" "$(awk -v l="$length" 'BEGIN { print l - 0.2 }')" 0.2)
awk -v h="$held" 'BEGIN { exit !(h > 0.01) }' || fail "no sound while q is held (RMS $held)"
awk -v p="$pitch" 'BEGIN { exit !(p > 214 && p < 226) }' || fail "q sounded at $pitch Hz, not 220 Hz"
awk -v a="$after" -v h="$held" 'BEGIN { exit !(a < h / 10) }' ||
    fail "the note still sounds after its release (RMS $after against $held)"
case "$SERVER" in
pipewire) path="audio: output: .*PipeWire" ;; # its own protocol, or its PulseAudio service without real-time rights
pulseaudio) path="audio: output: PulseAudio protocol (pulseaudio " ;;
esac
grep -q "$path" "$WORK/stderr" || fail "--verbose did not name the $SERVER path: $(cat "$WORK/stderr")"
echo "sound through $SERVER: ok ($pitch Hz, RMS $held)"
