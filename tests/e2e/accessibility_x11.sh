#!/usr/bin/env bash
# The program as a screen reader meets it: a session bus and an accessibility bus of the test's
# own, the real program in a real X server, and the tree read through AT-SPI.
. "$(dirname "$0")/common.sh"
skip_without Xvfb xdotool dbus-run-session
LAUNCHER=/usr/libexec/at-spi-bus-launcher
[ -x "$LAUNCHER" ] || { echo "SKIP: at-spi2-core is not installed"; exit 77; }
/usr/bin/python3 -c "import pyatspi" 2>/dev/null || { echo "SKIP: python3-pyatspi is not installed"; exit 77; }
cat > "$WORK/session.sh" <<'INNER'
set -euo pipefail
MURUTEKA="$1"; WORK="$2"; HERE="$3"
"$LAUNCHER" --launch-immediately &
# The X server may still be starting to take clients when it has named its display.
for _ in $(seq 150); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
xdotool getdisplaygeometry >/dev/null || { echo "the X server does not answer"; exit 1; }
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb
"$MURUTEKA" --midi-out "trace:$WORK/trace.log" &
win=$(wait_for_window 'ムルテカ') || { echo "no window"; exit 1; }
xdotool windowfocus --sync "$win"
status=0
/usr/bin/python3 "$HERE/accessibility_tree.py" || status=$?
# The in-process tests once more, now that Qt passes their events on to a bridge.
if [ -n "$TESTS" ]; then
    MURUTEKA_TEST_ON_A11Y_BUS=1 "$TESTS" --gtest_brief=1 > "$WORK/gtest.log" 2>&1 && cat "$WORK/gtest.log" ||
        { echo "in-process tests on the bus failed:"; tail -n 30 "$WORK/gtest.log"; status=1; }
fi
jobs -p | xargs -r kill 2>/dev/null || true
exit "$status"
INNER
TESTS="${2:-}"
export LAUNCHER TESTS
in_x11 dbus-run-session -- bash "$WORK/session.sh" "$MURUTEKA" "$WORK" "$(dirname "$0")" 2>"$WORK/stderr" >"$WORK/stdout" ||
    fail "the accessibility session failed: $(cat "$WORK/stdout"; grep -v dbus-daemon "$WORK/stderr" | tail -n 12)"
# Holding q sounded note 57 once, as without a screen reader.
[ "$(grep -c ' 007f3990$' "$WORK/trace.log")" = 1 ] || fail "trace: $(cat "$WORK/trace.log")"
cat "$WORK/stdout"; echo "accessibility under X11: ok"
