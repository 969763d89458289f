#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time over its seed corpus.
# Fails on any crash or sanitizer report. Usage: fuzz/run.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j2
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
./build-fuzz/notation_fuzzer -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -artifact_prefix="$work/" "$work" fuzz/corpus 2>"$work/log" || {
    tail -n 40 "$work/log" >&2
    exit 1
}
grep -E "^Done|stat::number_of_executed_units" "$work/log" || tail -n 2 "$work/log"
