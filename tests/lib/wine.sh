# Shared by the scripts that run the Windows programs under wine. Sourced after x11.sh, whose
# begin_work must have run:
#   . "$(dirname "$0")/../lib/wine.sh"
# shellcheck shell=bash
# shellcheck disable=SC2154 # $work comes from x11.sh's begin_work

# Ends the script with 77 (skipped) unless wine is installed and every named file exists.
need_wine() {
    local exe
    if ! command -v wine >/dev/null || ! command -v wineserver >/dev/null; then
        echo "SKIP: wine is not installed (scripts/setup.sh)" >&2
        exit 77
    fi
    for exe in "$@"; do
        [ -f "$exe" ] || { echo "SKIP: $exe is not built (scripts/build-windows.sh)" >&2; exit 77; }
    done
}

# start_wine: a fresh prefix in $work/wine with a wine server of its own, started here (in this
# network namespace, where wine makes the sockets) and ended by its pid with the script.
start_wine() {
    # TMPDIR is the scratch folder, because wine keeps its server socket there and the socket
    # then goes with the folder. The menu builder is turned off, because it would copy the
    # prefix's Start-menu entries into the machine's own menus.
    export WINEPREFIX=$work/wine TMPDIR=$work WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    mkdir "$WINEPREFIX"
    # The server runs persistent and in the foreground, so that it stays this script's child
    # and is ended by its pid.
    wineserver -f -p &
    track "$!"
    local t0=$SECONDS
    if ! wine wineboot --init >"$work/wineboot" 2>&1; then
        cat "$work/wineboot" >&2
        echo "wine: wineboot failed once, once more" >&2
        wine wineboot --init >"$work/wineboot" 2>&1 ||
            { cat "$work/wineboot" >&2; fail "wine could not make its prefix"; }
    fi
    echo "wine: prefix ready in $((SECONDS - t0)) s"
}

# wine_registry FILE: merges a .reg text (UTF-8, "Windows Registry Editor Version 5.00") into
# the prefix; regedit reads such a file in UTF-16 whatever the locale, so Chinese names pass.
wine_registry() {
    { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$1"; } >"$work/import.reg"
    wine regedit /S 'Z:'"${work//\//\\}"'\import.reg' >/dev/null 2>&1 ||
        fail "wine could not import $1"
}
