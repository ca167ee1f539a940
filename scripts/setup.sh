#!/usr/bin/env bash
# Installs what the tool needs (Debian 12 / bookworm), one named list at a time:
#   scripts/setup.sh run       build and run the window and callpanel (scripts/run.sh)
#   scripts/setup.sh package   that, and the tools that make and judge the Debian package
#                              (docs/packaging.md; no test tool)
#   scripts/setup.sh windows   cross-build callpanel.exe, its zip and .msi (scripts/build-windows.sh)
#   scripts/setup.sh [test]    all of the above and every test tool (scripts/test.sh; the default)
# Idempotent and non-interactive: installs only what is missing, updates the package lists
# only when a missing package cannot be found in them.
set -euo pipefail

configure=(
    cmake make # make: cmake's generator; without recommends nothing else brings it
    libcli11-dev nlohmann-json3-dev # callpanel: arguments, JSON (header-only, for both systems)
)
run=(
    "${configure[@]}"
    libcpp-httplib-dev pkgconf # callpanel ui: the page's HTTP server (cpp-httplib)
    libqrencode-dev # callpanel ui: the QR code of the view-only page's address
    g++ qt6-base-dev # the window (Qt 6 Widgets, with the X11 and Wayland platform plugins)
    fonts-wqy-zenhei fonts-dejavu-core # the window's Chinese and Latin texts
    iproute2 # ip: the README's stand-in demo makes its private network of namespaces with it
)
package=(
    "${run[@]}"
    dpkg-dev file # cpack: the package's library dependencies (dpkg-shlibdeps; cpack runs file)
    lintian # the Debian package as Debian judges it
)
windows=(
    "${configure[@]}"
    g++-mingw-w64-x86-64-posix zip unzip # callpanel.exe: cross-build, the zip and its check
    wixl msitools # the installer (.msi): wixl builds it, msiinfo and msiextract check it
    # callpanel.exe's HTTP server: the single header of the same version's source package
    # (fetched below; the binary package splits it), unpacked with its patches by dpkg-source
    libcpp-httplib-dev dpkg-dev xz-utils
)
test=(
    "${package[@]}" "${windows[@]}"
    libx11-dev # the tests' X11 helpers: close and grab a window
    xvfb xdotool x11-utils # the real program on a virtual X server: windows, clicks
    x11-xserver-utils # xrdb: the desktop's Xft.dpi on that server
    librsvg2-bin # rsvg-convert: the packaged SVG icon must draw
    procps util-linux # setarch; setpriv in the benchmark (ip, from iproute2, is in run)
    nftables # datagrams lost at random in the test network
    mawk binutils # awk in the test scripts; readelf on the packaged programs
    clang-14 libclang-rt-14-dev # sanitizer runtimes
    desktop-file-utils # the Debian package's menu entry
    man-db # the packaged manual pages must render
    wine wine64 # callpanel.exe under wine
    chromium # the HTML report, printed to PDF headless and offline
    chromium-driver python3 # callpanel ui's page driven in Chromium through WebDriver (JSON over HTTP)
    firefox-esr # callpanel ui's page in Firefox, as a headless screenshot (Debian has no driver for it)
    curl # callpanel ui's server spoken to as a browser and as an attacker would
    poppler-utils # pdftotext: the report's printed text
)

list=${1:-test}
case $list in
run) packages=("${run[@]}") ;;
package) packages=("${package[@]}") ;;
windows) packages=("${windows[@]}") ;;
test) packages=("${test[@]}") ;;
*)
    echo "usage: $0 [run|package|windows|test]" >&2
    exit 2
    ;;
esac

installed() { [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]; }

missing=()
cd "$(dirname "$0")/.."
for p in "${packages[@]}"; do
    installed "$p" || [[ " ${missing[*]} " == *" $p "* ]] || missing+=("$p")
done
install_missing() {
    if [ ${#missing[@]} -eq 0 ]; then
        echo "setup: all packages present (${list})"
        return
    fi
    echo "setup: installing ${missing[*]}"
    "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# cpp-httplib's single header for the Windows build, from Debian's source package of the version
# installed: Debian's binary package splits it into a header and a library for Linux. A deb-src
# source is added for this one fetch only, in a folder of its own; the machine's apt sources are
# left as they are.
fetch_httplib_header() {
    local dir tmp version
    dir=$(scripts/httplib-dir.sh)
    [ -f "$dir/httplib.h" ] && return
    version=$(dpkg-query -W -f='${Version}' libcpp-httplib-dev)
    tmp=$(mktemp -d)
    local apt=(-o "Dir::Etc::SourceList=$tmp/sources.list" -o Dir::Etc::SourceParts=/dev/null
        -o "Dir::State::Lists=$tmp/lists" -o "Dir::Cache=$tmp/cache")
    [ "$(id -u)" -ne 0 ] || apt+=(-o APT::Sandbox::User=root)
    mkdir -p "$tmp/lists/partial" "$tmp/cache/archives/partial"
    local keyring=/usr/share/keyrings/debian-archive-keyring.gpg suite
    for suite in "debian bookworm" "debian bookworm-updates" "debian-security bookworm-security"; do
        echo "deb-src [signed-by=$keyring] http://deb.debian.org/${suite% *} ${suite#* } main"
    done >"$tmp/sources.list"
    echo "setup: fetching the source of cpp-httplib $version for the Windows build"
    (cd "$tmp" && apt-get -q "${apt[@]}" update >/dev/null &&
        apt-get -q "${apt[@]}" source --download-only "cpp-httplib=$version" >/dev/null &&
        dpkg-source -x ./*.dsc src >/dev/null 2>&1) ||
        { echo "setup: cannot fetch the source of cpp-httplib $version" >&2; rm -rf "$tmp"; exit 1; }
    mkdir -p "$dir"
    cp "$tmp/src/httplib.h" "$tmp/src/LICENSE" "$dir/"
    rm -rf "$tmp"
}

as_root=()
if [ ${#missing[@]} -ne 0 ] && [ "$(id -u)" -ne 0 ]; then
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
install_missing
case $list in windows | test) fetch_httplib_header ;; esac
