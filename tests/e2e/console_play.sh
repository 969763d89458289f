#!/usr/bin/env bash
# --play without a window: the notes on the MIDI output, exit codes, and Ctrl-C that leaves no
# note sounding.
. "$(dirname "$0")/common.sh"
skip_without iconv
printf 'ド:ミ2,-1,ラ1\r\n' | iconv -f UTF-8 -t CP932 > "$WORK/short.txt"
"$MURUTEKA" --play "$WORK/short.txt" --tempo 168 --channel 2 --midi-out "trace:$WORK/short.log" ||
    fail "exit code $? for a tune that plays"
values=$(cut -d' ' -f2 "$WORK/short.log" | tr '\n' ' ')
[ "$values" = "007f3c92 007f4092 00003c92 00004092 007f4592 00004592 " ] ||
    fail "unexpected messages: $values"

"$MURUTEKA" --play "$WORK/short.txt" --channel 2 --program バイオリン --midi-out "trace:$WORK/violin.log"
[ "$(head -n 2 "$WORK/violin.log" | cut -d' ' -f2 | tr '\n' ' ')" = "000028c2 007f3c92 " ] ||
    fail "no program change before the notes: $(cat "$WORK/violin.log")"
programs=$("$MURUTEKA" --list-programs)
[ "$(wc -l <<<"$programs")" = 128 ] && grep -qx " 40  Violin  *バイオリン" <<<"$programs" ||
    fail "--list-programs: $programs"

if "$MURUTEKA" --play "$WORK/none.txt" --midi-out "trace:$WORK/none.log" 2>"$WORK/err"; then
    fail "a missing file played"
fi
grep -q "ﾌｧｲﾙはありません。" "$WORK/err" || fail "no message for a missing file"

printf 'ド0,レ0,ミ0,ファ0\r\n' | iconv -f UTF-8 -t CP932 > "$WORK/long.txt"
"$MURUTEKA" --play "$WORK/long.txt" --midi-out "trace:$WORK/long.log" &
pid=$!
wait_for 50 test -s "$WORK/long.log" || fail "the long tune did not start"
kill -INT "$pid"
code=0
wait "$pid" || code=$?
[ "$code" = 130 ] || fail "exit code $code after Ctrl-C"
[ "$(grep -c ' 007f' "$WORK/long.log")" = "$(grep -c ' 0000' "$WORK/long.log")" ] ||
    fail "a note was left sounding: $(cat "$WORK/long.log")"
[ "$(wc -l < "$WORK/long.log")" = 2 ] || fail "Ctrl-C did not end the performance"
echo "console play: ok"
