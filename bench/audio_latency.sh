#!/usr/bin/env bash
# Sound on a desktop, ours beside VMPK (its FluidSynth output) in the same run, under a private
# PulseAudio and a private PipeWire with a null sink: key event -> sound at the server for note-on
# and note-off, idle CPU with the window open, gaps under load (two busy loops, ten-note chords),
# start-up to a shown window and resident memory with audio open. Prints a Markdown table.
# Installs VMPK and the build's needs when missing. Everything runs as an ordinary user (nobody),
# twice: without the desktop's real-time service, and with RealtimeKit granting real-time
# priority to the servers and the programs as a desktop does (SERVICE="without" or "with" for one).
# Under PipeWire the monitor is recorded through PipeWire's own protocol, each buffer timed by the
# graph cycle that mixed it (CAPTURE=pulse records it through the PulseAudio service instead,
# timed by arrival, as under PulseAudio). PROGRAMS may name "pulse-path": ours again under
# PipeWire, kept off PipeWire's own protocol (PIPEWIRE_REMOTE names no server), so that it plays
# through PipeWire's PulseAudio service; "ours" and "pulse-path" then compare the two paths in one
# run under one server. QUANTUM: the frames per cycle the recording asks of PipeWire (default 256,
# what ours asks with the default --audio-buffer), so that recording does not change the graph.
# Usage: bench/audio_latency.sh [notes, default 60] [seconds of chords, default 60]
#        [idle seconds, default 30]; SHOW_GAPS=1 prints each gap, with its chord and monotonic time.
set -euo pipefail
cd "$(dirname "$0")/.."
SELF="$PWD/bench/audio_latency.sh"
if [ "${1:-}" = --inner ]; then
    # As the ordinary user: the measuring part, with what the outer part decided.
    shift
    exec env PATH="/usr/bin:/bin" LANG=C.UTF-8 AUDIO_LATENCY_INNER=1 \
        SOUND_SERVER_REALTIME="$([ "$AUDIO_LATENCY_SERVICE" = with ] && echo yes || echo no)" \
        DBUS_SYSTEM_BUS_ADDRESS="${DBUS_SYSTEM_BUS_ADDRESS:-unix:path=/nonexistent}" \
        bash "$SELF" "$@"
fi
if [ "${1:-}" != --measure ]; then
    NOTES="${1:-60}" CHORDS="${2:-60}" IDLE="${3:-30}"
fi
if [ -z "${AUDIO_LATENCY_INNER:-}" ]; then
    . scripts/packages.sh
    peer=""
    case " ${PROGRAMS:-ours vmpk} " in *" vmpk "*) peer=vmpk ;; esac
    # shellcheck disable=SC2086
    install_missing $RUN_PACKAGES $TEST_PACKAGES libx11-dev libxtst-dev libpulse-dev $peer
    if [ -z "${BIN:-}" ]; then
        cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMURUTEKA_BENCHMARKS=ON \
            -DBUILD_TESTING=OFF >/dev/null
        cmake --build build-bench -j2 >/dev/null
        BIN="$PWD/build-bench/src/app/muruteka"
    fi
    TOOL="${TOOL:-$PWD/build-bench/bench/audio_latency}"
    WORK="$(mktemp -d)"
    trap 'rm -rf "$WORK"' EXIT
    chmod 755 "$WORK"
    cp "$BIN" "$TOOL" "$WORK/"
    # BEFORE=PATH: an earlier build of the program, measured beside this one.
    [ -z "${BEFORE:-}" ] || cp "$BEFORE" "$WORK/before"
    runner=()
    . tests/e2e/realtime_service.sh
    services="${SERVICE:-without with}"
    missing=$(realtime_service_missing)
    if [ -n "$missing" ]; then
        echo "Only without the real-time service: $missing." >&2
        services=without
    else
        chown nobody:nogroup "$WORK"
        runner=(setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env)
    fi
    pass=(env WORK="$WORK" BIN="$WORK/$(basename "$BIN")" TOOL="$WORK/$(basename "$TOOL")"
        BEFORE="${BEFORE:+$WORK/before}" PROGRAMS="${PROGRAMS:-ours vmpk}"
        SERVERS="${SERVERS:-pulseaudio pipewire}" LONG_RESTS="${LONG_RESTS:-3}" OURS_ARGS="${OURS_ARGS:-}"
        AUDIO_LATENCY_SHOW_GAPS="${SHOW_GAPS:-}" CAPTURE="${CAPTURE:-pipewire}" AUDIO_LATENCY_QUANTUM="${QUANTUM:-256}")
    for service in $services; do
        if [ "$service" = with ]; then
            # In a mount namespace of its own, for the service's polkit rule.
            unshare -m bash -c '. tests/e2e/realtime_service.sh
                trap stop_realtime_service EXIT
                start_realtime_service "$1/service" nobody || exit 1
                shift; "$@"' realtime "$WORK" "${runner[@]}" "${pass[@]}" AUDIO_LATENCY_SERVICE=with \
                DBUS_SYSTEM_BUS_ADDRESS="unix:path=$WORK/service/system_bus_socket" \
                bash "$SELF" --inner "$NOTES" "$CHORDS" "$IDLE"
        else
            "${runner[@]}" "${pass[@]}" AUDIO_LATENCY_SERVICE=without \
                bash "$SELF" --inner "$NOTES" "$CHORDS" "$IDLE"
        fi
        echo
    done
    exit
fi

. tests/e2e/sound_server.sh
export HOME="$WORK/home"
rows=()
loops=()
cleanup() {
    [ ${#loops[@]} -eq 0 ] || kill "${loops[@]}" 2>/dev/null || true
    jobs -p | xargs -r kill 2>/dev/null || true
    stop_sound_server
}
trap cleanup EXIT
[ "${1:-}" = --measure ] && trap 'kill "${loops[@]}" 2>/dev/null || true; jobs -p | xargs -r kill 2>/dev/null || true' EXIT

# VMPK plays through its FluidSynth output with its own default buffering.
write_vmpk_settings() {
    mkdir -p "$HOME/.config/vmpk.sourceforge.net"
    cat > "$HOME/.config/vmpk.sourceforge.net/VMPK-Virtual MIDI Piano Keyboard.conf" <<EOF
[Connections]
InEnabled=false
OutputDriver=FluidSynth
OutPort=FluidSynth
[FluidSynth]
InstrumentsDefinition=/usr/share/sounds/sf2/default-GM.sf2
AudioDriver=pulseaudio
EOF
}

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# One program under the running server: prints "startup_ms rss_kib idle_percent" then the tool's lines.
measure() {
    local name="$1" title="$2" start end pid win="" rss t0 t1 hz
    shift 2
    start=$(date +%s%N)
    "$@" >"$WORK/$name.out" 2>&1 &
    pid=$!
    for _ in $(seq 2000); do
        win=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -n 1) && [ -n "$win" ] && break
        sleep 0.005
    done
    end=$(date +%s%N)
    [ -n "$win" ] || { echo "$name: no window" >&2; tail -n 5 "$WORK/$name.out" >&2; kill "$pid"; return 1; }
    xdotool windowfocus --sync "$win"
    sleep 2
    rss=$(awk '/VmRSS/ { print $2 }' "/proc/$pid/status")
    # After a note: the processor time while the stream runs on (PipeWire's for 15 s after the
    # last sound), from 2 s to 14 s; then idle, from 20 s, once every stream has come to rest.
    xdotool key q
    sleep 2
    t0=$(cpu_ticks "$pid")
    sleep 12
    t1=$(cpu_ticks "$pid")
    sleep 6
    t2=$(cpu_ticks "$pid")
    sleep "$IDLE"
    t3=$(cpu_ticks "$pid")
    hz=$(getconf CLK_TCK)
    percent() { awk -v d="$1" -v s="$2" -v hz="$hz" 'BEGIN { printf "%.2f", 100 * d / hz / s }'; }
    echo "$(( (end - start) / 1000000 )) $rss $(percent $((t3 - t2)) "$IDLE") $(percent $((t1 - t0)) 12)"
    "$TOOL" "$MONITOR" "$RATE" notes "$NOTES" q
    AUDIO_LATENCY_GAP_MS=6000 "$TOOL" "$MONITOR" "$RATE" notes "$(( (NOTES + 4) / 5 ))" q | sed 's/^/rested /'
    # LONG_RESTS notes each after 30 s of silence, when every stream rests.
    [ "${LONG_RESTS:-3}" -eq 0 ] ||
        AUDIO_LATENCY_GAP_MS=30000 "$TOOL" "$MONITOR" "$RATE" notes "${LONG_RESTS:-3}" q | sed 's/^/long-rested /'
    for _ in 1 2; do
        sh -c 'while :; do :; done' &
        loops+=($!)
    done
    "$TOOL" "$MONITOR" "$RATE" chords "$CHORDS" q w e r t y u i o p
    kill "${loops[@]}"
    loops=()
    kill "$pid"
    wait "$pid" 2>/dev/null || true
}

if [ "${1:-}" = --measure ]; then
    shift
    measure "$@"
    exit
fi

# An X server of its own for each program: Xvfb picks a free display itself (-displayfd), so
# that other X servers starting at the same moment never take the same one.
in_x11() {
    rm -f "$WORK/display"
    mkfifo "$WORK/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$WORK/display" 2>/dev/null &
    local server=$! status=0
    DISPLAY=":$(head -n 1 "$WORK/display")" "$@" || status=$?
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null || true
    return "$status"
}

write_vmpk_settings
LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
for server in $SERVERS; do
    start_sound_server "$server" "$WORK/$server"
    MONITOR=nullsink.monitor
    [ "$server" = pipewire ] && [ "$CAPTURE" = pipewire ] && MONITOR=pipewire:nullsink
    RATE=$(pactl list short sinks | awk '$2 == "nullsink" { sub("Hz", "", $6); print $6 }')
    # The piano's own release to -3 dB, rendered offline: subtracted from the note-off figures.
    "$TOOL" release "$RATE" | awk '{ print $3 }' > "$WORK/$server-release"
    for program in $PROGRAMS ${BEFORE:+before}; do
        [ $program = pulse-path ] && [ "$server" != pipewire ] && continue
        if [ $program = ours ]; then
            # shellcheck disable=SC2206
            cmd=("$BIN" $OURS_ARGS) title='^ムルテカ$'
        elif [ $program = pulse-path ]; then
            # shellcheck disable=SC2206
            cmd=(env PIPEWIRE_REMOTE=no-such-pipewire "$BIN" $OURS_ARGS) title='^ムルテカ$'
        elif [ $program = before ]; then
            cmd=("$BEFORE") title='^ムルテカ$'
        else
            cmd=(vmpk) title='Virtual MIDI Piano Keyboard'
        fi
        in_x11 env RATE="$RATE" MONITOR="$MONITOR" NOTES="$NOTES" CHORDS="$CHORDS" IDLE="$IDLE" LONG_RESTS="$LONG_RESTS" \
            bash "$0" --measure "$program" "$title" "${cmd[@]}" > "$WORK/$server-$program.txt" 2>"$WORK/$server-$program.err" ||
            { echo "$server/$program failed:"; cat "$WORK/$server-$program.err"; }
        sed "s/^/$server $program: /" "$WORK/$server-$program.txt" >&2
        sed -n "s/^gap: /$server $program: gap: /p" "$WORK/$server-$program.err" >&2
    done
    # What the program's audio log said (with OURS_ARGS=--verbose: every underrun and resize).
    grep -h "audio:" "$WORK/ours.out" "$WORK/pulse-path.out" >&2 2>/dev/null || true
    stop_sound_server
done

field() { sed -n "$2p" "$WORK/$1.txt" 2>/dev/null | awk -v f="$3" '{ print $f }'; }
latency() {
    local less=0
    [ "$2" = note-off ] && less=$(cat "$WORK/${1%%-*}-release")
    sed -n "s/^$2 ms: median \([0-9.na]*\), 99th \([0-9.na]*\).*/\1 \2/p" "$WORK/$1.txt" 2>/dev/null |
        awk -v less="$less" '{ printf "%.1f / %.1f ms", $1 - less, $2 - less }'
}
gaps() { sed -n 's/^chords: \([0-9]*\), gaps: \([0-9]*\)/\2 in \1 chords/p' "$WORK/$1.txt" 2>/dev/null; }
echo "Measured on $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1), $(date +%Y-%m-%d), as user $(id -un), load average before the run $LOAD_BEFORE, after it $(cut -d' ' -f1-3 /proc/loadavg); $( [ "$AUDIO_LATENCY_SERVICE" = with ] && echo "**with the real-time service** (RealtimeKit grants servers and programs real-time priority)" || echo "**without the real-time service** (no real-time rights)"); under PipeWire the monitor recorded through $([ "$CAPTURE" = pipewire ] && echo "PipeWire's own protocol, timed by graph cycle" || echo "its PulseAudio service, timed by arrival")."
echo
runs=()
header="| What |"
for server in $SERVERS; do
    for program in $PROGRAMS ${BEFORE:+before}; do
        [ $program = pulse-path ] && [ "$server" != pipewire ] && continue
        runs+=("$server-$program")
        case $program in ours) name=ムルテカ ;; before) name="ムルテカ before" ;; vmpk) name=VMPK ;;
            pulse-path) name="ムルテカ through the PulseAudio service" ;; esac
        case $server in pulseaudio) header+=" $name, PulseAudio |" ;; pipewire) header+=" $name, PipeWire |" ;; esac
    done
done
echo "$header"
echo "|$(echo "$header" | sed 's/[^|]*|/---|/g' | cut -c 5-)"
line() {
    local out="| $1 |"
    for run in "${runs[@]}"; do
        out+=" $("$2" "$run" "${@:3}") |"
    done
    echo "$out"
}
ms() { echo "$(field "$1" 1 1) ms"; }
mib() { echo "$(( $(field "$1" 1 2)0 / 10240 )) MiB"; }
idle() { echo "$(field "$1" 1 3) %"; }
during() { echo "$(field "$1" 1 4) %"; }
adapts() { sed -n 's/^after the first gap: \([0-9]*\) gaps in the next \([0-9]*\) chords/\1 in \2/p' "$WORK/$1.txt" 2>/dev/null | grep . || echo "— (no first gap)"; }
line "key → sound at the server, note-on (median / 99th)" latency note-on
line "the first note after 6 s of silence (median / 99th)" latency "rested note-on"
line "the first note after 30 s of silence (median / 99th of ${LONG_RESTS:-3})" latency "long-rested note-on"
line "key release → sound falling at the server, note-off (median / 99th)¹" latency note-off
line "CPU from 2 s to 14 s after the last note (% of a core)" during
line "idle CPU, window open, from 20 s after the last note (% of a core)" idle
line "gaps under load (two busy loops, ten-note chords, ${CHORDS} s)" gaps
line "after the first gap: gaps in the next 120 chords" adapts
line "start-up to a shown window" ms
line "resident memory, soundfont loaded, audio open" mib
echo
releases=()
for server in $SERVERS; do
    case $server in pulseaudio) at="PulseAudio's" ;; pipewire) at="PipeWire's" ;; esac
    releases+=("$(cat "$WORK/$server-release" 2>/dev/null) ms at $at rate")
done
echo "¹ Less the piano's own release to -3 dB, measured offline on the same soundfont and method:" \
    "$(IFS=,; echo "${releases[*]}" | sed 's/,/, /g')."
