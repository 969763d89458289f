# A private sound server for tests and benchmarks: PulseAudio or PipeWire with a null sink named
# "nullsink", no hardware, in a runtime folder of its own, so that nothing reaches (or depends on)
# the desktop's own server. Source this file, then:
#   start_sound_server pulseaudio|pipewire DIR   (exports XDG_RUNTIME_DIR for the clients)
#   stop_sound_server                            (also run it from an EXIT trap)
# The server's messages go to DIR/server.log.

SOUND_SERVER_PIDS=()

start_sound_server() {
    local kind="$1" dir="$2"
    mkdir -p "$dir/home"
    mkdir -p -m 700 "$dir/run"
    export XDG_RUNTIME_DIR="$dir/run" HOME="$dir/home"
    # The desktop's own session bus and server must not be found instead of ours.
    unset PULSE_SERVER PULSE_RUNTIME_PATH PIPEWIRE_RUNTIME_DIR PIPEWIRE_REMOTE
    case "$kind" in
    pulseaudio)
        cat > "$dir/default.pa" <<'PA'
load-module module-native-protocol-unix auth-anonymous=1
load-module module-null-sink sink_name=nullsink
set-default-sink nullsink
set-default-source nullsink.monitor
PA
        # SOUND_SERVER_REALTIME=yes: real-time scheduling, as a desktop's real-time service grants.
        local realtime="${SOUND_SERVER_REALTIME:-no}"
        pulseaudio -n --daemonize=no --exit-idle-time=-1 --realtime=$realtime --system=no \
            --disallow-exit -F "$dir/default.pa" >"$dir/server.log" 2>&1 &
        SOUND_SERVER_PIDS+=($!)
        ;;
    pipewire)
        # PipeWire finds its session manager over D-Bus: a bus of our own, its address exported.
        dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$dir/bus" 4>"$dir/bus.pid" \
            2>>"$dir/server.log" || return 1
        export DBUS_SESSION_BUS_ADDRESS="$(head -n 1 "$dir/bus")"
        SOUND_SERVER_PIDS+=("$(head -n 1 "$dir/bus.pid")")
        pipewire >>"$dir/server.log" 2>&1 &
        SOUND_SERVER_PIDS+=($!)
        sleep 0.2
        wireplumber >>"$dir/server.log" 2>&1 &
        SOUND_SERVER_PIDS+=($!)
        pipewire-pulse >>"$dir/server.log" 2>&1 &
        SOUND_SERVER_PIDS+=($!)
        ;;
    *)
        echo "unknown sound server $kind" >&2
        return 1
        ;;
    esac
    local ready=""
    for _ in $(seq 100); do
        if pactl info >/dev/null 2>&1; then
            if [ "$kind" = pipewire ]; then
                pactl list short sinks 2>/dev/null | grep -q nullsink ||
                    pactl load-module module-null-sink sink_name=nullsink >/dev/null 2>&1 || true
                pactl set-default-sink nullsink >/dev/null 2>&1 &&
                    pactl info 2>/dev/null | grep -q 'Default Sink: nullsink' && ready=1
            else
                ready=1
            fi
        fi
        [ -n "$ready" ] && break
        sleep 0.1
    done
    [ -n "$ready" ] || { echo "the $kind server did not start:" >&2; cat "$dir/server.log" >&2; return 1; }
}

stop_sound_server() {
    local pid
    for ((i = ${#SOUND_SERVER_PIDS[@]} - 1; i >= 0; i--)); do
        pid="${SOUND_SERVER_PIDS[i]}"
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${SOUND_SERVER_PIDS[@]}"; do
        # Children of this shell are waited for; the bus daemon forked away, so poll it.
        wait "$pid" 2>/dev/null || for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    done
    SOUND_SERVER_PIDS=()
}
