#!/usr/bin/env bash
# Runs a command inside a private test network that never touches the machine's own network:
#
#   tools/testnet.sh [--panels N]
#       [--topology flat|noroute|twosegments|twoifaces|alias|twosubnets|wifialias] -- command...
#
# A switch namespace per segment holds a bridge; a tool namespace and N panel namespaces are
# joined to them by veth pairs. Topologies (the tool's side; panels always have a default route):
#   flat         one segment 10.83.0.0/16; the tool's eth0 10.83.0.1 holds the default route
#   noroute      the same without any default route (a static address on an isolated switch)
#   twosegments  eth0 10.83.0.1 on segment 0 holds the default route (the laptop's Wi-Fi),
#                eth1 10.84.0.1 on segment 1 has none (the cable to the panel switch); panels
#                1, 3, 5, ... are on segment 1 (10.84.0.11, ...), panels 2, 4, ... on segment 0
#   twoifaces    eth0 10.83.0.1 and eth1 10.83.0.2, both on segment 0; default route via eth0
#   alias        flat, and eth0 also holds 192.168.1.5/24 (the address an installer adds); the
#                last panel is a new one on its factory subnet, 192.168.1.100/24, whose only
#                way out is the gateway 192.168.1.1 that does not exist
#   twosubnets   eth0 10.83.0.1 and eth1 10.84.0.1, both on segment 0 (two subnets on one
#                switch); default route via eth0
#   wifialias    Wi-Fi and cable alias in one subnet number: eth0 192.168.1.50/24 on segment 0
#                holds the default route (the laptop's Wi-Fi at the most common router subnet),
#                eth1 10.84.0.1 on segment 1 (the cable to the panel switch) also holds
#                192.168.1.5/24; every panel is on segment 1, the last one a new panel on its
#                factory subnet as in alias
# The command runs in the tool namespace with
#   TESTNET_TOOL_NS, TESTNET_PANEL_NS (space separated), TESTNET_SWITCH_NS (segment 0),
#   TESTNET_TOOL_IP (the tool's address facing the first panel), TESTNET_PANEL_IPS,
#   TESTNET_PREFIX (the first panel's segment), TESTNET_TOPOLOGY,
#   TESTNET_SEGMENT_NS (switch namespace of each segment), TESTNET_PANEL_SEGMENTS (segment of
#   each panel), TESTNET_TOOL_IFACES, TESTNET_TOOL_IPS, TESTNET_TOOL_SEGMENTS, TESTNET_TOOL_PORTS
#   (per tool interface; the port is its switch end), TESTNET_ROUTE_SEGMENT (the segment of the
#   default route, empty without), TESTNET_TOOL_ALIASES (further addresses/prefix of the
#   interface facing the factory panel), TESTNET_SEGMENT_ROUTES (per segment, how many copies of
#   one broadcast reach it: one per subnet of each tool interface there)
# in its environment. Exit code: the command's, or 77 (skipped) when the network cannot be made
# here (not root, no network namespaces, no veth or bridge).
set -euo pipefail

readonly SKIP=77
readonly NETS=(10.83 10.84)   # segment s is NETS[s].0.0/16: tool .0.1, panels .0.11, .0.12, ...
readonly PREFIX_LEN=16
readonly MAX_PANELS=200
readonly FACTORY_TOOL=192.168.1.5/24 FACTORY_PANEL=192.168.1.100/24 FACTORY_GATEWAY=192.168.1.1
readonly WIFI_TOOL=192.168.1.50/24
readonly TOPOLOGIES="flat|noroute|twosegments|twoifaces|alias|twosubnets|wifialias"

usage() {
    echo "usage: $0 [--panels N] [--topology $TOPOLOGIES] -- command..." >&2
    exit 2
}

skip() {
    echo "SKIP: $*" >&2
    exit "$SKIP"
}

panels=1
topology=flat
while [ $# -gt 0 ]; do
    case "$1" in
    --topology)
        [ $# -ge 2 ] || usage
        topology=$2
        shift 2
        ;;
    --topology=*)
        topology=${1#--topology=}
        shift
        ;;
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
[[ "|$TOPOLOGIES|" == *"|$topology|"* ]] || usage
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

# Joins namespace $1 as interface $5 to the bridge of segment $4 through switch port $2, with
# address $3 (prefix length $PREFIX_LEN unless it names one).
attach() {
    local ns=$1 port=$2 addr=$3 segment=$4 dev=${5:-eth0}
    [[ "$addr" == */* ]] || addr=$addr/$PREFIX_LEN
    local switch=${segment_ns[segment]}
    ip -n "$switch" link add "$port" type veth peer name "$dev" netns "$ns" 2>/dev/null ||
        skip "cannot create a veth pair"
    ip -n "$switch" link set "$port" master br0
    ip -n "$switch" link set "$port" up
    ip -n "$ns" addr add "$addr" broadcast + dev "$dev"
    ip -n "$ns" link set "$dev" up
}

segment_ns=()
add_segment() {
    local ns=$SWITCH_NS
    [ ${#segment_ns[@]} -eq 0 ] || ns=$SWITCH_NS${#segment_ns[@]}
    add_ns "$ns"
    ip -n "$ns" link add br0 type bridge 2>/dev/null || skip "cannot create a bridge"
    ip -n "$ns" link set br0 up
    segment_ns+=("$ns")
}

add_segment
case "$topology" in twosegments | wifialias) add_segment ;; esac

add_ns "$TOOL_NS"
tool_ifaces=(eth0)
tool_ips=("${NETS[0]}.0.1")
tool_segments=(0)
route_segment=0
case "$topology" in
noroute) route_segment= ;;
twosegments) tool_ifaces+=(eth1) tool_ips+=("${NETS[1]}.0.1") tool_segments+=(1) ;;
twoifaces) tool_ifaces+=(eth1) tool_ips+=("${NETS[0]}.0.2") tool_segments+=(0) ;;
twosubnets) tool_ifaces+=(eth1) tool_ips+=("${NETS[1]}.0.1") tool_segments+=(0) ;;
wifialias) tool_ips=("${WIFI_TOOL%/*}") tool_ifaces+=(eth1) tool_ips+=("${NETS[1]}.0.1") tool_segments+=(1) ;;
esac
for i in "${!tool_ifaces[@]}"; do
    addr=${tool_ips[i]}
    [ "$topology/$i" != wifialias/0 ] || addr=$WIFI_TOOL
    attach "$TOOL_NS" "t$i" "$addr" "${tool_segments[i]}" "${tool_ifaces[i]}"
done
# The factory alias, on the interface that faces the new panel.
tool_aliases=()
alias_iface=
case "$topology" in
alias) alias_iface=0 ;;
wifialias) alias_iface=1 ;;
esac
if [ -n "$alias_iface" ]; then
    tool_aliases=("$FACTORY_TOOL")
    ip -n "$TOOL_NS" addr add "$FACTORY_TOOL" broadcast + dev "${tool_ifaces[alias_iface]}"
fi
# Copies of one broadcast per segment: one per subnet of each tool interface there (every
# address of an interface is in a subnet of its own here).
segment_routes=()
for s in "${!segment_ns[@]}"; do
    copies=0
    for i in "${!tool_ifaces[@]}"; do
        [ "${tool_segments[i]}" = "$s" ] || continue
        copies=$((copies + 1))
        [ "$i" != "$alias_iface" ] || copies=$((copies + ${#tool_aliases[@]}))
    done
    segment_routes+=("$copies")
done
# Without a default route 255.255.255.255 has no way out by the routing table.
[ -z "$route_segment" ] || ip -n "$TOOL_NS" route add default dev "${tool_ifaces[route_segment]}"

panel_ns=()
panel_ips=()
panel_segments=()
for ((p = 1; p <= panels; p++)); do
    segment=0
    [ "$topology" != twosegments ] || segment=$((p % 2))
    [ "$topology" != wifialias ] || segment=1
    ns=$TAG-p$p
    host=$((10 + p))
    ip_addr=${NETS[segment]}.$((host / 256)).$((host % 256))
    add_ns "$ns"
    if [ -n "$alias_iface" ] && [ "$p" -eq "$panels" ]; then
        ip_addr=${FACTORY_PANEL%/*}
        attach "$ns" "p$p" "$FACTORY_PANEL" "$segment"
        ip -n "$ns" route add default via "$FACTORY_GATEWAY" dev eth0
    else
        attach "$ns" "p$p" "$ip_addr" "$segment"
        ip -n "$ns" route add default dev eth0
    fi
    panel_ns+=("$ns")
    panel_ips+=("$ip_addr")
    panel_segments+=("$segment")
done
# A link just set up reports its carrier a moment later; the command starts once every end of
# every cable runs, as on a computer whose cable has been plugged in for a while.
not_running() {
    local ns
    for ns in "$TOOL_NS" "${panel_ns[@]}"; do
        if ip -n "$ns" -o link show | grep -v ': lo:' | grep -qv 'state UP'; then return 0; fi
    done
    return 1
}
for _ in $(seq 100); do
    not_running || break
    sleep 0.05
done

first_segment=${panel_segments[0]}
tool_ip=
prefix=${NETS[first_segment]}.0.0/$PREFIX_LEN
for i in "${!tool_ifaces[@]}"; do
    if [ "${tool_segments[i]}" = "$first_segment" ]; then
        tool_ip=${tool_ips[i]}
        break
    fi
done
if [ -n "$alias_iface" ] && [ "$panels" -eq 1 ]; then
    tool_ip=${FACTORY_TOOL%/*}
    prefix=${FACTORY_PANEL%.*/*}.0/${FACTORY_PANEL#*/}
fi

export TESTNET_SWITCH_NS=$SWITCH_NS
export TESTNET_TOOL_NS=$TOOL_NS
export TESTNET_PANEL_NS="${panel_ns[*]}"
export TESTNET_TOOL_IP=$tool_ip
export TESTNET_PANEL_IPS="${panel_ips[*]}"
export TESTNET_PREFIX=$prefix
export TESTNET_TOPOLOGY=$topology
export TESTNET_SEGMENT_NS="${segment_ns[*]}"
export TESTNET_PANEL_SEGMENTS="${panel_segments[*]}"
export TESTNET_TOOL_IFACES="${tool_ifaces[*]}"
export TESTNET_TOOL_IPS="${tool_ips[*]}"
export TESTNET_TOOL_SEGMENTS="${tool_segments[*]}"
tool_ports=()
for i in "${!tool_ifaces[@]}"; do tool_ports+=("t$i"); done
export TESTNET_TOOL_PORTS="${tool_ports[*]}"
export TESTNET_ROUTE_SEGMENT=$route_segment
export TESTNET_TOOL_ALIASES="${tool_aliases[*]}"
export TESTNET_SEGMENT_ROUTES="${segment_routes[*]}"

# The command runs in the background so that INT and TERM reach the trap at once instead of
# after the command ends.
ip netns exec "$TOOL_NS" "$@" <&0 &
child=$!
set +e
wait "$child"
rc=$?
set -e
child=
exit "$rc"
