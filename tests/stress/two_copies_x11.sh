#!/usr/bin/env bash
# Two copies of the real program started at the same moment on a private X server:
#   two_copies_x11.sh TOOL XCLOSE
# Exactly one gets port 8300 and shows the window, the other shows the box "Error" alone.
# Return dismisses the box and ends that copy with 0; closing the window ends the other with 0.
# Rounds: 5, times STRESS_SCALE (at least 2). Run it inside tools/testnet.sh.
set -euo pipefail

# shellcheck source=SCRIPTDIR/../lib/x11.sh
. "$(dirname "$0")/../lib/x11.sh"

[ $# -eq 2 ] || { echo "usage: $0 TOOL XCLOSE" >&2; exit 2; }
tool=$1 xclose=$2
readonly TITLE='^Call Panel settings Tool V1\.4$'
readonly BOX='^Error$'
readonly WAIT=60
rounds=$(awk -v s="${STRESS_SCALE:-1}" 'BEGIN { n = int(5 * s + 0.5); print (n < 2 ? 2 : n) }')

need_commands Xvfb xdotool
[ -n "${TESTNET_TOOL_NS:-}" ] || { echo "SKIP: needs the private test network" >&2; exit 77; }

begin_work
show_on_failure --tail 30 a.out b.out xvfb.log
start_xvfb 96 || fail "Xvfb did not start"

both_shown() { [ -n "$(windows "$TITLE")" ] && [ -n "$(windows "$BOX")" ]; }

# Waits for copy $1 to end by itself and checks its exit code.
expect_exit_0() {
    local pid=$1 what=$2
    wait_exit "$pid" 30 || fail "$what did not end"
    [ "$exit_code" -eq 0 ] || fail "$what: exit code $exit_code, expected 0"
}

for ((round = 1; round <= rounds; round++)); do
    # Started back to back, so both open their endpoints at about the same time.
    "$tool" >"$work/a.out" 2>&1 &
    a=$!
    "$tool" >"$work/b.out" 2>&1 &
    b=$!
    track "$a" "$b"
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

    press_return_until_gone "$box" "$box_pid"
    expect_exit_0 "$box_pid" "round $round: the refused copy"
    running "$win_pid" || fail "round $round: the copy with the window ended with the box"
    [ -n "$(windows "$TITLE")" ] || fail "round $round: the window went away with the box"

    "$xclose" "$win" || fail "round $round: could not ask the window to close"
    expect_exit_0 "$win_pid" "round $round: the copy with the window"
    echo "round $round: window by copy $([ "$win_pid" = "$a" ] && echo 1 || echo 2)," \
        "box by the other; both ended with 0"
done
echo "$rounds rounds passed"
