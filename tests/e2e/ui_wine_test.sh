#!/usr/bin/env bash
# callpanel.exe ui under wine, driven in headless Chromium by the same test as callpanel ui:
#   ui_wine_test.sh CALLPANEL_EXE STANDIN
# Run inside tools/testnet.sh --panels 3, with a fresh wine prefix and wine server of its own in
# the tool namespace, where wine makes the sockets.
set -euo pipefail

# shellcheck source=SCRIPTDIR/../lib/x11.sh
. "$(dirname "$0")/../lib/x11.sh"
# shellcheck source=SCRIPTDIR/../lib/wine.sh
. "$(dirname "$0")/../lib/wine.sh"

[ $# -eq 2 ] || { echo "usage: $0 CALLPANEL_EXE STANDIN" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root for the private test network" >&2; exit 77; }
[ -n "${TESTNET_TOOL_NS:-}" ] || fail "not inside tools/testnet.sh"
begin_work
need_wine "$1"
start_wine
UI_LAUNCHER=wine "$(dirname "$0")/ui_browser_test.py" "$1" "$2"
