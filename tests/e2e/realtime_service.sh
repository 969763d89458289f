# The desktop's real-time service for tests and benchmarks, as root: a system bus of its own,
# polkit and RealtimeKit (rtkit-daemon). A desktop's polkit grants RealtimeKit to users in an
# active login session; without a login manager a polkit rule grants it to the given user
# instead, mounted over /etc/polkit-1/rules.d: call this inside a mount namespace of your own
# (unshare -m). Source this file, then:
#   start_realtime_service DIR USER   (exports DBUS_SYSTEM_BUS_ADDRESS)
#   stop_realtime_service             (also run it from an EXIT trap)
# The daemons' messages go to DIR/*.log.
RTKIT_DAEMON=/usr/libexec/rtkit-daemon
POLKIT_DAEMON=/usr/lib/polkit-1/polkitd
REALTIME_SERVICE_PIDS=()

# Prints why the service cannot run here, if it cannot.
realtime_service_missing() {
    local tool
    for tool in dbus-daemon busctl unshare setpriv "$RTKIT_DAEMON" "$POLKIT_DAEMON"; do
        command -v "$tool" >/dev/null || { echo "$tool is not installed"; return; }
    done
    [ "$(id -u)" = 0 ] || echo "starting RealtimeKit takes root"
}

start_realtime_service() {
    local dir="$1" user="$2"
    mkdir -p -m 755 "$dir/rules"
    cat > "$dir/system.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$dir/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/> <allow own="*"/> <allow send_destination="*"/> <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
    cat > "$dir/rules/50-realtime.rules" <<RULE
polkit.addRule(function(action, subject) {
    if (action.id.indexOf("org.freedesktop.RealtimeKit1.") == 0 && subject.user == "$user")
        return polkit.Result.YES;
});
RULE
    mount --bind "$dir/rules" /etc/polkit-1/rules.d || return 1
    dbus-daemon --config-file="$dir/system.conf" --nofork --nopidfile 2>"$dir/bus.log" &
    REALTIME_SERVICE_PIDS+=($!)
    export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$dir/system_bus_socket"
    local name
    for name in bus PolicyKit1 RealtimeKit1; do
        case $name in
        PolicyKit1) "$POLKIT_DAEMON" --no-debug >"$dir/polkit.log" 2>&1 & REALTIME_SERVICE_PIDS+=($!) ;;
        # Without its own resource limits: it limits the processes of its user "rtkit" to a
        # few, which a second instance (a test beside a benchmark) would exceed.
        RealtimeKit1) "$RTKIT_DAEMON" --stderr --no-limit-resources >"$dir/rtkit.log" 2>&1 &
            REALTIME_SERVICE_PIDS+=($!) ;;
        esac
        for _ in $(seq 50); do
            if [ $name = bus ]; then [ -S "$dir/system_bus_socket" ] && break
            else busctl --system status "org.freedesktop.$name" >/dev/null 2>&1 && break; fi
            sleep 0.1
        done
        [ $name = bus ] || busctl --system status "org.freedesktop.$name" >/dev/null 2>&1 ||
            { echo "$name did not start:" >&2; cat "$dir"/*.log >&2; return 1; }
    done
}

stop_realtime_service() {
    local pid
    for pid in "${REALTIME_SERVICE_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${REALTIME_SERVICE_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
    REALTIME_SERVICE_PIDS=()
}
