# Helpers for the end-to-end tests: a private runtime directory (so that parallel runs do not
# meet each other's single-instance lock) and a scratch folder removed on exit.
set -euo pipefail
MURUTEKA="$1"
WORK="$(mktemp -d)"
export XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
cleanup() {
    jobs -p | xargs -r kill 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

skip_without() {
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool is not installed"
            exit 77
        fi
    done
}

# Makes a character device of the test's own at PATH (MAJOR MINOR as /dev/null 1 3, /dev/zero 1 5):
# with root's right to, mknod; elsewhere a FIFO, which the program must refuse the same way. Tests
# give the program these, never the machine's own devices, so that a broken guard harms nothing.
make_device() {
    mknod "$1" c "$2" "$3" 2>/dev/null || mkfifo "$1"
}

# Waits until the command succeeds, up to the given number of tenths of a second.
wait_for() {
    local tenths="$1"
    shift
    for _ in $(seq "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# Prints the id of the first visible window whose name matches, waiting up to 10 s. Exported, so
# that the session scripts which in_x11 runs have it too.
wait_for_window() {
    local win
    for _ in $(seq 100); do
        win=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
        [ -n "$win" ] && { echo "$win"; return 0; }
        sleep 0.1
    done
    return 1
}
export -f wait_for_window

# Runs a command in an X server of its own. Xvfb picks a free display itself (-displayfd), so
# tests running side by side never race for the same one. -noreset: by default an X server resets
# when its last client leaves and refuses connections meanwhile, so a probe (or a dialog closed
# before the next program starts) would leave the next client without a display.
in_x11() {
    local fifo="$WORK/display" server display
    for _ in 1 2 3; do
        : > "$fifo"
        Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$fifo" 2>/dev/null &
        server=$!
        if wait_for 100 grep -q '^[0-9][0-9]*$' "$fifo"; then
            display=":$(head -n 1 "$fifo")"
            if ! command -v xdotool >/dev/null ||
                wait_for 50 env DISPLAY="$display" xdotool getdisplaygeometry >/dev/null 2>&1; then
                local status=0
                DISPLAY="$display" "$@" || status=$?
                kill "$server" 2>/dev/null
                wait "$server" 2>/dev/null || true
                return "$status"
            fi
        fi
        kill "$server" 2>/dev/null
        wait "$server" 2>/dev/null || true
    done
    echo "no X server would start" >&2
    return 1
}
