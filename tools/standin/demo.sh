#!/usr/bin/env bash
# Demo of the tool against stand-in call panels, all inside the private test network:
#
#   sudo --preserve-env=DISPLAY,XAUTHORITY tools/standin/demo.sh [BUILD_DIR] [NAMESPACES] [stand-in options...]
#
# BUILD_DIR (default: build) must hold callpanel-tool and callpanel-standin. One stand-in runs in
# each of NAMESPACES (default 3) panel namespaces with the given options (see README.md), the tool
# in the tool namespace: on the display when DISPLAY is set, offscreen otherwise. Closing the
# window, or Ctrl+C, ends the demo and takes the network down.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if [ "${1:-}" = --inside ]; then
    # Running in the tool namespace, started by testnet.sh below.
    shift
    tool=$1
    standin=$2
    shift 2
    pids=()
    # shellcheck disable=SC2317 # called by the trap
    stop_standins() {
        local pid
        for pid in "${pids[@]}"; do
            kill -TERM "$pid" 2>/dev/null || true
        done
        wait 2>/dev/null || true
    }
    trap stop_standins EXIT
    # Several panels per namespace would count up into the next namespace's addresses (and
    # identities): give namespace k the range a.b.k.11 and up; the user's own --ip still wins.
    base=()
    case " $* " in
    *" --panels"*) base=(--base-ip) ;;
    esac
    net=${TESTNET_PREFIX%.*.*}
    k=0
    for ns in $TESTNET_PANEL_NS; do
        k=$((k + 1))
        first=()
        [ ${#base[@]} -eq 0 ] || first=(--base-ip "$net.$k.11")
        # `ip netns exec` becomes the stand-in, so $! is the stand-in's own pid.
        ip netns exec "$ns" "$standin" "${first[@]}" "$@" > >(sed -u "s/^/[${ns##*-}] /") 2>&1 &
        pids+=("$!")
    done
    sleep 0.5
    if [ -n "${DISPLAY:-}" ]; then
        export QT_QPA_PLATFORM=xcb
    else
        echo "DISPLAY is not set: the window runs offscreen; Ctrl+C ends the demo" >&2
        export QT_QPA_PLATFORM=offscreen
    fi
    echo "tool at $TESTNET_TOOL_IP, panels at $TESTNET_PANEL_IPS; press \"Search all\""
    "$tool" || true
    exit 0
fi

build=$root/build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
    build=$1
    shift
fi
namespaces=3
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
    namespaces=$1
    shift
fi
build=$(cd "$build" && pwd)
tool=$build/app/callpanel-tool
standin=$build/tools/callpanel-standin
for program in "$tool" "$standin"; do
    if [ ! -x "$program" ]; then
        echo "$0: $program is missing; build the targets callpanel-tool and callpanel-standin" >&2
        exit 2
    fi
done

exec "$root/tools/testnet.sh" --panels "$namespaces" -- "$here/demo.sh" --inside "$tool" \
    "$standin" "$@"
