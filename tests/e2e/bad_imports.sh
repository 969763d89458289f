#!/usr/bin/env bash
# The hostile MIDI files and MusicXML scores of the fuzz corpora, each imported by the real
# program: exit code 1, one line on stderr naming the file and the reason, nothing on stdout,
# nothing written anywhere (no OUT.txt, nothing beside the input or where a zip's path points),
# done within 5 s, and, without the sanitizers, a bound on the peak resident memory.
. "$(dirname "$0")/common.sh"
skip_without timeout
MURUTEKA="$(realpath "$MURUTEKA")"
FUZZ="$(realpath "$(dirname "$0")/../../fuzz")"
# Memory is measured and bounded only without AddressSanitizer, whose shadow memory comes on top.
asan=""
case "$(ldd "$MURUTEKA")" in *libasan*) asan=yes ;; esac
measure=""
[ -x /usr/bin/time ] && [ -z "$asan" ] && measure=yes
cut="ファイルが途中で切れています（データの長さがファイルの終わりを越えています）"
entity="実体（ENTITY）の宣言があるため読みません"
# Corpus file | the reason the message gives | peak memory bound in KB (the program alone takes
# about 25 MB; the zip bomb's 64 MB that are read before it is refused come on top)
rows=(
    "smf/chunk-length-past-the-end.mid|$cut|50000"
    "smf/65535-tracks-declared.mid|トラックが多すぎます（1024まで）|50000"
    "smf/running-status-with-no-status.mid|ステータスのないランニングステータスがあります|50000"
    "smf/tempo-of-zero.mid|テンポが0になっています|50000"
    "smf/tempo-event-shorter-than-its-fields.mid|テンポのメタイベントが短すぎます|50000"
    "smf/delta-time-that-never-ends.mid|$cut|50000"
    "smf/delta-times-past-any-song.mid|時間が長すぎます|50000"
    "smf/note-held-over-a-huge-delta-time.mid|時間が長すぎます|50000"
    "smf/status-byte-where-the-pitch-should-be.mid|音の高さが0〜127の外にあります|50000"
    "smf/huge-sysex.mid|長すぎるシステムエクスクルーシブかメタイベントがあります|50000"
    "musicxml/external-entity.musicxml|$entity|50000"
    "musicxml/entity-expansion-bomb.musicxml|$entity|50000"
    "musicxml/chord-note-longer-than-any-song-after-a-drum-part.musicxml|音の長さが正しくありません|50000"
    "musicxml/zip-bomb-65-mb-inflated.mxl|展開すると大きすぎます（64MBまで）|130000"
    "musicxml/path-climbs-out.mxl|ZIPの中に外を指すパスがあります|50000"
    "musicxml/fifteen-million-elements.mxl|楽譜が大きすぎます（要素が多すぎます）|260000"
)
run="$WORK/run"
# Two folders deep, so that what a zip's ../../evil.xml would write stays inside the snapshot.
mkdir -p "$WORK/a/b/in" "$run"
cd "$WORK/a/b/in"
snapshot() {
    (cd "$WORK" && find . -path ./runtime -prune -o -path ./run -prune -o -print | sort)
    md5sum ./*
}
failures=0
for row in "${rows[@]}"; do
    IFS='|' read -r file reason memory <<<"$row"
    name="${file#*/}"
    rm -f ./* && cp "$FUZZ/corpus-$file" .
    before=$(snapshot)
    command=(timeout 5 "$MURUTEKA" --import "$name" OUT.txt)
    [ -n "$measure" ] && command=(/usr/bin/time -f %M -o "$run"/peak "${command[@]}")
    status=0
    ([ -n "$asan" ] || ulimit -v 4000000; "${command[@]}") >"$run"/out 2>"$run"/err || status=$?
    problems=()
    [ "$status" != 124 ] || problems+=("did not end within 5 s")
    [ "$status" = 1 ] || problems+=("exit code $status, not 1")
    [ "$(cat "$run"/err)" = "「$name」を読めません。$reason。" ] || problems+=("not the one line expected")
    [ ! -s "$run"/out ] || problems+=("something on stdout")
    [ "$(snapshot)" = "$before" ] || problems+=("files changed: $(diff <(echo "$before") <(snapshot) | head -n 3 || true)")
    if [ -n "$measure" ] && [ "$(tail -n 1 "$run"/peak)" -gt "$memory" ]; then
        problems+=("peak memory $(tail -n 1 "$run"/peak) KB, more than $memory KB")
    fi
    if [ ${#problems[@]} -gt 0 ]; then
        failures=$((failures + 1))
        echo "FAIL: $name: ${problems[*]}" >&2
        head -c 600 "$run"/err | sed 's/^/  stderr: /' >&2
    else
        echo "ok: $name${measure:+ (peak $(tail -n 1 "$run"/peak) KB)}"
    fi
done
[ "$failures" = 0 ] || fail "$failures of ${#rows[@]} files"
echo "bad imports: ok"
