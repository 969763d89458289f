#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time over its seed corpus, one
# after another or as many at a time as asked (each on a core of its own, so that each gets the
# same number of runs). Fails on any crash, hang, leak or sanitizer report. Usage: fuzz/run.sh
# [seconds per target [targets at a time]]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-10}"
at_a_time="${2:-1}"
cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j2
work="$(mktemp -d)"
trap 'jobs -p | xargs -r kill 2>/dev/null; rm -rf "$work"' EXIT
# Target:seed corpus; a failing input is kept in build-fuzz/. Inputs are cut at 64 KB: the zip bomb
# among the seeds then stays a broken zip (whole, it takes a quarter of a second a run under the
# sanitizers); the end-to-end test opens it whole.
fuzz() {
    local target="${1%%:*}" corpus="fuzz/${1#*:}"
    mkdir "$work/$target"
    local dict=()  # the names a reader looks for, where the target has a list of them
    [ -f "fuzz/${target%_fuzzer}.dict" ] && dict=(-dict="fuzz/${target%_fuzzer}.dict")
    "./build-fuzz/$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=1024 \
        "${dict[@]}" -artifact_prefix=build-fuzz/ "$work/$target" "$corpus" 2>"$work/$target.log"
}
rows=(notation_fuzzer:corpus smf_fuzzer:corpus-smf musicxml_fuzzer:corpus-musicxml)
for ((first = 0; first < ${#rows[@]}; first += at_a_time)); do
    batch=("${rows[@]:first:at_a_time}")
    pids=()
    for row in "${batch[@]}"; do
        fuzz "$row" &
        pids+=($!)
    done
    for i in "${!batch[@]}"; do
        target="${batch[i]%%:*}"
        wait "${pids[i]}" || {
            tail -n 40 "$work/$target.log" >&2
            exit 1
        }
        echo "$target: $(grep -E "^Done" "$work/$target.log" || tail -n 1 "$work/$target.log")"
    done
done
