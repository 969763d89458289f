#!/usr/bin/env bash
# A MIDI keyboard through a real MIDI system: a private JACK server (dummy back end) and a small
# client of ours. Its notes sound on the program's channel with their velocities, mark Q while
# A3 is held, are recorded, and end when the client goes away; a flood leaves no note sounding
# and typing still plays; --midi-in port: and --midi-out port: reach the client's ports.
# Usage: midi_input_x11.sh MURUTEKA SMF_EVENTS
. "$(dirname "$0")/common.sh"
SMF_EVENTS="$2"
HERE="$(cd "$(dirname "$0")" && pwd)"
skip_without Xvfb xdotool import
. "$HERE/jack_session.sh"
trap 'stop_jack; cleanup' EXIT
start_jack

quit() {
    xdotool key F9
    for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
    ! kill -0 "$1" 2>/dev/null && wait "$1"
}
# Q's cap at design size: picture units (560, 1200) in a 467 x 200 pixel picture.
pixel() { convert "$1" -format "%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]" -crop 1x1+37+80 info:; }

session() {
    "$MURUTEKA" --midi-out "trace:$WORK/in.trace" --record "$WORK/take.mid" 2>"$WORK/stderr" &
    local pid=$!
    local win
    win=$(wait_for_window 'ムルテカ') || { echo "no window"; return 1; }
    xdotool windowfocus --sync "$win"
    # A "hardware" source that appears after the start is joined by the program itself.
    client_start "$WORK/received" --physical
    wait_for 50 joined || { echo "the program did not join the new source"; return 1; }
    say send 93 39 50   # A3, velocity 80, on channel 3: Q's key
    say send 93 14 28   # a note no key plays
    sync_client && sleep 0.5
    import -window "$win" "$WORK/held.png"
    say send 83 39 00
    say send 93 14 00
    sync_client && sleep 0.5
    import -window "$win" "$WORK/released.png"
    # Held note and sustain pedal, then the source goes away.
    say send 90 3c 21
    say send b0 40 7f
    sync_client || return 1
    client_stop
    wait_for 50 grep -q ' 000040b0$' "$WORK/in.trace" || { echo "the pedal stays down"; return 1; }

    # A flood through a client that connects itself, with a key typed in the middle of it.
    client_start "$WORK/received"
    say connect
    say flood 10000
    sleep 1
    xdotool key e
    sync_client || { echo "the flood did not pass"; return 1; }
    say xruns
    sync_client
    grep '^xruns' "$WORK/client.out" >"$WORK/xruns"
    client_stop
    sleep 0.3
    quit "$pid" || { echo "F9 did not end the program"; return 1; }

    # The output to the client's port: typed keys arrive there.
    client_start "$WORK/received"
    "$MURUTEKA" --list-midi-inputs >"$WORK/inputs"
    # Part of a port's name is enough.
    "$MURUTEKA" --midi-in port:test:out --midi-out port:test:in &
    pid=$!
    win=$(wait_for_window 'ムルテカ') || { echo "no second window"; return 1; }
    xdotool windowfocus --sync "$win"
    wait_for 50 joined || { echo "--midi-in port: did not join the client"; return 1; }
    say send 90 40 30
    say send 80 40 00
    sync_client && sleep 0.3
    xdotool keydown q
    sleep 0.3
    xdotool keyup q
    sleep 0.3
    quit "$pid" || { echo "F9 did not end the second program"; return 1; }
    sync_client
    client_stop
}
in_x11 session || fail "the X11 session failed: $(cat "$WORK/stderr")"

# Notes from the keyboard on channel 3 come out on the program's channel 0 with their velocity.
first=$(head -n 4 "$WORK/in.trace" | awk '{print $2}' | tr '\n' ' ')
[ "$first" = "00503990 00281490 00003990 00001490 " ] || fail "incoming notes came out as: $first"
[ "$(pixel "$WORK/held.png")" = "63,63,63" ] || fail "Q is not marked while A3 comes in"
[ "$(pixel "$WORK/released.png")" = "192,192,192" ] || fail "Q stays marked after A3 ended"
grep -q '^[0-9]* 144 57 80$' <("$SMF_EVENTS" "$WORK/take.mid") || fail "the recording lacks the incoming A3"
# Pulled out while held: the note ends, the pedal is let go.
grep -A2 ' 007f40b0$' "$WORK/in.trace" | grep -q ' 00003c90$' || fail "middle C sounds on after the source went away"
# The flood: every note that began has ended, and the typed E (C4, velocity 127) sounded.
awk 'substr($2, 7, 1) == "9" { on[substr($2, 5, 4)] = substr($2, 3, 2) != "00" }
     END { for (k in on) if (on[k]) { print k; bad = 1 } exit bad }' "$WORK/in.trace" >"$WORK/stuck" ||
    fail "notes left sounding after the flood: $(tr '\n' ' ' <"$WORK/stuck")"
# All of them, unless the JACK server missed a cycle of the client's (a loaded machine).
flood=$(grep -c ' 0064[0-9a-f][0-9a-f]90$' "$WORK/in.trace" || true)
[ "$flood" -eq 10000 ] || [ "$(cat "$WORK/xruns")" != "xruns 0" ] || fail "$flood of 10000 flood notes sounded"
grep -q ' 007f3c90$' "$WORK/in.trace" || fail "the key typed during the flood did not sound"
# The output to a system port, fed by typing and by the source --midi-in port: names.
grep -q 'muruteka-test:out' "$WORK/inputs" || fail "--list-midi-inputs: $(cat "$WORK/inputs")"
[ "$(tr '\n' ' ' <"$WORK/received")" = "90 40 30 90 40 00 90 39 7f 90 39 00 " ] ||
    fail "the client's port received: $(cat "$WORK/received")"
echo "MIDI input and output through JACK: ok ($flood flood notes, $(cat "$WORK/xruns"))"
