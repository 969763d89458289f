#!/usr/bin/python3
"""--import against readers that are not ours: mido reads the MIDI files (made by abc2midi from
the tunes below, shipped by other projects, or our own --export-midi of a shipped song), a plain
XML walk reads the scores. The test quantizes them itself (onsets to sixteenths, the top note or
at most three chord members, a token at most 10 units), reads the notation that --import wrote,
undoes the reported shift, and wants the same onsets, lengths and pitches; a note may differ only
by octaves, as many as the report says it moved.
Usage: import_notes.py MURUTEKA SOURCE_DIR"""
import math, os, re, shutil, subprocess, sys, tempfile, zipfile
import xml.etree.ElementTree as ET

try:
    import mido
except ImportError:
    print("SKIP: mido is not installed")
    sys.exit(77)
if not shutil.which("abc2midi"):
    print("SKIP: abc2midi is not installed")
    sys.exit(77)
MURUTEKA, SOURCE = sys.argv[1], sys.argv[2]
DATA = os.path.join(SOURCE, "tests/data/import")
WORK = tempfile.mkdtemp()

# 6/8 in D with a tie over the bar, a dotted crotchet and a whole bar held (12 units).
JIG = "X:1\nT:Jig\nM:6/8\nL:1/8\nQ:3/8=100\nK:D\nA|d2e f2d|e2c A3-|Acd e2c|d6|]\n"
# Triplets and a held semibreve (16 units: held for 10, a rest after), low notes to move.
TRIPLETS = "X:2\nT:Trip\nM:4/4\nL:1/8\nK:Bb\n(3BcdB2 F,2D,2|(3ded (3cBA B4|B,8|]\n"
# Chords of two to four notes, and a tempo change.
CHORDS = "X:3\nT:Chords\nM:3/4\nL:1/4\nK:C\n[CEG] [DF] [B,DFG]|Q:1/4=80\n[EGce]2 [DFA]|[CEGc]3|]\n"

NAMES = {"ド": 0, "レ": 2, "ミ": 4, "ファ": 5, "ソ": 7, "ラ": 9, "シ": 11}
OCTAVES = {"": 0, "L": -12, "H": 12, "W": -24, "I": 24}
MEMBER = re.compile(r"(ファ|[ドレミソラシ])([LHWI]?)(#?)")


def read_notation(path):
    """[(onset, length, pitches as offsets from ド)] of a CP932 music file."""
    tokens, at = [], 0
    for token in re.split(r"[,\r\n]+", open(path, encoding="cp932").read()):
        if not token:
            continue
        units = int(token[-1]) or 10
        if token[0] != "-":
            members = MEMBER.findall(token[:-1])
            tokens.append((at, units, sorted(NAMES[n] + OCTAVES[o] + (s == "#") for n, o, s in members)))
        at += units
    return tokens


def midi_notes(path, track):
    """(start, length, pitch) in beats of one track (by name or index), drums left out."""
    song = mido.MidiFile(path)
    tracks = [t for i, t in enumerate(song.tracks) if track in (i, t.name)]
    notes, held, at = [], {}, 0
    for message in tracks[0]:
        at += message.time
        if message.type not in ("note_on", "note_off") or message.channel == 9:
            continue
        if message.type == "note_on" and message.velocity > 0:
            held[message.note] = at
        elif message.note in held:
            start = held.pop(message.note)
            notes.append((start / song.ticks_per_beat, (at - start) / song.ticks_per_beat, message.note))
    return notes


def xml_notes(path, part, staff):
    """(start, length, sounding pitch) in beats of one part's staff; repeats played out, cue
    and grace notes silent."""
    text = open(path, "rb").read()
    if path.endswith(".mxl"):
        box = zipfile.ZipFile(path)
        text = box.read(next(n for n in box.namelist() if not n.startswith("META")))
    measures = ET.fromstring(text).findall("part")[part - 1].findall("measure")
    order, start, again, numbers, i = [], 0, False, None, 0
    while i < len(measures):  # repeat signs and numbered endings, each over its bars
        m = measures[i]
        if m.find("barline/repeat[@direction='forward']") is not None and i != start:
            start, again = i, False
        for e in m.findall("barline/ending[@type='start']"):
            numbers = e.get("number").replace(" ", "").split(",")
        play = numbers is None or str(2 if again else 1) in numbers
        order += [m] if play else []
        numbers = None if m.find("barline/ending[@type!='start']") is not None else numbers
        if play and m.find("barline/repeat[@direction='backward']") is not None:
            if not again:
                i, again, numbers = start, True, None
                continue
            start, again = i + 1, False
        i += 1
    notes, ties, bar, divisions, shift = [], {}, 0.0, 1, 0
    for m in order:
        at = length = 0
        for e in m:
            divisions = int(e.findtext("divisions", divisions)) if e.tag == "attributes" else divisions
            shift = int(e.findtext("transpose/chromatic", shift)) if e.tag == "attributes" else shift
            d = int(e.findtext("duration", 0)) / divisions
            if e.tag in ("backup", "forward"):
                at += d if e.tag == "forward" else -d
            if e.tag != "note" or e.find("grace") is not None:
                continue
            if e.find("chord") is not None:
                at -= last
            last = d
            if e.find("rest") is None and e.find("cue") is None and int(e.findtext("staff", 1)) == staff:
                p = e.find("pitch")
                pitch = (12 * (int(p.findtext("octave")) + 1) + {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}[p.findtext("step")]
                         + int(float(p.findtext("alter", 0))) + shift)
                if e.find("tie[@type='stop']") is not None and pitch in ties:
                    notes[ties[pitch]][1] += d
                else:
                    notes.append([bar + at, d, pitch])
                ties.pop(pitch, None)
                if e.find("tie[@type='start']") is not None:
                    ties[pitch] = len(notes) - 1
            at += d
            length = max(length, at)
        bar += length
    return [tuple(n) for n in notes]


def expected(notes, chords):
    """Our quantization, written anew: onsets to sixteenths, a token at most up to the next."""
    onsets = {}
    for start, length, pitch in notes:
        unit = math.floor(start * 4 + 0.5)
        end = math.floor((start + length) * 4 + 0.5)
        old = onsets.get(unit, (0, set()))
        onsets[unit] = (max(old[0], end - unit), old[1] | {pitch})
    out, units = [], sorted(onsets)
    for i, unit in enumerate(units):
        length, pitches = onsets[unit]
        if i + 1 < len(units):
            length = min(length, units[i + 1] - unit)
        p = sorted(pitches, reverse=True)
        kept = p[:1] if not chords else p if len(p) <= 3 else [p[0], p[1], p[-1]]
        out.append((unit, max(1, min(length, 10)), sorted(kept)))
    return out


def import_and_compare(what, source, args, notes):
    out = os.path.join(WORK, "out.txt")
    run = subprocess.run([MURUTEKA, "--import", source, out] + args, capture_output=True, text=True)
    if run.returncode != 0:
        return f"{what}: exit {run.returncode}: {run.stderr}"
    shift = re.search(r"(\d+)(半音|オクターブ)(上げ|下げ)", run.stderr)
    shift = (int(shift[1]) * (12 if shift[2] == "オクターブ" else 1) *
             (1 if shift[3] == "上げ" else -1)) if shift else 0
    moved = re.search(r"(\d+)音をオクターブ移動", run.stderr)
    want, got, moves = expected(notes, "--chords" in args), read_notation(out), 0
    if [(u, n) for u, n, _ in want] != [(u, n) for u, n, _ in got]:
        firsts = [(a, b) for a, b in zip(want, got) if a[:2] != b[:2]][:1] or [(len(want), len(got))]
        return f"{what}: onsets and lengths differ, first (expected, written): {firsts}"
    for (unit, _, pitches), (_, _, offsets) in zip(want, got):
        written = sorted(o + 60 - shift for o in offsets)
        if len(written) != len(pitches) or any((w - p) % 12 for w, p in zip(written, pitches)):
            return f"{what}: at unit {unit} expected {pitches}, wrote {written} (shift {shift})"
        moves += sum(w != p for w, p in zip(written, pitches))
    if moves != (int(moved[1]) if moved else 0):
        return f"{what}: {moves} notes an octave away, the report says: {run.stderr.strip()}"
    return None


def abc(tune):
    subprocess.run(["abc2midi", "-", "-o", os.path.join(WORK, "abc.mid")], input=tune, text=True,
                   capture_output=True, check=True)
    return os.path.join(WORK, "abc.mid")


def exported(song):
    subprocess.run([MURUTEKA, "--export-midi", os.path.join(SOURCE, "songs", song), os.path.join(WORK, "song.mid")],
                   check=True)
    return os.path.join(WORK, "song.mid")


def song_notes(song):
    return [(u / 4, n / 4, 60 + p) for u, n, ps in read_notation(os.path.join(SOURCE, "songs", song)) for p in ps]


def chords_of(song):
    return ["--chords"] if all(len(ps) <= 3 for _, _, ps in read_notation(os.path.join(SOURCE, "songs", song))) else []


def d(name):
    return os.path.join(DATA, name)


# what, the file to import (made when the case runs), --import's choices, the notes read apart.
CASES = [
    ("abc jig", lambda: abc(JIG), [], lambda f: midi_notes(f, 0)),
    ("abc triplets", lambda: abc(TRIPLETS), [], lambda f: midi_notes(f, 0)),
    ("abc chords, melody", lambda: abc(CHORDS), [], lambda f: midi_notes(f, 0)),
    ("abc chords", lambda: abc(CHORDS), ["--chords"], lambda f: midi_notes(f, 0)),
    ("Frère Jacques, right", lambda: d("04-FrereJacques.mid"), ["--hand", "right"], lambda f: midi_notes(f, "Solo-Right")),
    ("Greensleeves, left", lambda: d("06-Greensleeves.mid"), ["--hand", "left"], lambda f: midi_notes(f, "Solo-Left")),
    ("Amazing Grace, chords", lambda: d("07-AmazingGrace.mid"), ["--part", "Bass-Chord", "--chords"],
     lambda f: midi_notes(f, "Bass-Chord")),
    ("fanfare", lambda: d("fanfare.midi"), [], lambda f: midi_notes(f, 1)),
    ("train, shifted 3", lambda: d("train_filled_with_cash.mid"), ["--transpose", "3"], lambda f: midi_notes(f, "Staff")),
    ("Unclaimed Gift, right", lambda: d("Unclaimed_Gift.musicxml"), ["--hand", "right"], lambda f: xml_notes(f, 1, 1)),
    ("Reunion, left chords", lambda: d("Reunion.mxl"), ["--hand", "left", "--chords"], lambda f: xml_notes(f, 1, 2)),
    ("Brassed Up, trumpet", lambda: d("Brassed_Up.mxl"), ["--part", "1"], lambda f: xml_notes(f, 1, 1)),
] + [(f"round trip {s}", lambda s=s: exported(s), chords_of(s), lambda f, s=s: song_notes(s))
     for s in sorted(os.listdir(os.path.join(SOURCE, "songs"))) if s.endswith(".txt") and s != "CMakeLists.txt"]

failures = [r for what, make, args, read in CASES
            for source in [make()] for r in [import_and_compare(what, source, args, read(source))] if r]
shutil.rmtree(WORK)
for failure in failures:
    print("FAIL:", failure)
print(f"{len(CASES) - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
