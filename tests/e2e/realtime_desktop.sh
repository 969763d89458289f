#!/usr/bin/env bash
# Real-time priority for an ordinary user through the desktop's real-time service: RealtimeKit
# started as root, the program and its sound servers run as "nobody". Without the service the
# audio threads get no real-time priority and PipeWire's native path is not taken; with it they
# do on every path (PipeWire, PulseAudio, ALSA) and the native PipeWire path is taken.
. "$(dirname "$0")/common.sh"
. "$(dirname "$0")/realtime_service.sh"
skip_without pipewire wireplumber pipewire-pulse pulseaudio pactl iconv
missing=$(realtime_service_missing)
[ -z "$missing" ] || { echo "SKIP: $missing"; exit 77; }
id nobody >/dev/null 2>&1 || { echo "SKIP: no user nobody"; exit 77; }
if [ -z "${REALTIME_INSIDE:-}" ]; then
    unshare -m true 2>/dev/null || { echo "SKIP: no private mount namespace"; exit 77; }
    REALTIME_INSIDE=1 exec unshare -m bash "$0" "$@"
fi
trap 'stop_realtime_service; cleanup' EXIT
chmod 755 "$WORK"
printf 'ド:ミ2,ソ2\r\n' | iconv -f UTF-8 -t CP932 > "$WORK/tune.txt"
# What nobody runs: a sound server of its own, then the program. $1: the server, $2: what to run.
mkdir -m 700 "$WORK/user" && chown nobody "$WORK/user"
cat > "$WORK/user.sh" <<'USER'
set -euo pipefail
. "$1/sound_server.sh"
MURUTEKA="$2" WORK="$3" server="$4" run="$5"
trap stop_sound_server EXIT
if [ "$server" = alsa ]; then
    export HOME="$WORK/user/alsa" XDG_RUNTIME_DIR="$WORK/user/alsa/run"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
    printf 'pcm.!default { type null }\n' > "$HOME/.asoundrc"
else
    rm -rf "$WORK/user/server"
    start_sound_server "$server" "$WORK/user/server" 2>&1
fi
case "$run" in
list) "$MURUTEKA" --list-midi-outputs --verbose ;;
play) "$MURUTEKA" --play "$WORK/tune.txt" --verbose ;;
esac
USER
as_nobody() {
    setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env -- \
        env DBUS_SYSTEM_BUS_ADDRESS="${DBUS_SYSTEM_BUS_ADDRESS:-unix:path=/nonexistent}" PATH=/usr/bin:/bin \
        bash "$WORK/user.sh" "$(dirname "$(readlink -f "$0")")" "$MURUTEKA" "$WORK" "$@" \
        >"$WORK/out" 2>&1
}
[ "$(setpriv --reuid=nobody --regid=nogroup --clear-groups bash -c 'ulimit -r')" = 0 ] ||
    { echo "SKIP: nobody may ask for real-time priority directly here"; exit 77; }

as_nobody pipewire list || fail "without RealtimeKit: $(cat "$WORK/out")"
grep -q "no real-time priority for PipeWire's data thread" "$WORK/out" &&
    grep -q "^synth .*PulseAudio protocol" "$WORK/out" ||
    fail "without RealtimeKit the PipeWire path did not fall back: $(cat "$WORK/out")"

start_realtime_service "$WORK/service" nobody || fail "the real-time service did not start"

as_nobody pipewire list || fail "with RealtimeKit: $(cat "$WORK/out")"
grep -q "^synth .*PipeWire .*native protocol" "$WORK/out" ||
    fail "with RealtimeKit the native PipeWire path was not taken: $(cat "$WORK/out")"
grep -Eq "PipeWire's data thread (at real-time priority through RealtimeKit|is at real-time priority, by PipeWire)" \
    "$WORK/out" || fail "no real-time grant named: $(cat "$WORK/out")"
as_nobody pulseaudio play || fail "PulseAudio with RealtimeKit: $(cat "$WORK/out")"
grep -q "audio thread at real-time priority through RealtimeKit" "$WORK/out" ||
    fail "PulseAudio: no grant through RealtimeKit: $(cat "$WORK/out")"
as_nobody alsa play || fail "ALSA with RealtimeKit: $(cat "$WORK/out")"
grep -q "driver's audio thread at real-time priority through RealtimeKit" "$WORK/out" ||
    fail "ALSA: no grant through RealtimeKit: $(cat "$WORK/out")"
grep -q "Successfully made thread .* owned by '65534' RT" "$WORK/service/rtkit.log" ||
    fail "RealtimeKit did not say it made a thread of nobody real-time: $(cat "$WORK/service/rtkit.log")"
echo "real-time through RealtimeKit for nobody: PipeWire native, PulseAudio, ALSA: ok"
