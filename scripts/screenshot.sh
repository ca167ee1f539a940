#!/usr/bin/env bash
# Takes docs/window.png: the freshly started window on a private Xvfb display. The program runs
# inside the private test network (tools/testnet.sh, needs root), never on the machine's own.
#   scripts/screenshot.sh [wine]
# With "wine": docs/window-wine.png, callpanel-tool.exe under wine after a search, a write and a
# card deletion against two stand-ins (the wine test takes it on its way).
set -euo pipefail
# shellcheck source=SCRIPTDIR/../tests/lib/x11.sh
. "$(dirname "$0")/../tests/lib/x11.sh"
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build
tool=$build/app/callpanel-tool
xclose=$build/tests/app/app-xclose
xgrab=$build/tests/app/app-xgrab
readonly TITLE='^Call Panel settings Tool V1\.4$'
# The helpers below are test targets: the tests are configured in explicitly each time, as
# scripts/run.sh leaves them out of the same build folder.

if [ "${1:-}" = wine ]; then
    scripts/build-windows.sh "$root/build-windows"
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON -DSANITIZE= >/dev/null
    cmake --build "$build" -j2 --target callpanel-standin app-hold-port app-xclose app-xgrab
    mkdir -p "$root/docs"
    exec tools/testnet.sh --panels 2 -- tests/app/wine_tool_test.sh \
        "$root/build-windows/app/win32/callpanel-tool.exe" "$build/tools/callpanel-standin" \
        "$build/tests/app/app-hold-port" "$xclose" "$root/docs/window-wine.png" "$xgrab"
fi

if [ "${1:-}" != --inside ]; then
    scripts/setup.sh test
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON -DSANITIZE= >/dev/null
    cmake --build "$build" -j2 --target callpanel-tool app-xclose app-xgrab
    exec tools/testnet.sh --panels 1 -- "$0" --inside
fi

# From here on the script runs inside the tool's namespace.
begin_work
start_xvfb 96 || { echo "Xvfb did not start" >&2; exit 1; }

"$tool" >"$work/tool.out" 2>&1 &
tool_pid=$!
track "$tool_pid"
win=$(find_window "$TITLE") || true
[ -n "$win" ] || { echo "the window did not appear" >&2; cat "$work/tool.out" >&2; exit 1; }
sleep 1 # let it finish painting

mkdir -p "$root/docs"
size=$("$xgrab" "$win" "$root/docs/window.png")
echo "wrote docs/window.png ($size)"

"$xclose" "$win"
wait_exit "$tool_pid" 20 || echo "the program did not end when its window was closed" >&2
