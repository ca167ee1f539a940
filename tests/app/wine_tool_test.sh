#!/usr/bin/env bash
# callpanel-tool.exe under wine on a private Xvfb display, driven with xdotool (under wine the X
# window is the window's client area, so clicks take the layout's own coordinates):
#   wine_tool_test.sh TOOL_EXE STANDIN HOLD_PORT XCLOSE [SCREENSHOT XGRAB]
# Run inside tools/testnet.sh --panels 2, with one wine prefix for every case:
#  - port 8300 held: the box "Error" alone; Return ends the program with 0; one English line on
#    the standard error names the port and netstat to find its holder;
#  - the window: client area 861 x 372; "Search all" lists both stand-ins, the first with a
#    Chinese identity;
#  - a click on the selected line shows its panel again (an edited box is undone);
#  - a check's box: facility 5 gives "Facility NO. between 0-1", titled "Error", after which
#    the facility box has the focus: what is typed next goes there, held to its one character;
#  - Tab from the address box skips the subnet's frame and selects the text of its first byte;
#  - select, edit, Write: the write request byte for byte as the stand-in received it;
#  - Del all cards for the second line reaches the second stand-in (SCREENSHOT: the window is
#    grabbed then, its Chinese texts in WenQuanYi);
#  - "Help Station" picked in the drop-down: a 10-character address gets its check's box;
#  - letters in a byte box: the exception display, titled with the window's caption; no write;
#  - closing the window ends the program with 0;
#  - at 200 % (LogPixels 192) the client area is 1722 x 744 and "Search all" is at twice its
#    place;
#  - a WM_QUIT posted from outside right after "Search all" ends the program with 0.
set -euo pipefail

# shellcheck source=SCRIPTDIR/../lib/x11.sh
. "$(dirname "$0")/../lib/x11.sh"
# shellcheck source=SCRIPTDIR/../lib/wine.sh
. "$(dirname "$0")/../lib/wine.sh"

[ $# -eq 4 ] || [ $# -eq 6 ] ||
    { echo "usage: $0 TOOL_EXE STANDIN HOLD_PORT XCLOSE [SCREENSHOT XGRAB]" >&2; exit 2; }
tool=$1 standin=$2 hold=$3 xclose=$4 shot=${5:-} xgrab=${6:-}
readonly TITLE='^Call Panel settings Tool V1\.4$'
readonly WAIT=60

[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root for the private test network" >&2; exit 77; }
read -r -a panel_ns <<<"${TESTNET_PANEL_NS:-}"
[ "${#panel_ns[@]}" -ge 2 ] || fail "not inside tools/testnet.sh --panels 2"
post_quit=$(dirname "$tool")/../../app-post-quit.exe
need_wine "$tool" "$post_quit"
need_commands Xvfb xdotool xwininfo iconv

begin_work
show_on_failure --tail 30 tool.out standin0.out standin1.out xvfb.log
start_xvfb 96 2560x1600 || fail "Xvfb did not start" # room for the window at 200 %
start_wine

# The window asks for "宋体" (SimSun) and "MS Sans Serif": the test prefix shows the first in
# WenQuanYi, so that Chinese texts are drawn rather than boxes.
cat >"$work/fonts.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"SimSun"="WenQuanYi Zen Hei Mono"
"宋体"="WenQuanYi Zen Hei Mono"
REG
wine_registry "$work/fonts.reg"

tool_pid=
start_tool() {
    wine "$tool" >"$work/tool.out" 2>&1 &
    tool_pid=$!
    track "$tool_pid"
}
expect_exit_0() {
    wait_exit "$tool_pid" 30 || fail "the program did not end"
    [ "$exit_code" -eq 0 ] || fail "exit code $exit_code, expected 0"
}

# --- Port 8300 held: the box alone, and the end.
"$hold" 8300 "$work/held" &
held_pid=$!
track "$held_pid"
wait_for 10 test -e "$work/held" || fail "could not hold port 8300"
start_tool
box=$(find_window '^Error$') || true
[ -n "$box" ] || fail "no box \"Error\" appeared"
! has_window "$TITLE" || fail "the main window was shown although the port is taken"
press_return_until_gone "$box" "$tool_pid"
expect_exit_0
stop "$held_pid"
# Wine adds its own lines (fixme:, err:); the program's own is there once.
[ "$(grep -c '^callpanel-tool: ' "$work/tool.out")" -eq 1 ] &&
    grep -qF "UDP port 8300 cannot be opened" "$work/tool.out" &&
    grep -qF "netstat -abno -p UDP" "$work/tool.out" ||
    fail "no single line on the standard error naming port 8300 and netstat"
echo "held port: the box \"Error\" alone, one line on the standard error, exit code 0"

# --- The window with two stand-ins; the second answers later, so its line comes second.
# GBK "一楼": the first panel's address begins with two Chinese characters.
ip netns exec "${panel_ns[0]}" "$standin" --exit-after 600 --dump \
    --identity $'H\xd2\xbb\xc2\xa50000001' >"$work/standin0.out" 2>&1 &
track "$!"
ip netns exec "${panel_ns[1]}" "$standin" --exit-after 600 --delay-ms 30 \
    >"$work/standin1.out" 2>&1 &
track "$!"
for k in 0 1; do
    wait_for 20 grep -qs '^ready' "$work/standin$k.out" || fail "stand-in $k did not start"
done

start_tool
win=$(find_window "$TITLE") || true
[ -n "$win" ] || fail "the window did not appear"
size() { xwininfo -id "$1" | awk '/Width:/ {w = $NF} /Height:/ {h = $NF} END {print w "x" h}'; }
wait_for 10 test "$(size "$win")" = 861x372 || fail "client area $(size "$win"), expected 861x372"
echo "window $win: client area $(size "$win")"

# click X Y: a left click at client coordinates (pixels at 100 %).
click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }
# type_into X Y TEXT: the box at X,Y emptied and TEXT typed in.
type_into() {
    click "$1" "$2"
    xdotool key --window "$win" End BackSpace BackSpace BackSpace
    xdotool type --window "$win" "$3"
}
no_window() { ! has_window "$1"; }
# dismiss BOX COMMAND...: Return to the box until COMMAND holds (up to 5 times), in case a key
# came before the box took the focus; then a second for wine to give the window the keyboard
# back, so that what is typed next is not lost.
dismiss() {
    local box=$1
    shift
    for _ in 1 2 3 4 5; do
        xdotool windowfocus --sync "$box" key Return 2>/dev/null || true
        if wait_for 2 "$@"; then
            sleep 1
            return 0
        fi
    done
    return 1
}
count_of() { grep -c "$2" "$work/standin$1.out" || true; }

# The layout's places: "Search all", "Write", "Del all cards", the list's lines, the boxes of
# the IP address's last byte, of the facility number, of the unlocking time and of the address;
# the device type.
readonly SEARCH=(424 308) WRITE=(592 308) DELETE=(733 308)
readonly LINE0=(100 24) LINE1=(100 38) IP4=(529 196) FACILITY=(480 115) UNLOCK=(500 235)
readonly ADDRESS=(480 75) COMBO=(480 35)

searched() { [ "$(count_of 1 '^search from ')" -ge 1 ]; }
for _ in 1 2 3; do # the first click may come before the window takes input
    click "${SEARCH[@]}"
    wait_for 5 searched && break
done
searched || fail "a click on \"Search all\" did not search"
sleep 2 # both replies in and listed, also on a busy machine
# Every copy of the window's search leaves from port 8300, as on Linux.
ports=$(sed -n 's/^search from [0-9.]*:\([0-9]*\) .*/\1/p' "$work"/standin*.out | sort -u)
[ "$ports" = 8300 ] || fail "the window's searches came from ports: ${ports//$'\n'/ }"

# A click on the selected line shows its panel again: the unlocking time typed is undone.
click "${LINE0[@]}"
type_into "${UNLOCK[@]}" 7
click "${LINE0[@]}"
# A check's box: facility 5; Return closes it and the focus is on the facility box.
type_into "${FACILITY[@]}" 5
click "${WRITE[@]}"
box=$(find_window '^Error$') || true
[ -n "$box" ] || fail "no box \"Error\" for facility 5"
before=$(count_of 0 '^write for ')
dismiss "$box" no_window '^Error$' || fail "the box did not close"
# Typed without a click: it reaches the facility box only if the box has the focus; the box
# takes one character of the two.
xdotool key --window "$win" BackSpace
xdotool type --window "$win" 11
# Tab from the address box skips the subnet's frame (disabled) for its first byte, whose text
# it selects: 255 becomes 0.
click "${ADDRESS[@]}"
xdotool key --window "$win" Tab
xdotool type --window "$win" 0
type_into "${IP4[@]}" 77
click "${WRITE[@]}"
wait_for 10 test "$(count_of 0 '^write for ')" -gt "$before" || fail "Write sent nothing"
grep '^write for ' "$work/standin0.out" | tail -n1
# The request as the wire layout has it: header, the panel's block as the search reported it,
# the new block, spare 0 and the unlocking time 5. Zeros after the last byte shown.
hex() { printf ' %02x' "$@"; }
block() { # IP_LAST_BYTE SUBNET_FIRST_BYTE: identity (12 bytes and 8 zeros), MAC, IP, subnet,
    # gateway, server
    hex 0x48 0xd2 0xbb 0xc2 0xa5 0x30 0x30 0x30 0x30 0x30 0x30 0x31 0 0 0 0 0 0 0 0
    hex 0x00 0x50 0x2a 0x53 0x00 0x0b 10 83 0 "$1" "$2" 255 0 0 10 83 0 1 10 83 0 254
}
want="bytes 512:$(hex 0x58 0x58 0x58 0x43 0x49 0x44 0xfe 1 0 0)$(block 11 255)$(block 77 0)"
want+=$(hex 0 5)
got=$(grep -A1 '^write for .* -> ' "$work/standin0.out" | grep -m1 '^bytes ') || true
[ "$got" = "$want" ] || fail "write request: $got, expected $want"
echo "write request: 96 bytes as expected, 512 on the wire"

# Del all cards for the second line.
click "${LINE1[@]}"
click "${DELETE[@]}"
wait_for 10 grep -q '^delete-cards for ' "$work/standin1.out" || fail "Del all cards sent nothing"
grep '^delete-cards for ' "$work/standin1.out"
! grep '^delete-cards for ' "$work/standin1.out" | grep -q 'no such panel' ||
    fail "the request did not name the second panel"
if [ -n "$shot" ]; then
    sleep 0.5 # the reply shown
    "$xgrab" "$win" "$shot" >/dev/null || fail "could not grab the window"
    echo "screenshot: $shot"
fi

# The device type picked with the keyboard: a help station wants a 4-character address.
click "${COMBO[@]}"
xdotool key --window "$win" Down Return
click "${WRITE[@]}"
box=$(find_window '^Error$') || true
[ -n "$box" ] || fail "no box \"Error\" for a help station's 10-character address"
dismiss "$box" no_window '^Error$' || fail "the box did not close"
echo "help station picked: its address check"

# The exception display: letters in a byte box end the press in a box titled with the
# window's caption, and nothing is sent.
type_into "${IP4[@]}" ab
before=$(cat "$work"/standin*.out | grep -c '^write for ' || true)
click "${WRITE[@]}"
wait_for 20 test "$(windows "$TITLE" | wc -l)" -ge 2 || fail "no box for the letters"
box=$(windows "$TITLE" | grep -vx "$win" | head -n1)
one_window() { [ "$(windows "$TITLE" | wc -l)" -eq 1 ]; }
dismiss "$box" one_window || fail "the box for the letters stayed"
[ "$(cat "$work"/standin*.out | grep -c '^write for ' || true)" -eq "$before" ] ||
    fail "letters in a byte box: a write went out"
echo "letters in a byte box: the exception display, nothing sent"

"$xclose" "$win" || fail "could not ask the window to close"
expect_exit_0
echo "closed: exit code 0"

# --- 200 %: the desktop's 192 pixels per inch, which the window takes per monitor.
cat >"$work/dpi.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Control Panel\Desktop]
"LogPixels"=dword:000000c0
REG
wine_registry "$work/dpi.reg"
start_tool
win=$(find_window "$TITLE") || true
[ -n "$win" ] || fail "the window did not appear at 200 %"
wait_for 10 test "$(size "$win")" = 1722x744 ||
    fail "client area at 200 %: $(size "$win"), expected 1722x744"
echo "200 %: client area $(size "$win")"
before=$(count_of 1 '^search from ')
for _ in 1 2 3; do
    click $((SEARCH[0] * 2)) $((SEARCH[1] * 2))
    wait_for 5 test "$(count_of 1 '^search from ')" -gt "$before" && break
done
[ "$(count_of 1 '^search from ')" -gt "$before" ] || fail "no search from \"Search all\" at 200 %"
"$xclose" "$win" || fail "could not ask the window to close"
expect_exit_0
echo "200 %: \"Search all\" at twice its place; closed with exit code 0"

# --- WM_QUIT from outside while the threads handle a search: they stop before what they
# signal is gone, and the program ends with 0.
start_tool
win=$(find_window "$TITLE") || true
[ -n "$win" ] || fail "the window did not appear for WM_QUIT"
before=$(count_of 1 '^search from ')
for _ in 1 2 3; do
    click $((SEARCH[0] * 2)) $((SEARCH[1] * 2))
    wait_for 5 test "$(count_of 1 '^search from ')" -gt "$before" && break
done
wine "$post_quit" "Call Panel settings Tool V1.4" || fail "could not post WM_QUIT"
expect_exit_0
echo "WM_QUIT from outside after a search: exit code 0"
