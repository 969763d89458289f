#!/usr/bin/env bash
# --practice-history as a user runs it: the table and chart of a history with a damaged line,
# one song's history, and the chart as a PNG read back by a reader of our own.
. "$(dirname "$0")/common.sh"
skip_without python3
export XDG_DATA_HOME="$WORK/data"
HISTORY="$XDG_DATA_HOME/muruteka/practice.tsv"
SONG="$WORK/曲.txt"
row() { printf '2026-12-0%sT18:00:00+09:00\t%s\t%s\n' "$1" "$2" "$3"; }

out="$("$MURUTEKA" --practice-history)" || fail "no history: exit status $?"
[ "$out" = "練習の記録はまだありません（$HISTORY）。" ] || fail "no history: [$out]"

mkdir -p "$(dirname "$HISTORY")"
{
    row 1 "$SONG" $'wait\t84\t40\t40\t10\t\t\t\t\t95.0'
    echo "damaged"
    row 3 "$SONG" $'wait\t84\t40\t40\t0\t\t\t\t\t70.0\t\t1:37/0/0/0.0 2:3/0/0/0.0'
    row 4 /other.txt $'in-time\t126\t20\t15\t0\t5\t9\t6\t-2.5\t12.0'
} >"$HISTORY"
cp "$HISTORY" "$WORK/before"
"$MURUTEKA" --practice-history "$SONG" >"$WORK/out" 2>"$WORK/err" || fail "exit status $?"
[ "$(cat "$WORK/err")" = "練習の記録「$HISTORY」の2行目は壊れているため、読み飛ばしました。" ] ||
    fail "stderr was [$(cat "$WORK/err")]"
grep -q "^$SONG（待つ）\$" "$WORK/out" || fail "no heading for the song: $(cat "$WORK/out")"
# Accuracy 40 / 50 = 80 %, then 100 %; the other song is not shown.
grep -q "2026-12-01T18:00:00+09:00 .* 95.0 *80%\$" "$WORK/out" || fail "first row: $(cat "$WORK/out")"
grep -q "2026-12-03T18:00:00+09:00 .* 70.0 *100%\$" "$WORK/out" || fail "second row"
grep -q "正確さ 80% → 100%" "$WORK/out" || fail "chart summary: $(cat "$WORK/out")"
! grep -q other.txt "$WORK/out" || fail "another song's history shown"
grep -q "^練習した時間（この14日間" "$WORK/out" || fail "no minutes per day: $(cat "$WORK/out")"
# The last practice's bars, as the result box lists them.
grep -q "^  2小節目 正確さ 100%\$" "$WORK/out" || fail "no bars of the last practice: $(cat "$WORK/out")"

code=0
"$MURUTEKA" --practice-history --chart "$HISTORY" >/dev/null 2>&1 || code=$?
[ "$code" = 2 ] || fail "a chart over the history itself: exit status $code"
cmp -s "$HISTORY" "$WORK/before" || fail "the history was changed"

"$MURUTEKA" --practice-history --chart "$WORK/chart.png" >/dev/null 2>&1 || fail "chart: exit $?"
# The picture's pixels: both songs' line colours, the first (80-100 %) above the second (75 %).
python3 - "$WORK/chart.png" <<'PY' || fail "the chart picture is wrong"
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n"
pos, idat, width, height, kind = 8, b"", 0, 0, 0
while pos < len(data):
    length, tag = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + length]
    if tag == b"IHDR":
        width, height, depth, kind = struct.unpack(">IIBB", body[:10])
        assert depth == 8 and kind in (2, 6), (depth, kind)
    if tag == b"IDAT":
        idat += body
    pos += 12 + length
raw, bpp = zlib.decompress(idat), 3 if kind == 2 else 4
rows, prev, stride = [], bytearray(width * bpp), width * bpp
for y in range(height):
    f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for i in range(stride):
        a = line[i - bpp] if i >= bpp else 0
        b, c = prev[i], prev[i - bpp] if i >= bpp else 0
        p = a + b - c
        pred = [0, a, b, (a + b) // 2,
                a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c][f]
        line[i] = (line[i] + pred) & 0xFF
    rows.append(line)
    prev = line
def ys(rgb):
    return [y for y in range(height) for x in range(width) if tuple(rows[y][x * bpp:x * bpp + 3]) == rgb]
blue, red = ys((0x1F, 0x77, 0xB4)), ys((0xD6, 0x27, 0x28))
assert width == 800 and blue and red and min(blue) < min(red), (width, len(blue), len(red))
PY
