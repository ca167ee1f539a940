#!/usr/bin/env bash
# Takes docs/window.png: the freshly started window on a private Xvfb display. The program runs
# inside the private test network (tools/testnet.sh, needs root), never on the machine's own.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build
tool=$build/app/callpanel-tool
xclose=$build/tests/app/app-xclose
readonly TITLE='^Call Panel settings Tool V1\.4$'

if [ "${1:-}" != --inside ]; then
    scripts/setup.sh
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j2 --target callpanel-tool app-xclose
    exec tools/testnet.sh --panels 1 -- "$0" --inside
fi

# From here on: inside the tool's namespace.
work=$(mktemp -d)
pids=()
cleanup() {
    local rc=$? pid
    set +e
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$work"
    exit "$rc"
}
trap cleanup EXIT

wait_for() {
    local i
    for ((i = 0; i < $1 * 10; i++)); do
        "${@:2}" && return 0
        sleep 0.1
    done
    return 1
}

# -displayfd: the server takes the first free display and says which.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp -noreset 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for 20 test -s "$work/display" || { echo "Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY QT_QPA_PLATFORM=xcb

"$tool" >"$work/tool.out" 2>&1 &
tool_pid=$!
pids+=("$tool_pid")
win=$(timeout 60 xdotool search --sync --onlyvisible --name "$TITLE" | head -n1) || true
[ -n "$win" ] || { echo "the window did not appear" >&2; cat "$work/tool.out" >&2; exit 1; }
sleep 1 # let it finish painting

mkdir -p "$root/docs"
import -window "$win" "$root/docs/window.png"
echo "wrote docs/window.png ($(identify -format '%wx%h' "$root/docs/window.png"))"

"$xclose" "$win"
stopped() { ! kill -0 "$tool_pid" 2>/dev/null; }
wait_for 20 stopped || echo "the program did not end when its window was closed" >&2
