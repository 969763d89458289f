#!/usr/bin/env bash
# Real-time priority for an ordinary user through the desktop's real-time service. As a desktop
# runs it: a system bus of this test's own, polkit, and RealtimeKit (rtkit-daemon) as root; the
# program and its sound servers as the ordinary user "nobody". Without the service, the audio
# threads get no real-time priority and PipeWire's fast native path is not taken; with it, they
# do on every path (PipeWire, PulseAudio, ALSA) and the native PipeWire path is taken.
# A desktop's polkit grants RealtimeKit to users in an active login session; a container has
# no login manager, so a polkit rule of the test's own grants it to "nobody" instead.
. "$(dirname "$0")/common.sh"
. "$(dirname "$0")/sound_server.sh"
RTKIT=/usr/libexec/rtkit-daemon
POLKITD=/usr/lib/polkit-1/polkitd
skip_without unshare setpriv dbus-daemon pipewire wireplumber pipewire-pulse pulseaudio pactl iconv
for daemon in "$RTKIT" "$POLKITD"; do
    [ -x "$daemon" ] || { echo "SKIP: $daemon is not installed"; exit 77; }
done
[ "$(id -u)" = 0 ] || { echo "SKIP: starting RealtimeKit takes root"; exit 77; }
id nobody >/dev/null 2>&1 || { echo "SKIP: no user nobody"; exit 77; }
if [ -z "${REALTIME_INSIDE:-}" ]; then
    # The polkit rule is mounted over /etc/polkit-1/rules.d in a mount namespace of our own.
    unshare -m true 2>/dev/null || { echo "SKIP: no private mount namespace"; exit 77; }
    REALTIME_INSIDE=1 exec unshare -m bash "$0" "$@"
fi
DAEMONS=()
stop_daemons() {
    for pid in "${DAEMONS[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${DAEMONS[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap 'stop_daemons; cleanup' EXIT
chmod 755 "$WORK"
printf 'ド:ミ2,ソ2\r\n' | iconv -f UTF-8 -t CP932 > "$WORK/tune.txt"
mkdir -m 755 "$WORK/bus" "$WORK/rules"
cat > "$WORK/bus/system.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$WORK/bus/socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/> <allow own="*"/> <allow send_destination="*"/> <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
cat > "$WORK/rules/50-realtime-test.rules" <<'RULE'
polkit.addRule(function(action, subject) {
    if (action.id.indexOf("org.freedesktop.RealtimeKit1.") == 0 && subject.user == "nobody")
        return polkit.Result.YES;
});
RULE
mount --bind "$WORK/rules" /etc/polkit-1/rules.d
dbus-daemon --config-file="$WORK/bus/system.conf" --nofork --nopidfile 2>"$WORK/bus.log" &
DAEMONS+=($!)
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$WORK/bus/socket"
wait_for 50 test -S "$WORK/bus/socket" || fail "the system bus did not start: $(cat "$WORK/bus.log")"

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
        env DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SYSTEM_BUS_ADDRESS" PATH=/usr/bin:/bin \
        bash "$WORK/user.sh" "$(dirname "$(readlink -f "$0")")" "$MURUTEKA" "$WORK" "$@" \
        >"$WORK/out" 2>&1
}
[ "$(setpriv --reuid=nobody --regid=nogroup --clear-groups bash -c 'ulimit -r')" = 0 ] ||
    { echo "SKIP: nobody may ask for real-time priority directly here"; exit 77; }

as_nobody pipewire list || fail "without RealtimeKit: $(cat "$WORK/out")"
grep -q "no real-time priority for PipeWire's data thread" "$WORK/out" &&
    grep -q "^synth .*PulseAudio protocol" "$WORK/out" ||
    fail "without RealtimeKit the PipeWire path did not fall back: $(cat "$WORK/out")"

"$POLKITD" --no-debug >"$WORK/polkit.log" 2>&1 &
DAEMONS+=($!)
wait_for 50 busctl --system status org.freedesktop.PolicyKit1 >/dev/null 2>&1 ||
    fail "polkit did not start: $(cat "$WORK/polkit.log")"
# rtkit limits its own file size to 0: its log goes through a pipe.
"$RTKIT" --stderr > >(cat >"$WORK/rtkit.log") 2>&1 &
DAEMONS+=($!)
wait_for 50 busctl --system status org.freedesktop.RealtimeKit1 >/dev/null 2>&1 ||
    fail "RealtimeKit did not start: $(cat "$WORK/rtkit.log")"

as_nobody pipewire list || fail "with RealtimeKit: $(cat "$WORK/out")"
cp "$WORK/out" "$WORK/pipewire-with-rtkit"
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
grep -q "Successfully made thread .* owned by '65534' RT" "$WORK/rtkit.log" ||
    fail "RealtimeKit did not say it made a thread of nobody real-time: $(cat "$WORK/rtkit.log")"
grep -h "real-time" "$WORK/pipewire-with-rtkit"
echo "real-time through RealtimeKit for nobody: PipeWire native, PulseAudio, ALSA: ok"
