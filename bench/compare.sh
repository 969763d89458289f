#!/usr/bin/env bash
# Measures the program and, where one exists, a peer side by side in one run, and prints a
# Markdown table. Installs the peers (abcmidi, fluidsynth, vmpk) and hyperfine when missing.
# Usage: bench/compare.sh [seconds of music for the timing run, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
# shellcheck disable=SC2086
install_missing $RUN_PACKAGES $TEST_PACKAGES abcmidi fluidsynth vmpk hyperfine
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMURUTEKA_BENCHMARKS=ON \
    -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench -j2 >/dev/null
BIN=./build-bench/src/app/muruteka
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
export XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
SF2=/usr/share/sounds/sf2/default-GM.sf2
rows=()
row() { rows+=("| $1 | $2 | $3 |"); }
# Mean of a hyperfine run in milliseconds.
mean_ms() { hyperfine -N --warmup 1 --runs "$1" --export-json "$WORK/h.json" "$2" >/dev/null 2>&1
    sed -n 's/.*"mean": \([0-9.e-]*\),.*/\1/p' "$WORK/h.json" | head -n 1 | awk '{ printf "%.1f", $1 * 1000 }'; }

# 1. Reading and parsing.
parse=$(./build-bench/bench/notation_bench --benchmark_format=csv 2>/dev/null | tail -n 1)
bytes=$(echo "$parse" | awk -F, '{ printf "%.0f", $6 / 1e6 }')
items=$(echo "$parse" | awk -F, '{ printf "%.1f", $7 / 1e6 }')
row "reading and parsing a music file" "$bytes MB/s, $items M tokens/s" "—"

# 2. 100,000 notes to a MIDI file, against abc2midi on the same notes.
names=(ド レ ミ ファ ソ ラ シ)
abc=(C D E F G A B)
{ for i in $(seq 0 99999); do printf '%s2' "${names[i % 7]}"; [ $((i % 8)) = 7 ] && printf '\r\n' || printf ','; done; } |
    iconv -f UTF-8 -t CP932 > "$WORK/notes.txt"
# abc2midi refuses a single output file of this size, so its notes come as 20 tunes of 5,000.
for t in $(seq 1 20); do
    printf 'X:%d\nT:bench\nM:4/4\nL:1/16\nQ:1/4=126\nK:C\n' "$t"
    for i in $(seq 0 4999); do printf '%s2' "${abc[i % 7]}"; [ $((i % 8)) = 7 ] && printf '|\n' || printf ' '; done
    printf '\n'
done > "$WORK/notes.abc"
ours=$(mean_ms 5 "$BIN --export-midi $WORK/notes.txt $WORK/ours.mid")
theirs=$(cd "$WORK" && mean_ms 5 "abc2midi notes.abc")
row "100,000 notes to a Standard MIDI File" "$ours ms" "abc2midi: $theirs ms"

# 3. Rendering 2,000 notes (about 8 minutes of music) to WAV, against fluidsynth on our MIDI file.
head -c 8000 "$WORK/notes.txt" > "$WORK/render.txt"
printf '\r\n' >> "$WORK/render.txt"
"$BIN" --export-midi "$WORK/render.txt" "$WORK/render.mid"
ours=$(mean_ms 3 "$BIN --render-wav $WORK/render.txt $WORK/ours.wav")
theirs=$(mean_ms 3 "fluidsynth -ni -q -F $WORK/theirs.wav -r 44100 $SF2 $WORK/render.mid")
seconds=$(soxi -D "$WORK/ours.wav" 2>/dev/null || echo "?")
row "rendering $(printf '%.0f' "$seconds") s of music to a 44.1 kHz WAV" "$ours ms" "fluidsynth: $theirs ms"

# 4. Key event to MIDI message inside the window (offscreen).
latency=$(./build-bench/bench/key_latency_bench --benchmark_format=csv 2>/dev/null | tail -n 2 |
    awk -F, '{ printf "%s%.2f µs (%s px)", sep, $3 / 1, substr($1, index($1, "/") + 1); sep = ", " }' | tr -d '"')
row "key event handled, message sent and key marked" "$latency" "—"

# 5. Timing of a real performance.
timing=$(./build-bench/bench/performance_timing "${1:-60}")
median=$(echo "$timing" | sed -n 's/.*median \([0-9.]*\) ms.*/\1/p')
p99=$(echo "$timing" | sed -n 's/.*percentile \([0-9.]*\) ms.*/\1/p')
largest=$(echo "$timing" | sed -n 's/.*largest \([0-9.]*\) ms.*/\1/p')
drift=$(echo "$timing" | sed -n 's/drift at the end: \(.*\) ms/\1/p')
cpu=$(echo "$timing" | sed -n 's/processor time: \([0-9.]*\) ms.*/\1/p')
row "note onset error (median / 99th pct / largest)" "$median / $p99 / $largest ms" "—"
row "drift after ${1:-60} s of music; processor time per second of music" "$drift ms; $cpu ms" "—"

# 6. Start-up to a shown window, and resident memory, against VMPK, both under Xvfb.
cat > "$WORK/startup.sh" <<'INNER'
set -u
measure() {  # command, window name: prints milliseconds to the window and resident kB
    local start end pid win=""
    start=$(date +%s%N)
    "$1" "${@:3}" >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 2000); do
        win=$(xdotool search --onlyvisible --name "$2" 2>/dev/null | head -n 1)
        [ -n "$win" ] && break
        sleep 0.005
    done
    end=$(date +%s%N)
    sleep 1
    local rss
    rss=$(awk '/VmRSS/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
    echo "$(( (end - start) / 1000000 )) $rss"
}
for i in 1 2 3 4 5; do
    echo "ours $(measure "$1" '^ムルテカ$' --midi-out "trace:$2/t.log")"
    echo "vmpk $(measure vmpk 'Virtual MIDI Piano Keyboard')"
done
INNER
xvfb-run -a -s "-screen 0 1280x1024x24" bash "$WORK/startup.sh" "$BIN" "$WORK" > "$WORK/startup.txt" 2>/dev/null || true
median_of() { grep "^$1 " "$WORK/startup.txt" | awk -v f="$2" '{ print $f }' | sort -n | awk '{ a[NR] = $1 } END { print (NR ? a[int((NR + 1) / 2)] : "?") }'; }
row "start-up to a shown window (Xvfb, median of 5)" "$(median_of ours 2) ms" "VMPK: $(median_of vmpk 2) ms"
row "resident memory with the window shown" "$(( $(median_of ours 3) / 1024 )) MiB" "VMPK: $(( $(median_of vmpk 3) / 1024 )) MiB"

echo "Measured on $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo), $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1), $(date +%Y-%m-%d)."
echo
echo "| What | ムルテカ | Peer |"
echo "|---|---|---|"
printf '%s\n' "${rows[@]}"
