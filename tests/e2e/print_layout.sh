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
    pdftotext "$WORK/page.pdf" - | grep -q 'ﾌｧ#' || fail "labels missing from the page"
fi
echo "print layout: ok"
