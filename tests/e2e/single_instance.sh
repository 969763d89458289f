#!/usr/bin/env bash
# A second copy ends at once, silently, with exit code 0, while the first runs on.
. "$(dirname "$0")/common.sh"
export QT_QPA_PLATFORM=offscreen
"$MURUTEKA" --midi-out "trace:$WORK/first.log" &
first=$!
wait_for 50 test -s "$XDG_RUNTIME_DIR/muruteka.lock" || fail "the first copy took no lock"
start=$(date +%s)
output=$(timeout 20 "$MURUTEKA" --midi-out "trace:$WORK/second.log" 2>&1) || fail "second copy exit $?"
[ -z "$output" ] || fail "second copy printed: $output"
[ $(($(date +%s) - start)) -lt 10 ] || fail "second copy did not end at once"
[ ! -e "$WORK/second.log" ] || fail "second copy opened its MIDI output"
kill -0 "$first" || fail "the first copy ended"
kill "$first"
wait "$first" 2>/dev/null || true
# A lock left by a copy that died is taken over.
"$MURUTEKA" --midi-out "trace:$WORK/third.log" &
third=$!
wait_for 50 test -e "$WORK/third.log" || fail "a new copy did not start after the first ended"
kill "$third"
echo "single instance: ok"
