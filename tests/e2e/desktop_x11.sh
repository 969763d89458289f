#!/usr/bin/env bash
# The window as the desktop sees it: its WM_CLASS is the desktop entry's StartupWMClass (so the
# desktop puts it under the menu entry's icon), and it carries the program's icon at every size
# the icon theme has (Qt hands X11 the sizes up to 128 px; 256 stays with the desktop's theme).
. "$(dirname "$0")/common.sh"
skip_without Xvfb xdotool xprop
DESKTOP_FILE="$2"
wm_class=$(sed -n 's/^StartupWMClass=//p' "$DESKTOP_FILE")
[ -n "$wm_class" ] || fail "no StartupWMClass in $DESKTOP_FILE"
cat > "$WORK/session.sh" <<'INNER'
set -euo pipefail
MURUTEKA="$1"; WORK="$2"
"$MURUTEKA" --midi-out "trace:$WORK/trace.log" &
pid=$!
win=$(wait_for_window 'ムルテカ') || { echo "no window"; exit 1; }
xprop -id "$win" WM_CLASS > "$WORK/class.txt"
xprop -id "$win" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' > "$WORK/icons.txt" || true
kill "$pid"
wait "$pid" || true
INNER
in_x11 bash "$WORK/session.sh" "$MURUTEKA" "$WORK" || fail "the X11 session failed"
grep -q "= \"$wm_class\", \"$wm_class\"\$" "$WORK/class.txt" ||
    fail "WM_CLASS $(cat "$WORK/class.txt") does not match StartupWMClass=$wm_class"
for size in 16 32 48 64 128; do
    grep -qx "Icon ($size x $size)" "$WORK/icons.txt" ||
        fail "no $size px window icon; the window has: $(tr '\n' ' ' < "$WORK/icons.txt")"
done
echo "desktop: ok"
