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
umask 022
# The script and the program that nobody runs, copied into a folder of the test's own: the
# checkout and the build may lie in a home folder of mode 0700 (a new user's on Debian), which
# nobody cannot enter.
mkdir "$WORK/nobody"
install -m 644 "$(dirname "$0")/sound_server.sh" "$WORK/nobody/"
install -m 755 "$MURUTEKA" "$WORK/nobody/muruteka"
printf 'ド:ミ2,ソ2\r\n' | iconv -f UTF-8 -t CP932 > "$WORK/tune.txt"
# A fresh PulseAudio's idle null sink has run up to 2 s ahead of the clock, and our stream's
# main loop is asked for its first block only once that time has passed: a tune that outlasts
# it, so that the thread asking for real-time priority is the one that writes every block.
printf 'ド:ミ2,ソ2,ド8,ソ8\r\n' | iconv -f UTF-8 -t CP932 > "$WORK/pulseaudio-tune.txt"
# What nobody runs: a sound server of its own (or ALSA's null device), then the program.
mkdir -m 700 "$WORK/user" && chown nobody "$WORK/user"
cat > "$WORK/user.sh" <<'USER'
set -euo pipefail
. "$1/sound_server.sh"
MURUTEKA="$2" WORK="$3" server="$4"
trap stop_sound_server EXIT
if [ "$server" = alsa ]; then
    export HOME="$WORK/user/alsa" XDG_RUNTIME_DIR="$WORK/user/alsa/run"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
    printf 'pcm.!default { type null }\n' > "$HOME/.asoundrc"
else
    rm -rf "$WORK/user/server"
    start_sound_server "$server" "$WORK/user/server" 2>&1
fi
tune="$WORK/tune.txt"
[ "$server" = pulseaudio ] && tune="$WORK/pulseaudio-tune.txt"
"$MURUTEKA" --play "$tune" --verbose
USER
as_nobody() {
    setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env -- \
        env DBUS_SYSTEM_BUS_ADDRESS="${DBUS_SYSTEM_BUS_ADDRESS:-unix:path=/nonexistent}" PATH=/usr/bin:/bin \
        bash "$WORK/user.sh" "$WORK/nobody" "$WORK/nobody/muruteka" "$WORK" "$@" \
        >"$WORK/out" 2>&1
}
[ "$(setpriv --reuid=nobody --regid=nogroup --clear-groups bash -c 'ulimit -r')" = 0 ] ||
    { echo "SKIP: nobody may ask for real-time priority directly here"; exit 77; }

# One row each: service, server, then the lines --verbose must hold.
rows=(
    "without|pipewire|no real-time priority for PipeWire's data thread|output: PulseAudio protocol"
    "with|pipewire|PipeWire's data thread (is )?at real-time priority|output: PipeWire .*native protocol"
    "with|pulseaudio|audio thread threaded-ml at real-time priority through RealtimeKit|output: PulseAudio"
    "with|alsa|driver's audio thread at real-time priority through RealtimeKit|output: FluidSynth alsa"
)
for row in "${rows[@]}"; do
    IFS='|' read -r service server grant path <<<"$row"
    if [ "$service" = with ] && [ ${#REALTIME_SERVICE_PIDS[@]} = 0 ]; then
        start_realtime_service "$WORK/service" nobody || fail "the real-time service did not start"
    fi
    as_nobody "$server" || fail "$row: $(cat "$WORK/out")"
    grep -Eq "$grant" "$WORK/out" && grep -Eq "$path" "$WORK/out" || fail "$row: $(cat "$WORK/out")"
done
grep -q "Successfully made thread .* owned by '65534' RT" "$WORK/service/rtkit.log" ||
    fail "RealtimeKit made no thread of nobody real-time: $(cat "$WORK/service/rtkit.log")"
echo "real-time through RealtimeKit for nobody: PipeWire native, PulseAudio, ALSA: ok"
