#!/usr/bin/env bash
# --play without a window: the notes on the MIDI output, the progress line on a terminal, and
# Ctrl-C that leaves no note sounding. (A music file that is not there: bad_input.)
. "$(dirname "$0")/common.sh"
skip_without iconv script
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

# On a terminal a progress line counts the tokens as they play and ends on the last state.
script -qec "$(printf '%q ' "$MURUTEKA" --play "$WORK/short.txt" --tempo 168 --midi-out "trace:$WORK/tty.log")" \
    "$WORK/typescript" >"$WORK/terminal" || fail "exit code $? on a terminal"
tr '\r' '\n' <"$WORK/terminal" | sed -n 's/  [0-9]:[0-9][0-9]\.[0-9]$//p' | uniq >"$WORK/progress"
[ "$(head -n 1 "$WORK/progress")" = "  演奏中  トークン 1" ] &&
    [ "$(tail -n 1 "$WORK/progress")" = "演奏完了  トークン 3" ] || fail "progress: $(cat "$WORK/progress")"

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
