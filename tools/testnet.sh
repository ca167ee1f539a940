#!/usr/bin/env bash
# Runs a command inside a private test network that never touches the machine's own network:
#
#   tools/testnet.sh [--panels N] -- command [args...]
#
# A switch namespace holds a bridge; a tool namespace and N panel namespaces are each joined to
# it by a veth pair. The command runs in the tool namespace with
#   TESTNET_TOOL_NS, TESTNET_PANEL_NS (space separated), TESTNET_SWITCH_NS,
#   TESTNET_TOOL_IP, TESTNET_PANEL_IPS (space separated), TESTNET_PREFIX
# in its environment. Broadcasts to 255.255.255.255 from the tool namespace reach every panel
# namespace and come back to the sender. Exit code: the command's, or 77 (skipped) when the
# network cannot be made here (not root, no network namespaces, no veth or bridge).
set -euo pipefail

readonly SKIP=77
readonly NET=10.83            # 10.83.0.0/16: tool 10.83.0.1, panels 10.83.0.11, .12, ...
readonly PREFIX_LEN=16
readonly MAX_PANELS=200

usage() {
    echo "usage: $0 [--panels N] -- command [args...]" >&2
    exit 2
}

skip() {
    echo "SKIP: $*" >&2
    exit "$SKIP"
}

panels=1
while [ $# -gt 0 ]; do
    case "$1" in
    --panels)
        [ $# -ge 2 ] || usage
        panels=$2
        shift 2
        ;;
    --panels=*)
        panels=${1#--panels=}
        shift
        ;;
    --)
        shift
        break
        ;;
    *) usage ;;
    esac
done
[ $# -ge 1 ] || usage
case "$panels" in
'' | *[!0-9]*) usage ;;
esac
panels=$((10#$panels))
if [ "$panels" -lt 1 ] || [ "$panels" -gt "$MAX_PANELS" ]; then
    echo "$0: --panels must be 1 to $MAX_PANELS" >&2
    exit 2
fi

[ "$(id -u)" -eq 0 ] || skip "the test network needs root"
command -v ip >/dev/null 2>&1 || skip "the ip command (iproute2) is missing"

readonly TAG=cpt$$
readonly SWITCH_NS=$TAG-sw
readonly TOOL_NS=$TAG-tool
created=()   # namespaces made by this run, removed on every way out
child=

# Namespaces left behind by a run that was killed outright (SIGKILL skips the trap).
remove_stale() {
    local ns pid
    for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
        case "$ns" in
        cpt[0-9]*-*) ;;
        *) continue ;;
        esac
        pid=${ns#cpt}
        pid=${pid%%-*}
        if ! kill -0 "$pid" 2>/dev/null; then
            stop_processes "$ns"
            ip netns delete "$ns" 2>/dev/null || true
        fi
    done
}

# Ends every process still inside namespace $1, by pid: TERM first, KILL after a grace time.
stop_processes() {
    local ns=$1 pids i
    pids=$(ip netns pids "$ns" 2>/dev/null || true)
    [ -n "$pids" ] || return 0
    # shellcheck disable=SC2086
    kill -TERM $pids 2>/dev/null || true
    for i in $(seq 20); do
        pids=$(ip netns pids "$ns" 2>/dev/null || true)
        [ -n "$pids" ] || return 0
        sleep 0.1
    done
    # shellcheck disable=SC2086
    kill -KILL $pids 2>/dev/null || true
}

cleanup() {
    local rc=$? ns
    trap - EXIT INT TERM HUP
    set +e
    for ns in "${created[@]}"; do
        stop_processes "$ns"
    done
    if [ -n "$child" ]; then
        wait "$child" 2>/dev/null
    fi
    # The panel and tool ends go first; deleting the switch removes the bridge and the veths.
    for ((i = ${#created[@]} - 1; i >= 0; i--)); do
        ip netns delete "${created[i]}" 2>/dev/null
    done
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

remove_stale

add_ns() {
    ip netns add "$1" 2>/dev/null || skip "cannot create network namespace $1"
    created+=("$1")
    ip -n "$1" link set lo up
    # No IPv6 chatter on the test links.
    ip netns exec "$1" sh -c 'echo 1 >/proc/sys/net/ipv6/conf/all/disable_ipv6' 2>/dev/null || true
    ip netns exec "$1" sh -c 'echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6' 2>/dev/null || true
}

# Joins namespace $1 to the bridge through port $2 of the switch, with address $3.
attach() {
    local ns=$1 port=$2 addr=$3
    ip -n "$SWITCH_NS" link add "$port" type veth peer name eth0 netns "$ns" 2>/dev/null ||
        skip "cannot create a veth pair"
    ip -n "$SWITCH_NS" link set "$port" master br0
    ip -n "$SWITCH_NS" link set "$port" up
    ip -n "$ns" addr add "$addr/$PREFIX_LEN" broadcast + dev eth0
    ip -n "$ns" link set eth0 up
    # 255.255.255.255 follows the default route out of eth0.
    ip -n "$ns" route add default dev eth0
}

add_ns "$SWITCH_NS"
ip -n "$SWITCH_NS" link add br0 type bridge 2>/dev/null || skip "cannot create a bridge"
ip -n "$SWITCH_NS" link set br0 up

add_ns "$TOOL_NS"
tool_ip=$NET.0.1
attach "$TOOL_NS" t0 "$tool_ip"

panel_ns=()
panel_ips=()
for ((p = 1; p <= panels; p++)); do
    ns=$TAG-p$p
    host=$((10 + p))
    ip_addr=$NET.$((host / 256)).$((host % 256))
    add_ns "$ns"
    attach "$ns" p$p "$ip_addr"
    panel_ns+=("$ns")
    panel_ips+=("$ip_addr")
done

export TESTNET_SWITCH_NS=$SWITCH_NS
export TESTNET_TOOL_NS=$TOOL_NS
export TESTNET_PANEL_NS="${panel_ns[*]}"
export TESTNET_TOOL_IP=$tool_ip
export TESTNET_PANEL_IPS="${panel_ips[*]}"
export TESTNET_PREFIX=$NET.0.0/$PREFIX_LEN

# In the background so that INT/TERM reach the trap at once instead of after the command.
ip netns exec "$TOOL_NS" "$@" <&0 &
child=$!
set +e
wait "$child"
rc=$?
set -e
child=
exit "$rc"
