#!/usr/bin/env bash
# The real program started and closed again and again on a private X server, while stand-in
# panels answer and a flood of other replies keeps arriving:
#   shutdown_x11.sh TOOL STANDIN FLOOD XCLOSE
# Each round clicks "Search all" (and every second round selects the first line and clicks
# "Del all cards"), sees the request reach the stand-in, closes the window and expects exit
# code 0 within a time limit. Rounds: 20, times STRESS_SCALE. Run it inside tools/testnet.sh.
set -euo pipefail

[ $# -eq 4 ] || { echo "usage: $0 TOOL STANDIN FLOOD XCLOSE" >&2; exit 2; }
tool=$1 standin=$2 flood=$3 xclose=$4
readonly TITLE='^Call Panel settings Tool V1\.4$'
readonly WAIT=60 # seconds; sanitizer builds start slowly
# Client-area points of the controls: "Search all", "Del all cards", first line of the list.
readonly SEARCH_XY=(424 308) DELETE_XY=(733 308) LINE0_XY=(100 24)
rounds=$(awk -v s="${STRESS_SCALE:-1}" 'BEGIN { n = int(20 * s + 0.5); print (n < 3 ? 3 : n) }')

for cmd in Xvfb xdotool; do
    command -v "$cmd" >/dev/null || { echo "FAIL: $cmd is missing" >&2; exit 1; }
done
read -r -a panel_ns <<<"${TESTNET_PANEL_NS:-}"
if [ -z "${TESTNET_TOOL_IP:-}" ] || [ "${#panel_ns[@]}" -lt 2 ]; then
    echo "SKIP: needs the private test network with 2 panel namespaces" >&2
    exit 77
fi

work=$(mktemp -d)
pids=() # everything this script started, ended by pid
tool_pid=

cleanup() {
    local rc=$? pid
    trap - EXIT
    set +e
    [ -z "$tool_pid" ] || pids+=("$tool_pid")
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    if [ "$rc" -ne 0 ]; then
        for f in tool.out standin.out flood.out xvfb.log; do
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
pids+=($!)
wait_for 20 test -s "$work/display" || fail "Xvfb did not start"
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY
export QT_QPA_PLATFORM=xcb

ip netns exec "${panel_ns[0]}" "$standin" --panels 5 --exit-after 900 >"$work/standin.out" 2>&1 &
pids+=($!)
wait_for 10 grep -q '^ready' "$work/standin.out" || fail "the stand-in did not get ready"
ip netns exec "${panel_ns[1]}" "$flood" --to "$TESTNET_TOOL_IP" --mix noise --rate 5000 \
    --seconds 900 --max 5000000 >"$work/flood.out" 2>&1 &
pids+=($!)
wait_for 10 grep -q '^ready' "$work/flood.out" || fail "the flood sender did not get ready"

count() { grep -c "$1" "$work/standin.out" || true; }
at_least() { [ "$(count "$1")" -ge "$2" ]; }
stopped() { ! kill -0 "$tool_pid" 2>/dev/null; }
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }

for ((round = 1; round <= rounds; round++)); do
    start=$(date +%s%N)
    searches=$(count '^search from') deletions=$(count '^delete-cards for')
    timeout -s KILL 300 "$tool" >"$work/tool.out" 2>&1 &
    tool_pid=$!
    win=$(timeout "$WAIT" xdotool search --sync --onlyvisible --name "$TITLE" | head -n1) || true
    [ -n "$win" ] || fail "round $round: the window did not appear"
    # The window may take a moment to accept input after it is mapped: click until the
    # stand-in sees the search.
    for _ in $(seq 20); do
        click "$win" "${SEARCH_XY[@]}" 2>/dev/null || true
        wait_for 1 at_least '^search from' $((searches + 1)) && break
    done
    at_least '^search from' $((searches + 1)) || fail "round $round: the search did not go out"
    if ((round % 2 == 0)); then
        sleep 0.5 # the five panels are listed by now
        click "$win" "${LINE0_XY[@]}"
        click "$win" "${DELETE_XY[@]}"
        wait_for 10 at_least '^delete-cards for' $((deletions + 1)) ||
            fail "round $round: the card deletion did not go out"
    fi
    "$xclose" "$win" || fail "round $round: could not ask the window to close"
    wait_for 30 stopped || fail "round $round: the program did not end after its window closed"
    set +e
    wait "$tool_pid"
    rc=$?
    set -e
    tool_pid=
    [ "$rc" -eq 0 ] || fail "round $round: exit code $rc, expected 0"
    echo "round $round: exit code 0 after $((($(date +%s%N) - start) / 1000000)) ms"
done
echo "$rounds rounds; stand-in: $(count '^search from') searches, $(count '^delete-cards for') deletions"
