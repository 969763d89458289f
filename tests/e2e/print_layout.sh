#!/usr/bin/env bash
# --print-layout writes the page as a PDF without a display; a wrong --layout is refused.
. "$(dirname "$0")/common.sh"
env -u DISPLAY -u QT_QPA_PLATFORM "$MURUTEKA" --print-layout "$WORK/page.pdf" --layout F5 ||
    fail "exit code $?"
[ -s "$WORK/page.pdf" ] || fail "no PDF written"
head -c 5 "$WORK/page.pdf" | grep -q '%PDF-' || fail "not a PDF"
if "$MURUTEKA" --print-layout "$WORK/other.pdf" --layout F8 2>"$WORK/err"; then
    fail "--layout F8 was taken"
fi
grep -q "F4, F5, F6 or F7" "$WORK/err" || fail "no clear error for --layout F8"
if command -v pdftotext >/dev/null; then
    pdftotext "$WORK/page.pdf" - | grep 'ﾌｧ#' >/dev/null || fail "labels missing from the page"
fi
# An old page is replaced whole and no temporary file stays; what cannot take a PDF is refused
# with the reason, and the old page is kept.
printf 'OLD' > "$WORK/old.pdf"
"$MURUTEKA" --print-layout "$WORK/old.pdf" 2>/dev/null || fail "an old page was not replaced"
head -c 5 "$WORK/old.pdf" | grep -q '%PDF-' || fail "the old page was not replaced by a PDF"
make_device "$WORK/null" 1 3
ln -s null "$WORK/null.pdf"
rows=(
    "2|「$WORK/null.pdf」は通常のﾌｧｲﾙではないため、書き込めません。|$WORK/null.pdf"
    "1|「$WORK/none/page.pdf」ﾌｧｲﾙに書き込めません。フォルダがありません。|$WORK/none/page.pdf"
)
for row in "${rows[@]}"; do
    IFS='|' read -r code message output <<<"$row"
    status=0
    "$MURUTEKA" --print-layout "$output" 2>"$WORK/err" || status=$?
    [ "$status" = "$code" ] && [ "$(cat "$WORK/err")" = "$message" ] ||
        fail "--print-layout $output: exit $status, said: $(cat "$WORK/err")"
done
[ -L "$WORK/null.pdf" ] && [ ! -f "$WORK/null" ] || fail "the device or its link was replaced"
[ -z "$(find "$WORK" -maxdepth 1 -name '.*.pdf.*')" ] || fail "a temporary file was left"
echo "print layout: ok"
