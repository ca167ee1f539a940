#!/usr/bin/env bash
# The Windows installer under wine, in a fresh prefix, as a user installs, upgrades and removes it:
#   msi_wine_test.sh MSI VERSION
# MSI is scripts/build-windows.sh's callpanel-VERSION-x64.msi, beside the folder it was built
# from. In order:
#  - on Windows 7 it is refused; on Windows 8.1 msiexec /i /qn installs exactly that folder's
#    files into Program Files\Call Panel settings Tool, the three Start-menu entries with their
#    targets, and one product of VERSION; callpanel.exe --version runs from there, and so does
#    the command line's entry;
#  - the same installer once more changes nothing;
#  - an installer of the next version, built from the same folder with its README naming that
#    version and one picture fewer, replaces the older product: one product, the newer files;
#  - the older installer over the newer one is refused and changes nothing;
#  - msiexec /x removes every installed file and entry, and leaves the user's undo plans, a site
#    in Documents and a site saved into the install folder.
# Run inside tools/testnet.sh, like every wine test: nothing here sends, but wine makes sockets.
set -euo pipefail

# shellcheck source=SCRIPTDIR/../lib/x11.sh
. "$(dirname "$0")/../lib/x11.sh"
# shellcheck source=SCRIPTDIR/../lib/wine.sh
. "$(dirname "$0")/../lib/wine.sh"

[ $# -eq 2 ] || { echo "usage: $0 MSI VERSION" >&2; exit 2; }
msi=$(realpath -m "$1") version=$2
msi_sh=$(cd "$(dirname "$0")/../../packaging/windows" && pwd)/msi.sh
readonly PRODUCT='Call Panel settings Tool'
readonly UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
readonly STEP=120 # seconds for one msiexec or program run

[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root for the private test network" >&2; exit 77; }
[ -n "${TESTNET_TOOL_NS:-}" ] || fail "not inside tools/testnet.sh"
folder=$(dirname "$msi")/callpanel-$version-windows-x64
need_wine "$msi" "$folder/README.txt"
need_commands wixl wixl-heat winepath sha1sum

begin_work
show_on_failure msiexec.out
start_wine

# win COMMAND...: runs a Windows program in the prefix, bounded in time; its output (CR removed)
# on stdout, and its exit code.
win() {
    local rc=0
    timeout "$STEP" wine "$@" >"$work/win.out" 2>&1 || rc=$?
    tr -d '\r' <"$work/win.out"
    return "$rc"
}
unix() { winepath -u "$1" 2>/dev/null; }
msiexec() { # OPTION MSI: msiexec OPTION on a Linux path, /qn; its log in $work/msiexec.out
    local rc=0
    timeout "$STEP" wine msiexec "$1" "$(winepath -w "$2")" /qn >"$work/msiexec.out" 2>&1 || rc=$?
    return "$rc"
}
shell_folder() { unix "$(win cmd /c echo "%$1%")"; }
install_dir=$(unix 'C:\Program Files')/$PRODUCT
documents=$(shell_folder USERPROFILE)/Documents
local_data=$(shell_folder LOCALAPPDATA)
# Windows puts a per-machine installer's entries into the Start menu of all users; wine 8 puts
# them into the installing user's. Either is where a user finds them.
menus=("$(shell_folder ProgramData)/Microsoft/Windows/Start Menu/Programs"
    "$(shell_folder APPDATA)/Microsoft/Windows/Start Menu/Programs")
entries=('Call Panel settings Tool' 'Call Panel commissioning' 'Call Panel command line')

# The installed products named PRODUCT, one "ProductCode version" a line.
products() {
    win reg query "$UNINSTALL" /s | awk -v name="$PRODUCT" '
        /^HKEY_/ { n = split($0, k, "\\"); key = k[n]; next }
        $1 == "DisplayName" { sub(/^ *DisplayName +REG_SZ +/, ""); names[key] = $0 }
        $1 == "DisplayVersion" { versions[key] = $3 }
        END { for (key in names) if (names[key] == name) print key, versions[key] }' | sort
}
# Everything an install leaves: each file of the install folder with its inode, time and
# checksum (a file written again has another), the Start-menu entries by name (wine writes them
# again on every run of an installed product, with the target's times inside), the products.
state() {
    local f
    find "$install_dir" -type f -print0 | sort -z | while IFS= read -r -d '' f; do
        echo "$(stat -c '%i %.9Y' "$f") $(sha1sum <"$f" | cut -c1-40) $f"
    done
    find "${menus[@]}" -name '*.lnk' 2>/dev/null | sort
    products
}
# expect_files FOLDER: the install folder holds exactly FOLDER's files, byte for byte.
expect_files() {
    diff -r "$1" "$install_dir" >"$work/diff" 2>&1 ||
        fail "the install folder differs from $1: $(head -n 5 "$work/diff")"
}
# The Start-menu entries in one of the menus, each leading where it should: a shortcut keeps
# its target and arguments as UTF-16 or ANSI text, read here without the zero bytes.
expect_entries() {
    local menu found=
    for menu in "${menus[@]}"; do [ -f "$menu/${entries[0]}.lnk" ] && found=$menu; done
    [ -n "$found" ] || fail "no Start-menu entry \"${entries[0]}\" in ${menus[*]}"
    local win_dir
    win_dir=$(winepath -w "$install_dir")
    while IFS='|' read -r entry target; do
        [ -f "$found/$entry.lnk" ] || fail "no Start-menu entry \"$entry\" in $found"
        tr -d '\0' <"$found/$entry.lnk" | grep -qaiF "$target" ||
            fail "the entry \"$entry\" does not lead to $target"
    done <<EOF
Call Panel settings Tool|$win_dir\\callpanel-tool.exe
Call Panel commissioning|$win_dir\\$commissioning
Call Panel command line|set "PATH=$win_dir\\;%PATH%"
EOF
    echo "Start menu: ${entries[*]} in $found"
}
# Where the commissioning entry leads, as the installer's source names it.
commissioning=$(sed -n 's/.*define CommissioningTarget = "\[INSTALLDIR\]\([^"]*\)".*/\1/p' \
    "$(dirname "$msi_sh")/callpanel-tool.wxs")
[ -n "$commissioning" ] || fail "no CommissioningTarget in callpanel-tool.wxs"

# --- Windows 7 is refused; Windows 8.1, the oldest supported, installs.
win winecfg /v win7 >/dev/null || fail "winecfg /v win7 failed"
! msiexec /i "$msi" || fail "installed on Windows 7"
[ ! -e "$install_dir" ] && [ -z "$(products)" ] ||
    fail "the refusal on Windows 7 left files or a product"
echo "Windows 7: refused, nothing installed"
win winecfg /v win81 >/dev/null || fail "winecfg /v win81 failed"
msiexec /i "$msi" || fail "msiexec /i failed: exit $?"
expect_files "$folder"
expect_entries
code=$(products | cut -d' ' -f1)
[ "$(products)" = "$code $version" ] || fail "products: $(products), expected one of $version"
echo "installed: $code $version"
out=$(win "$(winepath -w "$install_dir")\\callpanel.exe" --version) ||
    fail "callpanel.exe --version: $out"
[ "$out" = "callpanel $version" ] || fail "callpanel.exe --version printed '$out'"
# The command line's entry as its console runs it: cmd /k drops the outer quotes of its
# command and runs the rest, here read from cmd's input (wine would escape the inner quotes of
# an argument), then ends.
arguments=$(msiinfo export "$msi" Shortcut | tr -d '\r' |
    awk -F'\t' '$3 == "Call Panel command line" {print $6}')
arguments=${arguments/\[INSTALLDIR\]/$(winepath -w "$install_dir")\\}
[[ $arguments == '/k "'*'"' ]] || fail "the command line's entry: cmd $arguments"
arguments=${arguments#'/k "'}
out=$(printf '%s\r\nexit\r\n' "${arguments%'"'}" | win cmd) || fail "the command line's entry: $out"
grep -q "callpanel $version\$" <<<"$out" && grep -q '^Type callpanel /? for its usage' <<<"$out" ||
    fail "the command line's entry did not run callpanel: $out"
mkdir -p "$documents"

# --- The same installer again.
before=$(state)
msiexec /i "$msi" || fail "msiexec /i a second time failed: exit $?"
[ "$(state)" = "$before" ] ||
    fail "a second install changed: $(diff <(echo "$before") <(state) | head -n 10)"
echo "the same installer again: nothing changed"

# --- What the user made: undo plans, a site in Documents, a site saved into the install folder.
mkdir -p "$local_data/callpanel"
echo 'mac,unlock' >"$local_data/callpanel/undo-20260101-120000.csv"
echo 'mac,unlock' >"$documents/site.csv"
echo 'mac,unlock' >"$install_dir/my-site.csv"

# --- The next version over it.
next=${version%.*}.$((${version##*.} + 1))
cp -r "$folder" "$work/next"
sed -i "s/^Version $version\r\$/Version $next\r/" "$work/next/README.txt"
grep -q "^Version $next" "$work/next/README.txt" || fail "README.txt names no version"
dropped=$(cd "$work/next" && find docs -name '*.png' | sort | head -n1)
rm "$work/next/$dropped"
"$msi_sh" "$work/next" "$next" "$work/callpanel-$next-x64.msi" >"$work/msi.out" 2>&1 ||
    fail "the next version's installer: $(cat "$work/msi.out")"
msiexec /i "$work/callpanel-$next-x64.msi" || fail "msiexec /i of $next failed: exit $?"
next_code=$(products | cut -d' ' -f1)
[ "$(products)" = "$next_code $next" ] && [ "$next_code" != "$code" ] ||
    fail "after installing $next over $version: products $(products)"
mv "$install_dir/my-site.csv" "$work/my-site.csv"
expect_files "$work/next"
mv "$work/my-site.csv" "$install_dir/"
expect_entries
echo "upgraded: $next_code $next, $dropped gone"

# --- The older installer over the newer one.
before=$(state)
! msiexec /i "$msi" || fail "$version was installed over $next"
[ "$(state)" = "$before" ] ||
    fail "the refused downgrade changed: $(diff <(echo "$before") <(state) | head -n 10)"
echo "$version over $next: refused, nothing changed"

# --- Remove.
msiexec /x "$work/callpanel-$next-x64.msi" || fail "msiexec /x failed: exit $?"
[ -z "$(products)" ] || fail "still installed: $(products)"
left=$(find "$install_dir" "${menus[@]}" -path "$install_dir/my-site.csv" -o -type f -print)
[ -z "$left" ] || fail "left after removal: $left"
undo=$local_data/callpanel/undo-20260101-120000.csv
for kept in "$install_dir/my-site.csv" "$documents/site.csv" "$undo"; do
    [ -f "$kept" ] || fail "the user's $kept was removed"
done
echo "removed: every installed file and entry; the user's sites and undo plans stay"
