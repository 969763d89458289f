#!/usr/bin/env bash
# Bad input to the console modes, one row each: the exit code, the message, and afterwards the
# folder exactly as before (the music file unchanged, an old output untouched, no partial or
# temporary file) except for the one file a row may write; no hang (each run is bounded), no raw
# control character printed, and for the big inputs a bound on the peak resident memory.
. "$(dirname "$0")/common.sh"
skip_without iconv timeout mkfifo
MURUTEKA="$(realpath "$MURUTEKA")"
cd "$WORK"

tune() { printf "$2" | iconv -f UTF-8 -t CP932 >"$1"; }
repeat() { # repeat FILE COUNT TOKEN: COUNT times TOKEN, on one line
    local token
    token=$(printf '%s' "$3" | iconv -f UTF-8 -t CP932)
    (yes "$token" || true) | head -n "$2" | tr -d '\n' >"$1"
}
tune song.txt 'ド2,レ#4,ド:ミ:ソ4\r\n'
ln -s song.txt link.txt
ln song.txt hard.txt
mkfifo pipe
make_device null 1 3
make_device zero 1 5
make_device urandom 1 9
ln -s null null.lnk
printf 'OLD' >old.mid
printf 'OLD' >old.wav
repeat many.txt 40000 'ド1,'        # a MIDI file of about 320 KB
# The resident memory can be measured only without AddressSanitizer, whose shadow memory and
# quarantine come on top.
asan=""
# (Read whole: grep -q would stop at the match and, under pipefail, fail the pipeline by the
# SIGPIPE that ldd gets when it still writes.)
case "$(ldd "$MURUTEKA")" in *libasan*) asan=yes ;; esac
measure=""
[ -x /usr/bin/time ] && [ -z "$asan" ] && measure=yes
# The big inputs are there for the memory bound; under the sanitizers, which only look for
# faults, a tenth of their size does.
scale=1
[ -n "$asan" ] && scale=10
repeat line.txt $((2500000 / scale)) 'ド1,' # 10 MB on one line: 2.5 million notes
repeat ten-minutes.txt $((500 / scale)) 'ド0,' # 500 notes of 1.19 s: a WAV file of 106 MB
repeat half-hour.txt 1500 'ド0,'
repeat seven-hours.txt 21200 'ド0,' # past what a WAV file can hold
{ printf 'x,' && python3 -c 'import random, sys; random.seed(23)
sys.stdout.buffer.write(random.randbytes(int(sys.argv[1])))' $((20000000 / scale)); } >random.txt
printf '\x83\x68\x1b]0;owned\x07\x00\x1b[2J2\r\n' >escape.txt


# A disk of 256 KB of its own, when this machine lets an unprivileged mount namespace have one.
small_disk=""
if unshare --user --map-root-user --mount true 2>/dev/null; then small_disk=yes; fi

snapshot() {
    find . -path ./runtime -prune -o -path ./run -prune -o -print0 | sort -z |
        xargs -0 stat -c '%n %F %s %i %Y' | grep -v -e '^\. ' -e '^\./disk ' || true
    find . -path ./runtime -prune -o -path ./run -prune -o -type f -print0 | sort -z |
        xargs -0 md5sum || true
}

# Runs the program inside a mount namespace with a full 256 KB disk at ./disk holding old.mid,
# then states (on standard error) whether old.mid is still there, unchanged and alone.
on_small_disk() {
    unshare --user --map-root-user --mount bash -c '
        mount -t tmpfs -o size=256k tmpfs disk || exit 77
        printf OLD >disk/old.mid
        "$@"
        code=$?
        [ "$(ls -A disk)" = old.mid ] && [ "$(cat disk/old.mid)" = OLD ] ||
            echo "disk after the run: $(ls -A disk)" >&2
        exit $code' bash "$@"
}
mkdir disk

# Exit code | what the message must hold | the file the row may write (- for none) |
# peak memory bound in KB (- for none; without a soundfont twice the 24 MB that the 10 and 20 MB
# inputs take) | wrapper (-, fsize KB, small-disk, or interrupt: SIGTERM
# once the temporary file is there) | arguments
rows=(
    "2|「song.txt」は演奏するﾌｧｲﾙ自身です。|-|-|-|--export-midi song.txt song.txt"
    "2|「./link.txt」は演奏するﾌｧｲﾙ自身です。|-|-|-|--render-wav song.txt ./link.txt"
    "2|「hard.txt」は演奏するﾌｧｲﾙ自身です。|-|-|-|--export-midi song.txt hard.txt"
    "2|「null」は通常のﾌｧｲﾙではないため、書き込めません。|-|-|-|--export-midi song.txt null"
    "2|「null.lnk」は通常のﾌｧｲﾙではないため、書き込めません。|-|-|-|--render-wav song.txt null.lnk"
    "2|「pipe」は通常のﾌｧｲﾙではないため、書き込めません。|-|-|-|--render-wav song.txt pipe"
    "1|「old.mid」ﾌｧｲﾙに書き込めません。ﾌｧｲﾙが大きすぎます。|-|-|fsize 64|--export-midi many.txt old.mid"
    "1|「old.wav」ﾌｧｲﾙに書き込めません。ﾌｧｲﾙが大きすぎます。|-|-|fsize 16|--render-wav song.txt old.wav"
    "1|「disk/old.mid」ﾌｧｲﾙに書き込めません。ディスクの空きが足りません。|-|-|small-disk|--export-midi many.txt disk/old.mid"
    "130||-|-|interrupt|--render-wav half-hour.txt old.wav"
    "1|「new/out.mid」ﾌｧｲﾙに書き込めません。フォルダがありません。|-|-|-|--export-midi song.txt new/out.mid"
    "1|the soundfont none.sf2 could not be loaded|-|-|-|--render-wav song.txt out.wav --soundfont none.sf2"
    "2|「pipe」ﾌｧｲﾙはありません。|-|-|-|--check pipe"
    "1|「pipe」ﾌｧｲﾙはありません。|-|-|-|--play pipe --midi-out trace:run/trace.log"
    "1|ご使用の環境では、MIDI音源を使用できません。|-|-|-|--play song.txt --midi-out none"
    "1|ご使用の環境では、MIDI音源を使用できません。|-|-|-|--play song.txt --midi-out port:999"
    "1|「pipe」ﾌｧｲﾙはありません。|-|-|-|--export-midi pipe out.mid"
    "1|「pipe」ﾌｧｲﾙはありません。|-|-|-|--render-wav pipe out.wav"
    "2|「zero」ﾌｧｲﾙはありません。|-|-|-|--check zero"
    "2|「urandom」ﾌｧｲﾙはありません。|-|-|-|--check urandom"
    "1|「zero」ﾌｧｲﾙはありません。|-|-|-|--play zero --midi-out trace:run/trace.log"
    "1|「urandom」ﾌｧｲﾙはありません。|-|-|-|--export-midi urandom out.mid"
    "1|「zero」ﾌｧｲﾙはありません。|-|-|-|--render-wav zero out.wav"
    "1|escape.txt:1:2: 「\\x1b]0;owned\\x07\\x00\\x1b[2J」は無視されます。|-|-|-|--check escape.txt"
    "1|random.txt:1:1: 「x」は音名ではありません。|-|50000|-|--check random.txt"
    "0||line.mid|50000|-|--export-midi line.txt line.mid"
    "1|「seven-hours.txt」の演奏は長すぎるため、WAVﾌｧｲﾙにできません（6時間45分まで）。|-|-|-|--render-wav seven-hours.txt long.wav"
)
# The rendered sound stays out of memory whatever the soundfont: one up to 32 MiB is loaded whole
# (TimGM6mb: 40 MB at the peak), a larger one on demand (FluidR3_GM: 55 MB); each one installed
# renders the ten minutes under 100 MB, less than the WAV file alone.
for soundfont in /usr/share/sounds/sf2/*.sf2; do
    [ -L "$soundfont" ] ||
        rows+=("0||ten.wav|100000|-|--render-wav ten-minutes.txt ten.wav --soundfont $soundfont")
done

failures=0
for row in "${rows[@]}"; do
    IFS='|' read -r code message writes memory wrapper arguments <<<"$row"
    read -r -a args <<<"$arguments"
    if [ "$wrapper" = small-disk ] && [ -z "$small_disk" ]; then
        echo "skip (no mount namespace here): $arguments"
        continue
    fi
    rm -rf run && mkdir run
    before=$(snapshot)
    # A guard against a hang: ten times what the slowest row (a ten-minute render with the
    # 148 MB FluidR3_GM) takes on an idle machine.
    command=(timeout 60 "$MURUTEKA" "${args[@]}")
    [ "$memory" != - ] && [ -n "$measure" ] && command=(/usr/bin/time -f %M -o run/peak "${command[@]}")
    status=0
    (
        # A build that reads a device without end must not take the machine's memory with it.
        [ -z "$asan" ] && ulimit -v 4000000
        case "$wrapper" in
        fsize*) trap '' XFSZ && ulimit -f "${wrapper#fsize }" ;;
        small-disk) command=(on_small_disk "${command[@]}") ;;
        interrupt)
            "${command[@]}" &
            wait_for 300 compgen -G '.old.wav.*' >/dev/null
            kill -TERM $!
            wait $!
            exit
            ;;
        esac
        "${command[@]}"
    ) >run/out 2>run/err || status=$?
    problems=()
    [ "$status" = 124 ] && problems+=("did not end within 60 s")
    [ "$status" = "$code" ] || problems+=("exit code $status, not $code")
    [ -z "$message" ] || grep -qF -- "$message" run/out run/err ||
        problems+=("no message \"$message\"")
    LC_ALL=C grep -q '[[:cntrl:]]' run/out run/err && problems+=("a raw control character printed")
    if [ "$writes" != - ]; then
        [ -s "$writes" ] || problems+=("$writes was not written")
        rm -f "$writes"
    fi
    [ "$(snapshot)" = "$before" ] ||
        problems+=("the folder changed: $(diff <(echo "$before") <(snapshot) | head -n 5 || true)")
    if [ "$memory" != - ] && [ -n "$measure" ]; then
        peak=$(tail -n 1 run/peak)
        [ "$peak" -le "$memory" ] || problems+=("peak memory $peak KB, more than $memory KB")
    fi
    if [ ${#problems[@]} -gt 0 ]; then
        failures=$((failures + 1))
        echo "FAIL: $arguments" >&2
        printf '  %s\n' "${problems[@]}" >&2
        head -c 600 run/err | sed 's/^/  stderr: /' >&2
    else
        echo "ok: $arguments${peak:+ (peak ${peak} KB)}"
    fi
    peak=""
done
[ "$failures" = 0 ] || fail "$failures of ${#rows[@]} rows"
echo "bad input: ok"
