#!/usr/bin/env bash
# A system without the pipewire package: libpipewire is there (a dependency of other libraries),
# its configuration files are not, and it complains on stderr when a stream is tried. The
# program plays a tune with the built-in synthesizer through PulseAudio, and then through ALSA
# with no server at all, and stderr stays empty unless --verbose.
. "$(dirname "$0")/common.sh"
. "$(dirname "$0")/sound_server.sh"
skip_without unshare pulseaudio pactl iconv
if [ -z "${CLEAN_INSTALL_INSIDE:-}" ]; then
    # The pipewire package's files are hidden in a mount namespace of this test's own.
    unshare -m true 2>/dev/null || { echo "SKIP: no private mount namespace (needs root)"; exit 77; }
    CLEAN_INSTALL_INSIDE=1 exec unshare -m bash "$0" "$@"
fi
for folder in /usr/share/pipewire /etc/pipewire; do
    [ ! -d "$folder" ] || mount -t tmpfs -o size=1m,mode=755 none "$folder"
done
trap 'stop_sound_server; cleanup' EXIT
printf 'ド:ミ2,ソ2\r\n' | iconv -f UTF-8 -t CP932 > "$WORK/tune.txt"

start_sound_server pulseaudio "$WORK/server" || fail "the PulseAudio server did not start"
"$MURUTEKA" --play "$WORK/tune.txt" 2>"$WORK/err" || fail "no sound through PulseAudio: $(cat "$WORK/err")"
[ ! -s "$WORK/err" ] || fail "messages on stderr without --verbose: $(cat "$WORK/err")"
"$MURUTEKA" --play "$WORK/tune.txt" --verbose 2>"$WORK/err" || fail "--verbose failed"
# The verbose run shows that the missing files were met, and that their message was ours to pass on.
grep -q "^muruteka: pipewire error: .*can't load default config client.conf" "$WORK/err" ||
    fail "PipeWire's complaint did not come through --verbose: $(cat "$WORK/err")"
grep -q "^muruteka: audio: output: PulseAudio" "$WORK/err" || fail "not PulseAudio: $(cat "$WORK/err")"
stop_sound_server

# No server: ALSA's default device, a null device here for want of a sound card.
printf 'pcm.!default { type null }\n' > "$HOME/.asoundrc"
"$MURUTEKA" --play "$WORK/tune.txt" 2>"$WORK/err" || fail "no sound through ALSA: $(cat "$WORK/err")"
[ ! -s "$WORK/err" ] || fail "messages on stderr without a server: $(cat "$WORK/err")"
echo "clean install: quiet stderr through PulseAudio and ALSA: ok"
