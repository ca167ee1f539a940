#!/usr/bin/env bash
# Drives the real program on a private Xvfb display.
#   x11_tool_test.sh refused|window|window-125|window-150|window-200 TOOL HOLD_PORT XCLOSE STANDIN
# refused:    port 8300 is held; the box "Error" appears alone, Return ends the program with 0,
#             and one English line on the standard error names the port and `ss` to find its holder.
# window:     started with the toolkit's options "-platform nonexistent -reverse", which it
#             ignores, the window appears with a client area of 861 x 372, centred; a click on
#             "Search all" reaches a stand-in panel; closing the window ends the program with 0.
# window-125: the same on a 2560 x 1600 screen whose desktop asks for 125 % (Xft.dpi 120):
#             rounded to 1, nothing changes.
# window-150, window-200: the desktop asks for 150 % (Xft.dpi 144, where the whole factor's
#             rounding turns) or 200 % (Xft.dpi 192): the window is 1722 x 744 and "Search all"
#             is at twice its place, as Form1Layout::WholeScaleFactor has it for the Windows
#             face. Qt's own scaling variables, set to other factors, change nothing in any.
# Run it inside tools/testnet.sh: the tool opens its endpoint, the hold binds port 8300 and the
# stand-in answers in the first panel namespace.
set -euo pipefail

# shellcheck source=SCRIPTDIR/../lib/x11.sh
. "$(dirname "$0")/../lib/x11.sh"

[ $# -eq 5 ] || { echo "usage: $0 MODE TOOL HOLD_PORT XCLOSE STANDIN" >&2; exit 2; }
mode=$1 tool=$2 hold=$3 xclose=$4 standin=$5
readonly TITLE='^Call Panel settings Tool V1\.4$'
readonly BOX='^Error$'
readonly WAIT=60 # seconds; sanitizer builds start slowly

# "Search all" in window coordinates at 100 %: its left, top and size are 384, 296 and 81 x 25.
readonly SEARCH_X=424 SEARCH_Y=308

need_commands Xvfb xdotool xwininfo xrdb
begin_work
show_on_failure tool.out standin.out xvfb.log
tool_pid=

start_display() {
    start_xvfb "$1" || fail "Xvfb did not start"
    echo "Xvfb on $DISPLAY"
}

# start_tool [env NAME=VALUE...]: the tool with the arguments in $tool_args.
tool_args=()
start_tool() {
    "$@" "$tool" "${tool_args[@]}" >"$work/tool.out" 2>&1 &
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
    [ "$(grep -c '^callpanel-tool: ' "$work/tool.out")" -eq 1 ] &&
        grep -qF "UDP port 8300 cannot be opened" "$work/tool.out" &&
        grep -qF "ss -uanp 'sport = :8300'" "$work/tool.out" ||
        fail "no single line on the standard error naming port 8300 and ss"
    ;;
window | window-125 | window-150 | window-200)
    env=()
    case "$mode" in
    window)
        start_display 96
        factor=1
        # The tool takes no arguments; the toolkit's own must not take effect either: an
        # unknown platform would abort it, a mirrored window would move "Search all".
        tool_args=(-platform nonexistent -reverse)
        ;;
    window-125 | window-150 | window-200)
        case "$mode" in
        window-125) dpi=120 factor=1 ;;
        window-150) dpi=144 factor=2 ;;
        *) dpi=192 factor=2 ;;
        esac
        start_xvfb "$dpi" 2560x1600 || fail "Xvfb did not start"
        echo "Xvfb on $DISPLAY, 2560 x 1600, Xft.dpi $dpi"
        desktop_dpi "$dpi" || fail "could not set Xft.dpi"
        env=(env QT_ENABLE_HIGHDPI_SCALING=0 QT_SCALE_FACTOR=1.5 QT_SCREEN_SCALE_FACTORS=3
            QT_SCALE_FACTOR_ROUNDING_POLICY=PassThrough QT_FONT_DPI=144 QT_USE_PHYSICAL_DPI=1)
        ;;
    esac
    read -r -a panel_ns <<<"${TESTNET_PANEL_NS:-}"
    [ "${#panel_ns[@]}" -ge 1 ] || fail "not inside tools/testnet.sh"
    # `ip netns exec` becomes the stand-in, so $! is the stand-in's own pid.
    ip netns exec "${panel_ns[0]}" "$standin" >"$work/standin.out" 2>&1 &
    track "$!"
    wait_for 10 grep -q '^ready' "$work/standin.out" || fail "the stand-in did not get ready"

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
    want_w=$((861 * factor)) want_h=$((372 * factor))
    want_x=$(((SCREEN_W - want_w) / 2)) want_y=$(((SCREEN_H - want_h) / 2))
    # Centring may be rounded either way by a pixel, or by the factor.
    placed() {
        local g x y
        g=$(geometry)
        IFS='x+' read -r _ _ x y <<<"$g"
        [ "${g%%+*}" = "${want_w}x${want_h}" ] &&
            [ $((x - want_x)) -ge $((-factor)) ] && [ $((x - want_x)) -le "$factor" ] &&
            [ $((y - want_y)) -ge $((-factor)) ] && [ $((y - want_y)) -le "$factor" ]
    }
    wait_for 10 placed || fail "window geometry $(geometry), expected ${want_w}x${want_h}+$want_x+$want_y"
    echo "window $win: $(geometry)"

    # A click on "Search all" at its place times the factor.
    searched() { grep -q '^search from ' "$work/standin.out"; }
    for _ in 1 2 3; do # the first click may come before the window takes input
        xdotool mousemove --window "$win" $((SEARCH_X * factor)) $((SEARCH_Y * factor)) click 1
        wait_for 5 searched && break
    done
    searched || fail "a click at $((SEARCH_X * factor)),$((SEARCH_Y * factor)) did not search"
    echo "stand-in: $(grep -m1 '^search from ' "$work/standin.out")"

    "$xclose" "$win" || fail "could not ask the window to close"
    expect_exit_0
    ;;
*)
    fail "unknown mode $mode"
    ;;
esac
