#!/usr/bin/env bash
# Runs bench/midi_input_latency against a private JACK server (dummy back end, 256 frames at
# 48 kHz), quiet and with every core kept busy, and prints the load average beside the figures.
# Usage: bench/midi_input_latency.sh BUILD_DIR [notes]
set -euo pipefail
BIN="$1/bench/midi_input_latency"
export JACK_DEFAULT_SERVER="muruteka-bench-$$" JACK_NO_START_SERVER=1
jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 >/dev/null 2>&1 &
JACKD=$!
trap 'kill "$JACKD" 2>/dev/null; wait "$JACKD" 2>/dev/null || true' EXIT
for _ in $(seq 100); do jack_lsp >/dev/null 2>&1 && break; sleep 0.1; done
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$BIN" "${2:-2000}"
"$BIN" "${2:-2000}" --load
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
