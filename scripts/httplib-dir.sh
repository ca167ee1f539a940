#!/usr/bin/env bash
# Prints the folder that holds cpp-httplib's single header for the Windows build: the version of
# Debian's libcpp-httplib-dev installed here, from Debian's source package (scripts/setup.sh
# windows fetches it there). The Linux build uses the binary package itself.
set -euo pipefail
version=$(dpkg-query -W -f='${Version}' libcpp-httplib-dev 2>/dev/null) ||
    { echo "httplib-dir: libcpp-httplib-dev is not installed (scripts/setup.sh windows)" >&2; exit 1; }
echo "${CALLPANEL_DEPS_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/callpanel}/cpp-httplib-$version"
