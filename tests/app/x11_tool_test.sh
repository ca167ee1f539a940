#!/usr/bin/env bash
# Drives the real program on a private Xvfb display.
#   x11_tool_test.sh refused|window|window-scaled TOOL HOLD_PORT XCLOSE
# refused:       port 8300 is held; the box "Error" appears alone, Return ends the program with 0.
# window:        the window appears with a client area of 861 x 372, centred; closing it ends
#                the program with 0.
# window-scaled: the same on a 192-dpi screen with every Qt scaling variable asking for 2x.
# Run it inside tools/testnet.sh: the tool opens its endpoint, and the hold binds port 8300.
set -euo pipefail

[ $# -eq 4 ] || { echo "usage: $0 MODE TOOL HOLD_PORT XCLOSE" >&2; exit 2; }
mode=$1 tool=$2 hold=$3 xclose=$4
readonly TITLE='^Call Panel settings Tool V1\.4$'
readonly BOX='^Error$'
readonly WAIT=60 # seconds; sanitizer builds start slowly
readonly SCREEN_W=1280 SCREEN_H=1024

for cmd in Xvfb xdotool xwininfo; do
    command -v "$cmd" >/dev/null || { echo "FAIL: $cmd is missing" >&2; exit 1; }
done

work=$(mktemp -d)
pids=() # everything this script started, ended by pid
tool_pid=

cleanup() {
    local rc=$? pid
    trap - EXIT
    set +e
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    if [ "$rc" -ne 0 ]; then
        for f in tool.out xvfb.log; do
            [ -s "$work/$f" ] && { echo "--- $f"; cat "$work/$f"; }
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

# Polls `$@` every 0.1 s for up to $1 seconds.
wait_for() {
    local seconds=$1 i
    shift
    for ((i = 0; i < seconds * 10; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# -displayfd lets the server pick a free display number itself.
start_xvfb() {
    local dpi=$1
    Xvfb -displayfd 3 -screen 0 "${SCREEN_W}x${SCREEN_H}x24" -dpi "$dpi" -nolisten tcp -noreset \
        3>"$work/display" >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    wait_for 20 test -s "$work/display" || fail "Xvfb did not start"
    DISPLAY=":$(head -n1 "$work/display")"
    export DISPLAY
    echo "Xvfb on $DISPLAY"
}

start_tool() {
    "$@" "$tool" >"$work/tool.out" 2>&1 &
    tool_pid=$!
    pids+=("$tool_pid")
}

running() { kill -0 "$tool_pid" 2>/dev/null; }
stopped() { ! running; }

# Waits for the tool to end and checks its exit code.
expect_exit_0() {
    local rc
    wait_for 30 stopped || fail "the program did not end"
    set +e
    wait "$tool_pid"
    rc=$?
    set -e
    [ "$rc" -eq 0 ] || fail "exit code $rc, expected 0"
    echo "exit code 0"
}

find_window() { timeout "$WAIT" xdotool search --sync --onlyvisible --name "$1" | head -n1; }
has_window() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }

export QT_QPA_PLATFORM=xcb

case "$mode" in
refused)
    start_xvfb 96
    "$hold" 8300 "$work/held" &
    pids+=($!)
    wait_for 10 test -e "$work/held" || fail "could not hold port 8300"
    start_tool
    box=$(find_window "$BOX") || true
    [ -n "$box" ] || fail "no window \"Error\" appeared"
    echo "box $box"
    ! has_window "$TITLE" || fail "the main window was shown although the port is taken"
    # Return presses the box's only button; repeat in case the first one came before the box
    # took the focus.
    for _ in $(seq 20); do
        running || break
        xdotool windowfocus --sync "$box" 2>/dev/null || true
        xdotool key Return 2>/dev/null || true
        wait_for 1 stopped || true
    done
    expect_exit_0
    ;;
window | window-scaled)
    env=()
    if [ "$mode" = window-scaled ]; then
        start_xvfb 192
        env=(env QT_ENABLE_HIGHDPI_SCALING=1 QT_SCALE_FACTOR=2 QT_SCREEN_SCALE_FACTORS=2
            QT_FONT_DPI=192 QT_USE_PHYSICAL_DPI=1)
    else
        start_xvfb 96
    fi
    start_tool "${env[@]}"
    win=$(find_window "$TITLE") || true
    [ -n "$win" ] || fail "the window did not appear"
    ! has_window "$BOX" || fail "an error box appeared"

    geometry() {
        xwininfo -id "$win" | awk '
            /Absolute upper-left X:/ {x = $NF} /Absolute upper-left Y:/ {y = $NF}
            /Width:/ {w = $NF} /Height:/ {h = $NF}
            END {print w "x" h "+" x "+" y}'
    }
    want_x=$(((SCREEN_W - 861) / 2)) want_y=$(((SCREEN_H - 372) / 2))
    # Centring may be rounded either way by a pixel.
    placed() {
        local g x y
        g=$(geometry)
        IFS='x+' read -r _ _ x y <<<"$g"
        [ "${g%%+*}" = 861x372 ] && [ $((x - want_x)) -ge -1 ] && [ $((x - want_x)) -le 1 ] &&
            [ $((y - want_y)) -ge -1 ] && [ $((y - want_y)) -le 1 ]
    }
    wait_for 10 placed || fail "window geometry $(geometry), expected 861x372+$want_x+$want_y"
    echo "window $win: $(geometry)"

    "$xclose" "$win" || fail "could not ask the window to close"
    expect_exit_0
    ;;
*)
    fail "unknown mode $mode"
    ;;
esac
