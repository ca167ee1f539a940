#!/usr/bin/env bash
# Two copies of the real program started at the same moment on a private X server:
#   two_copies_x11.sh TOOL XCLOSE
# Exactly one gets port 8300 and shows the window, the other shows the box "Error" alone.
# Return dismisses the box and ends that copy with 0; closing the window ends the other with 0.
# Rounds: 5, times STRESS_SCALE (at least 2). Run it inside tools/testnet.sh.
set -euo pipefail

[ $# -eq 2 ] || { echo "usage: $0 TOOL XCLOSE" >&2; exit 2; }
tool=$1 xclose=$2
readonly TITLE='^Call Panel settings Tool V1\.4$'
readonly BOX='^Error$'
readonly WAIT=60
rounds=$(awk -v s="${STRESS_SCALE:-1}" 'BEGIN { n = int(5 * s + 0.5); print (n < 2 ? 2 : n) }')

for cmd in Xvfb xdotool; do
    command -v "$cmd" >/dev/null || { echo "FAIL: $cmd is missing" >&2; exit 1; }
done
[ -n "${TESTNET_TOOL_NS:-}" ] || { echo "SKIP: needs the private test network" >&2; exit 77; }

work=$(mktemp -d)
xvfb_pid=
copies=() # pids of the two copies still running

cleanup() {
    local rc=$? pid
    trap - EXIT
    set +e
    for pid in "${copies[@]}" $xvfb_pid; do kill -TERM "$pid" 2>/dev/null; done
    for pid in "${copies[@]}" $xvfb_pid; do wait "$pid" 2>/dev/null; done
    if [ "$rc" -ne 0 ]; then
        for f in a.out b.out xvfb.log; do
            [ -s "$work/$f" ] && { echo "--- $f"; tail -n 30 "$work/$f"; }
        done
    fi
    rm -rf "$work"
    exit "$rc"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

wait_for() {
    local seconds=$1 i
    shift
    for ((i = 0; i < seconds * 10; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp -noreset \
    3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for 20 test -s "$work/display" || fail "Xvfb did not start"
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY
export QT_QPA_PLATFORM=xcb

windows() { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }
both_shown() { [ -n "$(windows "$TITLE")" ] && [ -n "$(windows "$BOX")" ]; }
running() { kill -0 "$1" 2>/dev/null; }
stopped() { ! running "$1"; }

# Waits for copy $1 to end by itself and checks its exit code.
expect_exit_0() {
    local pid=$1 what=$2 rc
    wait_for 30 stopped "$pid" || fail "$what did not end"
    set +e
    wait "$pid"
    rc=$?
    set -e
    [ "$rc" -eq 0 ] || fail "$what: exit code $rc, expected 0"
}

for ((round = 1; round <= rounds; round++)); do
    # Started back to back, so both open their endpoints at about the same time.
    "$tool" >"$work/a.out" 2>&1 &
    a=$!
    "$tool" >"$work/b.out" 2>&1 &
    b=$!
    copies=("$a" "$b")
    wait_for "$WAIT" both_shown || fail "round $round: expected the window and the box" \
        "(windows: $(windows "$TITLE" | wc -l), boxes: $(windows "$BOX" | wc -l))"
    sleep 1 # a second window or box would be shown by now
    mapfile -t wins < <(windows "$TITLE")
    mapfile -t boxes < <(windows "$BOX")
    [ "${#wins[@]}" -eq 1 ] || fail "round $round: ${#wins[@]} main windows"
    [ "${#boxes[@]}" -eq 1 ] || fail "round $round: ${#boxes[@]} boxes \"Error\""
    win=${wins[0]} box=${boxes[0]}
    win_pid=$(xdotool getwindowpid "$win") box_pid=$(xdotool getwindowpid "$box")
    [ "$win_pid" != "$box_pid" ] || fail "round $round: one copy shows both"
    for pid in "$win_pid" "$box_pid"; do
        [ "$pid" = "$a" ] || [ "$pid" = "$b" ] || fail "round $round: window of unknown pid $pid"
    done

    # Return presses the box's only button; again if it came before the box had the focus.
    for _ in $(seq 20); do
        running "$box_pid" || break
        xdotool windowfocus --sync "$box" 2>/dev/null || true
        xdotool key Return 2>/dev/null || true
        wait_for 1 stopped "$box_pid" || true
    done
    expect_exit_0 "$box_pid" "round $round: the refused copy"
    running "$win_pid" || fail "round $round: the copy with the window ended with the box"
    [ -n "$(windows "$TITLE")" ] || fail "round $round: the window went away with the box"

    "$xclose" "$win" || fail "round $round: could not ask the window to close"
    expect_exit_0 "$win_pid" "round $round: the copy with the window"
    copies=()
    echo "round $round: window by copy $([ "$win_pid" = "$a" ] && echo 1 || echo 2)," \
        "box by the other; both ended with 0"
done
echo "$rounds rounds passed"
