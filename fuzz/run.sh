#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time over its seed corpus, one
# after another. Fails on any crash, hang, leak or sanitizer report. Usage: fuzz/run.sh [seconds
# per target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-10}"
cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j2
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Target:seed corpus; a failing input is kept in build-fuzz/. Inputs are cut at 64 KB: the zip bomb
# among the seeds then stays a broken zip (whole, it takes a quarter of a second a run under the
# sanitizers); the end-to-end test opens it whole.
for row in notation_fuzzer:corpus smf_fuzzer:corpus-smf musicxml_fuzzer:corpus-musicxml; do
    target="${row%%:*}"
    mkdir "$work/$target"
    dict=()  # the names a reader looks for, where the target has a list of them
    [ -f "fuzz/${target%_fuzzer}.dict" ] && dict=(-dict="fuzz/${target%_fuzzer}.dict")
    "./build-fuzz/$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=1024 \
        "${dict[@]}" -artifact_prefix=build-fuzz/ "$work/$target" "fuzz/${row#*:}" 2>"$work/log" || {
        tail -n 40 "$work/log" >&2
        exit 1
    }
    echo "$target: $(grep -E "^Done" "$work/log" || tail -n 1 "$work/log")"
done
