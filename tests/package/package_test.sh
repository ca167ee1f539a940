#!/usr/bin/env bash
# Builds the Debian package of a build tree, unpacks it into a scratch root and runs the
# programs from there:
#   package_test.sh BUILD_DIR VERSION XCLOSE STANDIN
# The package must pass lintian without an error or a warning, hold exactly the two programs,
# their manual pages, callpanel's bash completion (which must complete with the packaged
# program), the menu entries of the window and of the commissioning page (both valid for
# desktop-file-validate), the icons, the HTML documentation, the receive buffer limit and the
# Debian documents, name the fonts the window needs, and its program must open its window on a
# private Xvfb display, find the build tree's stand-in panel with "Search all", and end with
# exit code 0 when the window is closed; without a usable display it must say so and exit 1.
# The packaged callpanel must find the stand-in too, and the postinst is run against stand-ins
# for the system's tools.
# Nothing is installed into the system. Run it inside tools/testnet.sh: the program and the
# stand-in open UDP port 8300 and the search is a broadcast.
set -euo pipefail

# shellcheck source=SCRIPTDIR/../lib/x11.sh
. "$(dirname "$0")/../lib/x11.sh"

[ $# -eq 4 ] || { echo "usage: $0 BUILD_DIR VERSION XCLOSE STANDIN" >&2; exit 2; }
build=$1 version=$2 xclose=$3 standin=$4
readonly TITLE='^Call Panel settings Tool V1\.4$'
readonly BOX='^Error$'
readonly WAIT=60 # seconds
# "Search all" in window coordinates: its left, top and size are 384, 296 and 81 x 25.
readonly SEARCH_X=424 SEARCH_Y=308

[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root for the private test network" >&2; exit 77; }
# The program broadcasts: refuse to start it in the machine's own network.
{ [ -n "${TESTNET_TOOL_NS:-}" ] && [ -n "${TESTNET_PANEL_NS:-}" ]; } ||
    fail "not inside tools/testnet.sh"
[ "$(readlink /proc/self/ns/net)" != "$(readlink /proc/1/ns/net)" ] ||
    fail "still in the machine's own network namespace"
need_commands cpack dpkg dpkg-deb lintian Xvfb xdotool rsvg-convert od readelf ldd ip man unshare mount
[ -f "$build/CPackConfig.cmake" ] || fail "$build holds no CPackConfig.cmake"

begin_work
show_on_failure cpack.log lintian.out tool.out standin.out cli.out xvfb.log

# --- The package. cpack first brings the tree up to date (its preinstall step), which costs
# nothing after the build that precedes ctest.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    fail "cpack failed"
shopt -s nullglob
debs=("$work"/out/*.deb)
shopt -u nullglob
[ ${#debs[@]} -eq 1 ] || fail "expected one .deb, cpack made ${#debs[@]}"
deb=${debs[0]}
echo "package $(basename "$deb")"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = callpanel-tool ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version-1" ] || fail "Version: $(field Version), expected $version-1"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] ||
    fail "Architecture: $(field Architecture)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
depends=$(field Depends)
echo "Depends: $depends"
[ "$(field Recommends)" = "qt6-wayland, xdg-utils" ] || fail "Recommends: $(field Recommends)"
for dep in fonts-wqy-zenhei fonts-dejavu-core libqt6widgets6 libqt6gui6 libqt6core6 libc6; do
    [[ ", $depends," == *", $dep"[\ ,]* ]] || fail "Depends lacks $dep"
done
# callpanel ui's HTTP server is Debian's cpp-httplib library.
[[ $depends == *libcpp-httplib* ]] || fail "Depends lacks cpp-httplib's library"

# Exactly these files: no test, library or header may come along.
expected=$(printf '%s\n' \
    ./usr/bin/callpanel \
    ./usr/bin/callpanel-tool \
    ./usr/lib/sysctl.d/60-callpanel-tool.conf \
    ./usr/share/applications/callpanel-tool.desktop \
    ./usr/share/applications/callpanel-commissioning.desktop \
    ./usr/share/bash-completion/completions/callpanel \
    ./usr/share/callpanel-tool/docs/{index,user-guide,windows,callpanel,commissioning}.html \
    ./usr/share/callpanel-tool/docs/{deliberate-changes.html,style.css} \
    ./usr/share/callpanel-tool/docs/{report,window-panels,window-wine,ui-site,ui-assign,ui-check}.png \
    ./usr/share/doc/callpanel-tool/changelog.Debian.gz \
    ./usr/share/doc/callpanel-tool/copyright \
    ./usr/share/icons/hicolor/48x48/apps/callpanel-tool.png \
    ./usr/share/icons/hicolor/scalable/apps/callpanel-tool.svg \
    ./usr/share/man/man1/callpanel-tool.1.gz \
    ./usr/share/man/man1/callpanel.1.gz \
    ./usr/share/lintian/overrides/callpanel-tool | sort)
actual=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
[ "$actual" = "$expected" ] || fail "package contents differ:
$(diff <(echo "$expected") <(echo "$actual") || true)"
bad_owner=$(dpkg-deb --contents "$deb" | awk '$2 != "root/root" {print $6}')
[ -z "$bad_owner" ] || fail "files not owned by root: $bad_owner"

# Debian's own judgement, at its default level (errors and warnings); as root it only says that
# it would rather not run as root.
lintian --no-tag-display-limit "$deb" >"$work/lintian.out" 2>&1 || true
grep -v 'running with root privileges' "$work/lintian.out" | grep -E '^[EW]: ' &&
    fail "lintian reports errors or warnings"
echo "lintian: no error, no warning"

# --- Unpacked into a scratch root, never into the system.
root=$work/root
dpkg -x "$deb" "$root"
bin=$root/usr/bin
for program in callpanel-tool callpanel; do
    [ -x "$bin/$program" ] || fail "$program is not executable"
    # The installed programs must not reach back into the build tree.
    if readelf -d "$bin/$program" | grep -E 'RPATH|RUNPATH' | grep -qF "$build"; then
        fail "$program carries a path into the build tree"
    fi
    ! ldd "$bin/$program" | grep -q 'not found' || fail "$program: $(ldd "$bin/$program" | grep 'not found')"
done

# The manual pages, as `man callpanel` shows them once installed: no formatting warning.
for page in callpanel callpanel-tool; do
    file=$root/usr/share/man/man1/$page.1.gz
    warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >"$work/$page.txt") ||
        fail "man $page failed: $warnings"
    [ -z "$warnings" ] || fail "man $page: $warnings"
    grep -q "^NAME" "$work/$page.txt" && grep -Eq "^ *$page +- " "$work/$page.txt" ||
        fail "man $page: no NAME section naming $page"
done
echo "manual pages: callpanel(1), callpanel-tool(1)"

# The bash completion, as bash-completion loads it, completes with the packaged program: its
# commands, a command's options and, where a command takes a plan, CSV files.
completion=$root/usr/share/bash-completion/completions/callpanel
mkdir "$work/plans" && touch "$work/plans/site.csv" "$work/plans/notes.txt"
# shellcheck disable=SC2016 # expanded by the bash that sources the completion
completed=$(cd "$work/plans" && PATH=$bin:$PATH bash -c '
    source "$1" && complete -p callpanel || exit 1
    complete_words() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _callpanel; echo "${COMPREPLY[*]}"; }
    complete_words callpanel a
    complete_words callpanel check --ig
    complete_words callpanel apply ""' bash "$completion") || fail "the completion cannot be loaded"
expected_completion=$(printf '%s\n' "complete -o filenames -F _callpanel callpanel" "apply assign" \
    --ignore-extra site.csv)
[ "$completed" = "$expected_completion" ] || fail "completion: '$completed', expected '$expected_completion'"
echo "bash completion: commands, options and plan files"

# The menu entries: the window, and the commissioning page in the browser (xdg-open, which the
# package recommends, with a packaged page), or a packaged program that opens it.
if ! command -v desktop-file-validate >/dev/null; then
    echo "desktop-file-validate not installed: only the keys are checked"
fi
icons=()
while IFS='|' read -r entry name; do
    desktop=$root/usr/share/applications/$entry.desktop
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$desktop" | grep -v ': hint: ' || true
        desktop-file-validate "$desktop" >/dev/null || fail "desktop-file-validate rejects $entry.desktop"
    fi
    key() { sed -n "s/^$1=//p" "$desktop"; }
    [ "$(key Name)" = "$name" ] || fail "$entry: Name=$(key Name)"
    [ "$(key Type)" = Application ] || fail "$entry: Type=$(key Type)"
    # One main category, or a menu may list the entry twice.
    [ "$(key Categories)" = "Network;" ] || fail "$entry: Categories=$(key Categories)"
    read -r -a exec_line <<<"$(key Exec)"
    if [ "${exec_line[0]}" = xdg-open ]; then
        [ "${#exec_line[@]}" -eq 2 ] && [ -f "$root${exec_line[1]}" ] ||
            fail "$entry: Exec=$(key Exec) opens no packaged file"
    else
        [ -x "$bin/${exec_line[0]}" ] || fail "$entry: Exec=${exec_line[0]} is not a packaged program"
    fi
    icons+=("$(key Icon)")
    echo "$entry.desktop: \"$name\", Exec=$(key Exec)"
done <<EOF
callpanel-tool|Call Panel settings Tool
callpanel-commissioning|Call Panel commissioning
EOF
[ "${icons[0]}" = "${icons[1]}" ] || fail "the menu entries have different icons: ${icons[*]}"
icon=${icons[0]}
svg=$root/usr/share/icons/hicolor/scalable/apps/$icon.svg
png=$root/usr/share/icons/hicolor/48x48/apps/$icon.png
{ [ -f "$svg" ] && [ -f "$png" ]; } || fail "Icon=$icon has no packaged icon"
# "PNG WxH" from the file's signature and its IHDR chunk, or "not PNG".
png_size() {
    local b
    read -r -a b <<<"$(od -An -tu1 -N24 -v "$1" | tr '\n' ' ')"
    if [ "${#b[@]}" -ne 24 ] || [ "${b[*]:0:8}" != "137 80 78 71 13 10 26 10" ] ||
        [ "${b[*]:12:4}" != "73 72 68 82" ]; then
        echo "not PNG"
        return
    fi
    echo "PNG $(((b[16] << 24) | (b[17] << 16) | (b[18] << 8) | b[19]))x$(((b[20] << 24) | (b[21] << 16) | (b[22] << 8) | b[23]))"
}
# The scalable icon must draw: rendered at the menu's 48 pixels.
rsvg-convert --width 48 --height 48 --format png --output "$work/icon-from-svg.png" "$svg" ||
    fail "$icon.svg does not render"
[ "$(png_size "$work/icon-from-svg.png")" = "PNG 48x48" ] ||
    fail "$icon.svg rendered as $(png_size "$work/icon-from-svg.png"), expected PNG 48x48"
[ "$(png_size "$png")" = "PNG 48x48" ] || fail "$icon.png: $(png_size "$png"), expected PNG 48x48"

# The receive buffer limit: at least 4 MiB at every boot, and the postinst applies that file.
limit=$(sed -n 's/^net\.core\.rmem_max *= *//p' "$root/usr/lib/sysctl.d/60-callpanel-tool.conf")
[ "${limit:-0}" -ge 4194304 ] || fail "sysctl.d sets net.core.rmem_max to '$limit'"

# The postinst, run in a mount namespace of its own over stand-ins for ischroot, sysctl,
# systemd-sysctl, the sysctl.d folders and the kernel's value, so that the machine's limit is
# never touched. It must go through the system's tools by the file's name (so that an override
# or a mask in /etc counts), skip a chroot and a larger value, and never write /proc itself.
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst >"$work/postinst"
chmod +x "$work/postinst"
postinst_case() { # CHROOT_EXIT CURRENT SYSTEMD(yes|no) ETC(none|file|mask): prints the calls
    local d=$work/pi
    rm -rf "$d" && mkdir -p "$d/bin" "$d/systemd" "$d/etc" "$d/lib"
    printf '#!/bin/sh\nexit %s\n' "$1" >"$d/bin/ischroot"
    printf '#!/bin/sh\necho "sysctl $*" >>%s/calls\n' "$d" >"$d/bin/sysctl"
    [ "$3" = no ] || printf '#!/bin/sh\necho "systemd-sysctl $*" >>%s/calls\n' "$d" >"$d/systemd/systemd-sysctl"
    chmod +x "$d"/bin/* "$d"/systemd/* 2>/dev/null || true
    cp "$root/usr/lib/sysctl.d/60-callpanel-tool.conf" "$d/lib/"
    case $4 in
    file) echo 'net.core.rmem_max = 8388608' >"$d/etc/60-callpanel-tool.conf" ;;
    mask) ln -s /dev/null "$d/etc/60-callpanel-tool.conf" ;;
    esac
    echo "$2" >"$d/rmem_max"
    touch "$d/calls"
    # shellcheck disable=SC2016 # expanded by the shell inside the namespace
    unshare --mount --propagation private sh -ec '
        d=$1
        mount --bind "$d/systemd" /usr/lib/systemd
        mount --bind "$d/etc" /etc/sysctl.d
        mount --bind "$d/lib" /usr/lib/sysctl.d
        mount --bind "$d/rmem_max" /proc/sys/net/core/rmem_max
        [ "$(cat /proc/sys/net/core/rmem_max)" = "$(cat "$d/rmem_max")" ]
        PATH=$d/bin:/usr/bin:/bin "$2" configure' sh "$d" "$work/postinst" ||
        fail "postinst case $*: exit $?"
    [ "$(cat "$d/rmem_max")" = "$2" ] || fail "postinst case $*: wrote the kernel's value itself"
    tr '\n' ';' <"$d/calls"
}
conf_name=60-callpanel-tool.conf
while IFS='|' read -r chroot current systemd etc expected; do
    got=$(postinst_case "$chroot" "$current" "$systemd" "$etc")
    [ "$got" = "$expected" ] ||
        fail "postinst (ischroot $chroot, rmem_max $current, systemd-sysctl $systemd, /etc $etc): '$got', expected '$expected'"
done <<EOF
0|212992|yes|none|
2|212992|yes|none|
1|212992|yes|none|systemd-sysctl $conf_name;
1|212992|yes|mask|systemd-sysctl $conf_name;
1|8388608|yes|none|
1|4194304|no|none|
1|212992|no|none|sysctl -q -p /usr/lib/sysctl.d/$conf_name;
1|212992|no|file|sysctl -q -p /etc/sysctl.d/$conf_name;
1|212992|no|mask|
EOF
echo "postinst: applies the limit through the system's tools, honours /etc, skips a chroot"

# --- The packaged programs running: a stand-in panel in one panel namespace, the tool here.
panel_ns=${TESTNET_PANEL_NS%% *}
# `ip netns exec` becomes the stand-in, so $! is the stand-in's own pid.
ip netns exec "$panel_ns" "$standin" >"$work/standin.out" 2>&1 &
track "$!"

wait_for 20 grep -qs '^ready' "$work/standin.out" || fail "the stand-in did not start"
(cd "$work" && PATH=$bin:/usr/bin:/bin exec callpanel search --format csv) >"$work/cli.out" 2>&1 ||
    fail "the packaged callpanel found no panel"
[ "$(grep -c '^00:50:2A:' "$work/cli.out")" -eq 1 ] || fail "callpanel did not list the stand-in once"
echo "callpanel: $(tail -n1 "$work/cli.out")"

# No usable desktop: a line that says so, exit 1, never Qt's abort. A Wayland socket that is not
# there (with or without the wayland platform installed) and an X display without a server.
mkdir -m 700 "$work/xdg"
no_x=4242
while [ -e "/tmp/.X11-unix/X$no_x" ]; do no_x=$((no_x + 1)); done
while IFS='|' read -r display wayland platform expected; do
    rc=0
    (cd "$work" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        XDG_RUNTIME_DIR="$work/xdg" ${display:+DISPLAY=$display} ${wayland:+WAYLAND_DISPLAY=$wayland} \
        ${platform:+QT_QPA_PLATFORM=$platform} "$bin/callpanel-tool") >"$work/nodisplay.out" 2>&1 ||
        rc=$?
    [ "$rc" -eq 1 ] && grep -q "$expected" "$work/nodisplay.out" ||
        fail "DISPLAY '$display' WAYLAND_DISPLAY '$wayland' QT_QPA_PLATFORM '$platform': exit $rc, $(cat "$work/nodisplay.out")"
    echo "DISPLAY '$display' WAYLAND_DISPLAY '$wayland': $(grep "$expected" "$work/nodisplay.out")"
done <<EOF
|||needs a graphical desktop
|wayland-callpanel-none||no usable display.*install the package qt6-wayland
:$no_x|||no usable display.*DISPLAY :$no_x
:$no_x|wayland-callpanel-none||no usable display
|wayland-callpanel-none|xcb|no usable display
EOF

start_xvfb 96 || fail "Xvfb did not start"

# From the scratch root's bin with a PATH that holds nothing of the build tree.
(cd "$work" && PATH=$bin:/usr/bin:/bin exec callpanel-tool) >"$work/tool.out" 2>&1 &
tool_pid=$!
track "$tool_pid"

win=$(find_window "$TITLE") || true
[ -n "$win" ] || fail "the window \"Call Panel settings Tool V1.4\" did not appear"
! has_window "$BOX" || fail "an error box appeared"
echo "window $win of the installed program"
[ "$(readlink "/proc/$tool_pid/exe")" = "$bin/callpanel-tool" ] ||
    fail "the running program is $(readlink "/proc/$tool_pid/exe")"

# Searches beyond those callpanel sent come from the window.
cli_searches=$(grep -c '^search from ' "$work/standin.out" || true)
searched() { [ "$(grep -c '^search from ' "$work/standin.out")" -gt "$cli_searches" ]; }
for _ in 1 2 3; do # the first click may come before the window takes input
    xdotool mousemove --window "$win" "$SEARCH_X" "$SEARCH_Y" click 1
    wait_for 5 searched && break
done
searched || fail "the stand-in panel saw no search"
echo "stand-in: $(grep '^search from ' "$work/standin.out" | tail -n1)"

"$xclose" "$win" || fail "could not ask the window to close"
wait_exit "$tool_pid" 30 || fail "the program did not end when its window was closed"
[ "$exit_code" -eq 0 ] || fail "exit code $exit_code, expected 0"
echo "exit code 0"
