#!/usr/bin/env bash
# Installs everything the tool needs to build, run and be tested (Debian 12 / bookworm).
# Idempotent and non-interactive: installs only what is missing, updates the package lists
# only when a missing package cannot be found in them.
set -euo pipefail

packages=(
    cmake g++ qt6-base-dev libx11-dev # build
    fonts-wqy-zenhei fonts-dejavu-core # the window's Chinese and Latin texts
    xvfb xdotool x11-utils # the real program on a virtual X server: windows, clicks
    x11-xserver-utils # xrdb: the desktop's Xft.dpi on that server
    librsvg2-bin # rsvg-convert: the packaged SVG icon must draw
    iproute2 procps util-linux # the private test network; setarch
    nftables # datagrams lost at random in the test network
    mawk binutils # awk in the test scripts; readelf on the packaged programs
    clang-14 libclang-rt-14-dev # sanitizer runtimes
    dpkg-dev file desktop-file-utils # the Debian package: its library dependencies (cpack runs file), its menu entry
    man-db # the packaged manual pages must render
    libcli11-dev nlohmann-json3-dev # callpanel: arguments, JSON
    g++-mingw-w64-x86-64-posix zip wine wine64 # callpanel.exe: cross-build, zip, tests under wine
)

installed() { [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]; }

missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all packages present"
    exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "setup: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
    as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive

# Package lists are missing in fresh containers; fetch them only then.
known() { apt-cache show "$1" >/dev/null 2>&1; }
for p in "${missing[@]}"; do
    if ! known "$p"; then
        "${as_root[@]}" apt-get update -q
        break
    fi
done

echo "setup: installing ${missing[*]}"
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
