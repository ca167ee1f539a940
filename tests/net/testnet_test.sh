#!/usr/bin/env bash
# Checks tools/testnet.sh: exit codes, environment, routes, and that every run leaves nothing
# behind, also when the command fails, leaves processes running or the run is terminated.
set -euo pipefail

testnet=${1:?usage: $0 path/to/testnet.sh}
[ "$(id -u)" -eq 0 ] || { echo "SKIP: the test network needs root" >&2; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
host_links() { ip -o link show | awk -F': ' '{print $2}' | sort; }
namespaces() { ip netns list | awk '{print $1}'; }
gone() {
    local ns
    for ns in "$@"; do
        if namespaces | grep -qx "$ns"; then return 1; fi
    done
    return 0
}

links_before=$(host_links)

# Usage errors are not skips.
rc=0
"$testnet" --panels 2 2>/dev/null || rc=$?
[ "$rc" -eq 2 ] || fail "missing command: exit $rc, expected 2"
rc=0
"$testnet" --panels 0 -- true 2>/dev/null || rc=$?
[ "$rc" -eq 2 ] || fail "--panels 0: exit $rc, expected 2"

# The command's exit code comes back; the environment describes the network.
rc=0
"$testnet" --panels 3 -- sh -c '
    echo "$TESTNET_TOOL_NS $TESTNET_PANEL_NS $TESTNET_SWITCH_NS" >"$0/names"
    echo "$TESTNET_TOOL_IP|$TESTNET_PANEL_IPS" >"$0/ips"
    ip route get 255.255.255.255 >"$0/route.tool"
    ip -4 -o addr show dev eth0 >"$0/addr.tool"
    for ns in $TESTNET_PANEL_NS; do
        ip netns exec "$ns" ip route get 255.255.255.255 >>"$0/route.panels"
    done
    ip link show >"$0/links.tool"
    exit 3' "$work" || rc=$?
[ "$rc" -ne 77 ] || { echo "SKIP: the test network cannot be made here" >&2; exit 77; }
[ "$rc" -eq 3 ] || fail "exit code $rc, expected 3"
read -r -a names <"$work/names"
[ "${#names[@]}" -eq 5 ] || fail "expected 5 namespaces, got: ${names[*]}"
[ "$(cat "$work/ips")" = "10.83.0.1|10.83.0.11 10.83.0.12 10.83.0.13" ] ||
    fail "addresses: $(cat "$work/ips")"
grep -q 'dev eth0' "$work/route.tool" || fail "tool broadcast route: $(cat "$work/route.tool")"
grep -q '10.83.0.1/16' "$work/addr.tool" || fail "tool address: $(cat "$work/addr.tool")"
[ "$(grep -c 'dev eth0' "$work/route.panels")" -eq 3 ] || fail "panel broadcast routes"
# The tool namespace has only its loopback and its end of the cable.
[ "$(grep -c '^[0-9]*:' "$work/links.tool")" -eq 2 ] || fail "tool links: $(cat "$work/links.tool")"
gone "${names[@]}" || fail "namespaces left after a failing command: ${names[*]}"

# The laptop topologies: the tool's addresses, its default route, where the panels are.
rc=0
"$testnet" --topology mesh -- true 2>/dev/null || rc=$?
[ "$rc" -eq 2 ] || fail "unknown topology: exit $rc, expected 2"
# The last panel's default route, then the tool's routes per segment.
declare -A want=(
    [noroute]="eth0 10.83.0.1/16;;10.83.0.1|10.83.0.11 10.83.0.12|0 0|;dev eth0;1"
    [twosegments]="eth0 10.83.0.1/16,eth1 10.84.0.1/16;dev eth0;10.84.0.1|10.84.0.11 10.83.0.12|1 0|0;dev eth0;1 1"
    [twoifaces]="eth0 10.83.0.1/16,eth1 10.83.0.2/16;dev eth0;10.83.0.1|10.83.0.11 10.83.0.12|0 0|0;dev eth0;2"
    [alias]="eth0 10.83.0.1/16,eth0 192.168.1.5/24;dev eth0;10.83.0.1|10.83.0.11 192.168.1.100|0 0|0;via 192.168.1.1;2"
    [twosubnets]="eth0 10.83.0.1/16,eth1 10.84.0.1/16;dev eth0;10.83.0.1|10.83.0.11 10.83.0.12|0 0|0;dev eth0;2"
    [wifialias]="eth0 192.168.1.50/24,eth1 10.84.0.1/16,eth1 192.168.1.5/24;dev eth0;10.84.0.1|10.84.0.11 192.168.1.100|1 1|0;via 192.168.1.1;1 2"
)
for topology in noroute twosegments twoifaces alias twosubnets wifialias; do
    "$testnet" --panels 2 --topology "$topology" -- sh -c '
        addrs=$(ip -4 -o addr show scope global | awk "{print \$2, \$4}" | paste -sd,)
        route=$(ip route show default | awk "{print \$2, \$3}")
        last=$(ip -n "${TESTNET_PANEL_NS##* }" route show default | awk "{print \$2, \$3}")
        echo "$addrs;$route;$TESTNET_TOOL_IP|$TESTNET_PANEL_IPS|$TESTNET_PANEL_SEGMENTS|$TESTNET_ROUTE_SEGMENT;$last;$TESTNET_SEGMENT_ROUTES"
        ' >"$work/$topology" || fail "$topology: exit $?"
    [ "$(cat "$work/$topology")" = "${want[$topology]}" ] ||
        fail "$topology: $(cat "$work/$topology"), expected ${want[$topology]}"
done

# A process left running inside a panel namespace is ended and the network removed.
rc=0
"$testnet" --panels 1 -- sh -c '
    ip netns exec "$TESTNET_PANEL_NS" sleep 600 &
    echo $! >"$0/pid"
    echo "$TESTNET_TOOL_NS $TESTNET_PANEL_NS $TESTNET_SWITCH_NS" >"$0/names"' "$work" || rc=$?
[ "$rc" -eq 0 ] || fail "exit code $rc, expected 0"
read -r -a names <"$work/names"
gone "${names[@]}" || fail "namespaces left behind a stray process"
# Give the parent a moment to reap it; a zombie is not running.
pid=$(cat "$work/pid")
for _ in $(seq 50); do
    state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null || true)
    [ -z "$state" ] || [ "$state" = Z ] && break
    sleep 0.1
done
[ -z "$state" ] || [ "$state" = Z ] || fail "stray process $pid still running ($state)"

# Terminating the run removes everything as well.
rm -f "$work/names"
"$testnet" --panels 2 -- sh -c '
    echo "$TESTNET_TOOL_NS $TESTNET_PANEL_NS $TESTNET_SWITCH_NS" >"$0/names"
    exec sleep 600' "$work" &
runner=$!
for _ in $(seq 100); do
    [ -s "$work/names" ] && break
    sleep 0.1
done
[ -s "$work/names" ] || fail "the terminated run never started its command"
read -r -a names <"$work/names"
kill -TERM "$runner"
rc=0
wait "$runner" || rc=$?
[ "$rc" -eq 143 ] || fail "terminated run: exit $rc, expected 143"
gone "${names[@]}" || fail "namespaces left after TERM"

[ "$(host_links)" = "$links_before" ] || fail "the machine's own links changed"
echo "PASS"
