# A private JACK server (dummy back end, no sound card) and the test's own MIDI client
# (midi_client.py). Source after common.sh, then:
#   start_jack            (skips without jackd or python3-jack-client; exports the server's name)
#   stop_jack             (also run it from an EXIT trap)
#   client_start ARGS...  a client reading commands from descriptor 4; say CMD; sync_client;
#   client_stop           (its ports vanish)
JACK_HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
JACKD=""

start_jack() {
    skip_without jackd jack_lsp
    # Where the ALSA sequencer exists, the program takes it before JACK.
    [ ! -e /dev/snd/seq ] || { echo "SKIP: the ALSA sequencer exists here; these tests need JACK"; exit 77; }
    /usr/bin/python3 -c 'import jack' 2>/dev/null || { echo "SKIP: python3-jack-client is missing"; exit 77; }
    export JACK_DEFAULT_SERVER="muruteka-test-$$-$RANDOM" JACK_NO_START_SERVER=1
    jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 >"$WORK/jackd.log" 2>&1 &
    JACKD=$!
    wait_for 100 jack_lsp >/dev/null 2>&1 || fail "jackd did not start: $(cat "$WORK/jackd.log")"
}

stop_jack() {
    [ -n "$JACKD" ] || return 0
    kill "$JACKD" 2>/dev/null
    wait "$JACKD" 2>/dev/null || true
}

client_start() {
    rm -f "$WORK/cmd" "$WORK/client.out"
    mkfifo "$WORK/cmd"
    /usr/bin/python3 "$JACK_HERE/midi_client.py" "$@" <"$WORK/cmd" >"$WORK/client.out" &
    CLIENT=$!
    exec 4>"$WORK/cmd"
    SYNCED=0
    wait_for 100 client_up || fail "the MIDI test client did not start"
}
client_up() { jack_lsp 2>/dev/null | grep -q '^muruteka-test:out$'; }
say() { echo "$*" >&4; }
synced() { [ "$(grep -c '^ok$' "$WORK/client.out")" -ge "$SYNCED" ]; }
# Returns once everything said so far has left the client.
sync_client() {
    SYNCED=$((SYNCED + 1))
    say sync
    wait_for 300 synced
}
client_stop() {
    exec 4>&-
    wait "$CLIENT"
}
# Has the program joined the client's output to its port ムルテカ?
joined() { jack_lsp -c 2>/dev/null | grep -A1 '^muruteka-test:out$' | grep -q ':ムルテカ$'; }
