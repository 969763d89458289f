#!/usr/bin/env bash
# Import time and peak memory of `muruteka --import` on a 3-minute format-1 piano MIDI file with
# 10 tracks and on a 1 MB MusicXML score (both made here with mido and by repeating measures),
# beside the program's baseline (`muruteka --version`). Each figure: the median of the runs'
# wall times (bash's clock, to the microsecond) and the largest peak resident size (/usr/bin/time).
# A run that fails stops the script.
# Usage: bench/import_speed.sh BUILD_DIR [runs]
set -euo pipefail
BIN="$1/src/app/muruteka"
RUNS="${2:-15}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
export XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

/usr/bin/python3 - "$WORK" <<'EOF'
import sys, mido
work = sys.argv[1]
# 3 minutes at 120: 360 beats. Track 0 the tempo map; 9 tracks of notes, the hands named.
song = mido.MidiFile(type=1, ticks_per_beat=480)
meta = mido.MidiTrack([mido.MetaMessage("set_tempo", tempo=500000),
                       mido.MetaMessage("time_signature", numerator=4, denominator=4)])
song.tracks.append(meta)
names = ["Right Hand", "Left Hand"] + [f"Voice {i}" for i in range(3, 10)]
for t, name in enumerate(names):
    track = mido.MidiTrack([mido.MetaMessage("track_name", name=name)])
    step = 120 if t == 0 else 240  # sixteenths in the right hand, eighths elsewhere
    base = 72 - 5 * t
    for i in range(360 * 480 // step):
        note = base + (0, 2, 4, 5, 7, 9, 11, 12)[i % 8]
        track.append(mido.Message("note_on", channel=t, note=note, velocity=80, time=0))
        track.append(mido.Message("note_on", channel=t, note=note, velocity=0, time=step))
    song.tracks.append(track)
song.save(f"{work}/piano.mid")

# A piano part on two staves; measures of a three-note chord and eighths over a left hand.
head = ('<?xml version="1.0" encoding="UTF-8"?>\n<score-partwise version="3.1"><part-list>'
        '<score-part id="P1"><part-name>Piano</part-name></score-part></part-list><part id="P1">'
        '<measure number="1"><attributes><divisions>2</divisions><key><fifths>0</fifths></key>'
        '<time><beats>4</beats><beat-type>4</beat-type></time><staves>2</staves></attributes></measure>\n')
def note(step, octave, duration, staff, chord=False):
    return (f'<note>{"<chord/>" if chord else ""}<pitch><step>{step}</step><octave>{octave}</octave>'
            f'</pitch><duration>{duration}</duration><voice>{staff}</voice><type>eighth</type>'
            f'<staff>{staff}</staff></note>\n')
body, n = [], 2
while sum(map(len, body)) < 1_000_000:
    m = [f'<measure number="{n}">\n', note("C", 5, 2, 1), note("E", 5, 2, 1, True), note("G", 5, 2, 1, True)]
    m += [note(s, 5, 1, 1) for s in "DEFGAB"]
    m += ['<backup><duration>8</duration></backup>\n'] + [note(s, 3, 2, 2) for s in "CGEG"]
    body.append("".join(m) + "</measure>\n")
    n += 1
open(f"{work}/score.musicxml", "w").write(head + "".join(body) + "</part></score-partwise>\n")
EOF

measure() {
    local what="$1"
    shift
    local start
    for _ in $(seq "$RUNS"); do
        start=$EPOCHREALTIME
        /usr/bin/time -f '%M' -o "$WORK/time" "$BIN" "$@" >/dev/null 2>"$WORK/err" ||
            { cat "$WORK/err" >&2; exit 1; }
        echo "$(echo "$EPOCHREALTIME - $start" | bc) $(cat "$WORK/time")"
    done > "$WORK/runs"
    sort -n "$WORK/runs" | awk -v what="$what" -v runs="$RUNS" '
        { t[NR] = $1; if ($2 > m) m = $2 }
        END { printf "%-40s median %5.1f ms  peak %6.1f MB  (%d runs)\n", what, t[int((NR + 1) / 2)] * 1000, m / 1024, runs }'
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "MIDI file: $(du -k "$WORK/piano.mid" | cut -f1) KB; MusicXML: $(du -k "$WORK/score.musicxml" | cut -f1) KB"
measure "baseline: --version" --version
measure "--import 3-minute MIDI, 10 tracks" --import "$WORK/piano.mid" "$WORK/piano.txt" --hand right
measure "--import 1 MB MusicXML" --import "$WORK/score.musicxml" "$WORK/score.txt" --hand right
measure "--import 1 MB MusicXML, --chords" --import "$WORK/score.musicxml" "$WORK/score2.txt" --chords
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
