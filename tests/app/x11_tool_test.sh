#!/usr/bin/env bash
# Drives the real program on a private Xvfb display.
#   x11_tool_test.sh refused|window|window-scaled TOOL HOLD_PORT XCLOSE
# refused:       port 8300 is held; the box "Error" appears alone, Return ends the program with 0.
# window:        the window appears with a client area of 861 x 372, centred; closing it ends
#                the program with 0.
# window-scaled: the same on a 192-dpi screen with every Qt scaling variable asking for 2x.
# Run it inside tools/testnet.sh: the tool opens its endpoint, and the hold binds port 8300.
set -euo pipefail

# shellcheck source=SCRIPTDIR/../lib/x11.sh
. "$(dirname "$0")/../lib/x11.sh"

[ $# -eq 4 ] || { echo "usage: $0 MODE TOOL HOLD_PORT XCLOSE" >&2; exit 2; }
mode=$1 tool=$2 hold=$3 xclose=$4
readonly TITLE='^Call Panel settings Tool V1\.4$'
readonly BOX='^Error$'
readonly WAIT=60 # seconds; sanitizer builds start slowly

need_commands Xvfb xdotool xwininfo
begin_work
show_on_failure tool.out xvfb.log
tool_pid=

start_display() {
    start_xvfb "$1" || fail "Xvfb did not start"
    echo "Xvfb on $DISPLAY"
}

start_tool() {
    "$@" "$tool" >"$work/tool.out" 2>&1 &
    tool_pid=$!
    track "$tool_pid"
}

# Waits for the tool to end and checks its exit code.
expect_exit_0() {
    wait_exit "$tool_pid" 30 || fail "the program did not end"
    [ "$exit_code" -eq 0 ] || fail "exit code $exit_code, expected 0"
    echo "exit code 0"
}

case "$mode" in
refused)
    start_display 96
    "$hold" 8300 "$work/held" &
    track "$!"
    wait_for 10 test -e "$work/held" || fail "could not hold port 8300"
    start_tool
    box=$(find_window "$BOX") || true
    [ -n "$box" ] || fail "no window \"Error\" appeared"
    echo "box $box"
    ! has_window "$TITLE" || fail "the main window was shown although the port is taken"
    press_return_until_gone "$box" "$tool_pid"
    expect_exit_0
    ;;
window | window-scaled)
    env=()
    if [ "$mode" = window-scaled ]; then
        start_display 192
        env=(env QT_ENABLE_HIGHDPI_SCALING=1 QT_SCALE_FACTOR=2 QT_SCREEN_SCALE_FACTORS=2
            QT_FONT_DPI=192 QT_USE_PHYSICAL_DPI=1)
    else
        start_display 96
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
