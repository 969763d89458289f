#!/usr/bin/env bash
# The manual page and --help describe the same command line: every option and every form of
# --midi-out in one appears in the other. The page formats without a warning.
. "$(dirname "$0")/common.sh"
skip_without man
PAGE="$2"
"$MURUTEKA" --help > "$WORK/help.txt"
LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$PAGE" 2>/dev/null | col -bx > "$WORK/page.txt"
options() { grep -o -- '--[a-z][a-z-]*' "$1" | sort -u; }
options "$WORK/help.txt" > "$WORK/help-options"
options "$WORK/page.txt" > "$WORK/page-options"
[ "$(wc -l < "$WORK/help-options")" -ge 10 ] || fail "too few options in --help"
missing=$(comm -23 "$WORK/help-options" "$WORK/page-options")
[ -z "$missing" ] || fail "in --help but not in the manual page: $missing"
extra=$(comm -13 "$WORK/help-options" "$WORK/page-options")
[ -z "$extra" ] || fail "in the manual page but not in --help: $extra"
# The forms of --midi-out and --midi-in: the help lines that start with a form, indented under
# their option (never at the options' own indent).
sed -n 's/^      \([a-z]\+\(:[A-Z]\+\)\?\)  .*/\1/p' "$WORK/help.txt" > "$WORK/forms"
! grep -q '^ \{0,5\}[a-z]\+\(:[A-Z]\+\)\?  ' "$WORK/help.txt" || fail "a form at the options' indent"
[ "$(wc -l < "$WORK/forms")" -ge 4 ] || fail "no forms of --midi-out found in --help"
while read -r form; do
    grep -q "^ *$form " "$WORK/page.txt" || fail "--midi-out $form is not in the manual page"
done < "$WORK/forms"
# In a UTF-8 locale, and in the C locale of a bare machine, where Japanese has no glyphs.
for locale in C.UTF-8 C; do
    warnings=$(LC_ALL=$locale man --warnings -l "$PAGE" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man --warnings in $locale: $warnings"
done
warnings=$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 -Z "$PAGE" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man --warnings -Tutf8: $warnings"
echo "manual page: ok"
