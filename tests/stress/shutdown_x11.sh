#!/usr/bin/env bash
# The real program started and closed again and again on a private X server, while stand-in
# panels answer and a flood of other replies keeps arriving:
#   shutdown_x11.sh TOOL STANDIN FLOOD XCLOSE
# Each round clicks "Search all" (and every second round selects the first line and clicks
# "Del all cards"), sees the request reach the stand-in, closes the window and expects exit
# code 0 within a time limit. Rounds: 20, times STRESS_SCALE. Run it inside tools/testnet.sh.
set -euo pipefail

# shellcheck source=SCRIPTDIR/../lib/x11.sh
. "$(dirname "$0")/../lib/x11.sh"

[ $# -eq 4 ] || { echo "usage: $0 TOOL STANDIN FLOOD XCLOSE" >&2; exit 2; }
tool=$1 standin=$2 flood=$3 xclose=$4
readonly TITLE='^Call Panel settings Tool V1\.4$'
readonly WAIT=60 # seconds; sanitizer builds start slowly
# Client-area points of the controls: "Search all", "Del all cards", first line of the list.
readonly SEARCH_XY=(424 308) DELETE_XY=(733 308) LINE0_XY=(100 24)
rounds=$(awk -v s="${STRESS_SCALE:-1}" 'BEGIN { n = int(20 * s + 0.5); print (n < 3 ? 3 : n) }')

need_commands Xvfb xdotool
read -r -a panel_ns <<<"${TESTNET_PANEL_NS:-}"
if [ -z "${TESTNET_TOOL_IP:-}" ] || [ "${#panel_ns[@]}" -lt 2 ]; then
    echo "SKIP: needs the private test network with 2 panel namespaces" >&2
    exit 77
fi

begin_work
show_on_failure --tail 30 tool.out standin.out flood.out xvfb.log
start_xvfb 96 || fail "Xvfb did not start"

ip netns exec "${panel_ns[0]}" "$standin" --panels 5 --exit-after 900 >"$work/standin.out" 2>&1 &
track "$!"
wait_for 10 grep -q '^ready' "$work/standin.out" || fail "the stand-in did not get ready"
ip netns exec "${panel_ns[1]}" "$flood" --to "$TESTNET_TOOL_IP" --mix noise --rate 5000 \
    --seconds 900 --max 5000000 >"$work/flood.out" 2>&1 &
track "$!"
wait_for 10 grep -q '^ready' "$work/flood.out" || fail "the flood sender did not get ready"

count() { grep -c "$1" "$work/standin.out" || true; }
at_least() { [ "$(count "$1")" -ge "$2" ]; }
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }

for ((round = 1; round <= rounds; round++)); do
    start=$(date +%s%N)
    searches=$(count '^search from') deletions=$(count '^delete-cards for')
    timeout -s KILL 300 "$tool" >"$work/tool.out" 2>&1 &
    tool_pid=$!
    track "$tool_pid"
    win=$(find_window "$TITLE") || true
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
    wait_exit "$tool_pid" 30 ||
        fail "round $round: the program did not end after its window closed"
    [ "$exit_code" -eq 0 ] || fail "round $round: exit code $exit_code, expected 0"
    echo "round $round: exit code 0 after $((($(date +%s%N) - start) / 1000000)) ms"
done
echo "$rounds rounds; stand-in: $(count '^search from') searches, $(count '^delete-cards for') deletions"
