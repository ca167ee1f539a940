#!/usr/bin/env bash
# A building commissioned against stand-in panels: check and report of a site against its plan
# (the report printed to PDF by headless Chromium, offline, and read back with poppler's tools,
# with a made-up site of 6 and of 2,000 panels), then a schedule assigned to new panels as they
# are powered.
#   commission_test.sh CALLPANEL STANDIN REPORT_SAMPLE
# Run inside tools/testnet.sh --panels 3: callpanel, the stand-ins and Chromium stay in it.
set -euo pipefail

# shellcheck source=SCRIPTDIR/../lib/x11.sh
. "$(dirname "$0")/../lib/x11.sh"

[ $# -eq 3 ] || { echo "usage: $0 CALLPANEL STANDIN REPORT_SAMPLE" >&2; exit 2; }
cli=$1 standin=$2 report_sample=$3

[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root for the private test network" >&2; exit 77; }
[ -n "${TESTNET_TOOL_NS:-}" ] || fail "not inside tools/testnet.sh"
[ "$(readlink /proc/self/ns/net)" != "$(readlink /proc/1/ns/net)" ] ||
    fail "still in the machine's own network namespace"
need_commands ip awk grep sed
read -r -a panel_ns <<<"$TESTNET_PANEL_NS"
[ ${#panel_ns[@]} -ge 3 ] || fail "needs 3 panel namespaces"

begin_work
show_on_failure --tail 30 out err
export XDG_STATE_HOME=$work/state
declare -A standin_pid

# start_standin K ARGS...: (re)starts the stand-in of panel namespace K.
start_standin() {
    local k=$1
    shift
    if [ -n "${standin_pid[$k]:-}" ]; then stop "${standin_pid[$k]}"; fi
    rm -f "$work/standin$k.out"
    ip netns exec "${panel_ns[k]}" "$standin" --exit-after 600 "$@" >"$work/standin$k.out" 2>&1 &
    standin_pid[$k]=$!
    track "$!"
    wait_for 20 grep -qs '^ready' "$work/standin$k.out" || fail "stand-in $k did not start"
}
stop_standin() { stop "${standin_pid[$1]}"; unset "standin_pid[$1]"; }

# run EXPECTED_EXIT ARGS...: callpanel with its output in $work/out and $work/err.
run() {
    local expected=$1 rc=0
    shift
    "$cli" "$@" >"$work/out" 2>"$work/err" || rc=$?
    [ "$rc" -eq "$expected" ] || fail "callpanel $*: exit $rc, expected $expected"
}
# The result and details check gives the panel with that MAC.
result_of() { awk -F, -v mac="$1" '$1 == mac && $2 != "site fault" { print $2 }' "$work/out"; }
details_of() { awk -F, -v mac="$1" '$1 == mac && $2 != "site fault" { print $3 }' "$work/out"; }

# --- check: a site of 4 panels against plans that hold, differ, miss and leave out.
start_standin 0 --panels 3
start_standin 1 --ip 10.83.7.9 --mac 00:50:2A:07:00:09
run 0 search --format csv
cut -d, -f1-9 "$work/out" | sed '1s/$/,# location/; 2,$s/$/,Block/' >"$work/site.csv"
run 0 check "$work/site.csv" --format csv
[ "$(grep -c ',as planned,' "$work/out")" -eq 4 ] || fail "an exact plan: $(cat "$work/out")"

# First row's unlock 5 -> 7 in the plan, the last panel left out, a panel that is not there.
awk -F, -v OFS=, 'NR == 2 { $9 = 7 } { print }' "$work/site.csv" | head -n 4 >"$work/plan.csv"
echo "00:50:2A:00:00:99,flat,0999000001,1,10.83.9.9,255.255.0.0,10.83.0.1,10.83.0.254,5,Gone" \
    >>"$work/plan.csv"
first=$(sed -n 2p "$work/plan.csv" | cut -d, -f1)
left_out=$(sed -n 5p "$work/site.csv" | cut -d, -f1)
run 1 check "$work/plan.csv" --format csv
[ "$(result_of "$first")" = differs ] || fail "unlock changed: $(cat "$work/out")"
[ "$(details_of "$first")" = "unlock: 5 → 7" ] || fail "details: $(details_of "$first")"
[ "$(result_of 00:50:2A:00:00:99)" = missing ] || fail "absent panel: $(cat "$work/out")"
[ "$(result_of "$left_out")" = extra ] || fail "panel not in the plan: $(cat "$work/out")"
# --ignore-extra does not hide the rest; JSON rows carry mac and result.
run 1 check "$work/plan.csv" --ignore-extra --format json
grep -q '"result": "missing"' "$work/out" || fail "JSON: $(cat "$work/out")"
# JSON details are one object a field, in the check's words.
tr -d ' \n' <"$work/out" | grep -qF '"details":[{"field":"unlock","on_site":"5","in_plan":"7"}]' ||
    fail "JSON details: $(cat "$work/out")"
head -n 4 "$work/site.csv" >"$work/three.csv"
run 0 check "$work/three.csv" --ignore-extra
run 1 check "$work/three.csv"

# What is written reads back as asked: a flat camera's address ending in six zeros is a villa
# camera's on the wire. Refused, then written as asked with --as-written and said, then judged by
# check as the villa camera it reads back as.
run 2 set "$first" --address 0102000000
grep -q "address: flat 0102000000 reads back as villa 0102: .*write villa 0102" "$work/err" ||
    fail "not refused: $(cat "$work/err")"
run 0 set "$first" --address 0102000000 --as-written
grep -q "warning: .*flat 0102000000 is written as asked and reads back as villa 0102" "$work/err" ||
    fail "not said: $(cat "$work/err")"
grep -q "^type: flat → villa" "$work/out" || fail "not shown as it reads back: $(cat "$work/out")"
awk -F, -v OFS=, -v mac="$first" '$1 == mac { $2 = "flat"; $3 = "0102000000" } { print }' \
    "$work/three.csv" >"$work/villa.csv"
run 1 check "$work/villa.csv" --ignore-extra --format csv
[ "$(result_of "$first")" = differs ] || fail "as planned: $(cat "$work/out")"
details_of "$first" | grep -q "type: villa → flat (reads back as villa 0102" ||
    fail "check does not say so: $(cat "$work/out")"

# A site fault fails an exact plan: a panel moved onto another's IP (by another laptop) and a
# new panel on the factory subnet, each named by MAC.
start_standin 1 --ip 10.83.0.11 --mac 00:50:2A:07:00:09 --identity H07000000091
start_standin 2 --ip 192.168.1.100 --mac 00:50:2A:01:01:00 --identity H00000000010
run 0 search --format csv
# The new panel is not in the plan (a plan may put a panel on that subnet on purpose).
cut -d, -f1-9 "$work/out" | grep -v '^00:50:2A:01:01:00' >"$work/faulty.csv"
run 1 check "$work/faulty.csv" --format csv
grep -q "site fault,2 panels have the IP address 10.83.0.11: .*00:50:2A:07:00:09" "$work/out" ||
    fail "shared IP: $(cat "$work/out")"
grep -q "^00:50:2A:01:01:00,site fault,.*factory subnet 192.168.1.0/24" "$work/out" ||
    fail "factory subnet: $(cat "$work/out")"

# --- report: one file, nothing outside it, every panel in its printed text.
cp "$work/plan.csv" "$work/report-plan.csv"
run 0 report "$work/report-plan.csv" --html "$work/site.html" --site Commission --by tester
[ ! -e "$work/site.html.part" ] || fail "a part file was left"
! grep -Eqi 'src=|href=|url\(|@import|<script|<link' "$work/site.html" ||
    fail "the report names an external resource"
# Written again over the old one whole; a folder it cannot write leaves nothing.
run 1 report --html "$work/nowhere/site.html"
[ ! -e "$work/nowhere" ] || fail "report made a folder"
run 0 report --html "$work/site-alone.html"

if command -v chromium >/dev/null && command -v pdftotext >/dev/null; then
    profile=$work/chromium
    chrome=(chromium --headless --no-sandbox --disable-gpu --disable-background-networking
        --disable-component-update --disable-sync --no-first-run --no-default-browser-check
        --user-data-dir="$profile")
    timeout 120 "${chrome[@]}" --no-pdf-header-footer --print-to-pdf="$work/site.pdf" \
        "file://$work/site.html" >"$work/chromium.log" 2>&1 || fail "chromium: $(tail -5 "$work/chromium.log")"
    pdftotext -layout "$work/site.pdf" "$work/site.txt"
    [ "$(pdfinfo "$work/site.pdf" | awk '/^Page size/ { print ($3 > 800) ? "landscape" : "portrait" }')" = landscape ] ||
        fail "not A4 landscape: $(pdfinfo "$work/site.pdf" | grep 'Page size')"
    "$cli" search --format csv | tail -n +2 | cut -d, -f1,5 | tr , '\n' >"$work/expected"
    echo 00:50:2A:00:00:99 >>"$work/expected"
    while read -r text; do
        grep -qF -- "$text" "$work/site.txt" || fail "the printed report lacks $text"
    done <"$work/expected"
    grep -q "missing" "$work/site.txt" || fail "the printed report lacks the missing row"
    # Who, where and when, then the problems, all on page 1.
    pdftotext -layout -f 1 -l 1 "$work/site.pdf" "$work/page1.txt"
    for text in "Site *Commission" "Made by *tester" "Computer *$(hostname)" Problems \
        "field: on the site → in the plan" "$first" 00:50:2A:00:00:99 "$left_out"; do
        grep -q -- "$text" "$work/page1.txt" || fail "page 1 of the report lacks $text: $(cat "$work/page1.txt")"
    done
    # A made-up site of 6 and of 2,000 panels: its problems on page 1, at most 40 pages, and
    # each /24 heading of the address map on the page of its grid (as many headings on a page
    # as grids begin, .0, and end, .240, there).
    for n in 6 2000; do
        "$report_sample" "$n" "$work/sample$n.html"
        timeout 300 "${chrome[@]}" --no-pdf-header-footer --print-to-pdf="$work/sample$n.pdf" \
            "file://$work/sample$n.html" >"$work/chromium.log" 2>&1 || fail "chromium: $(tail -5 "$work/chromium.log")"
        pages=$(pdfinfo "$work/sample$n.pdf" | awk '/^Pages:/ { print $2 }')
        [ "$pages" -le 40 ] || fail "$n panels: $pages pages"
        pdftotext -layout -f 1 -l 1 "$work/sample$n.pdf" "$work/page1.txt"
        for text in "Riverside Towers" "A. Installer" laptop-7 Problems missing extra "site fault"; do
            grep -q -- "$text" "$work/page1.txt" || fail "$n panels: page 1 lacks $text"
        done
        [ "$(grep -c 'differs .*unlock: 5 → 7' "$work/page1.txt")" -eq $((n / 100)) ] ||
            fail "$n panels: not every differing panel on page 1: $(cat "$work/page1.txt")"
        pdftotext -layout "$work/sample$n.pdf" "$work/sample$n.txt"
        awk -v RS='\f' '{
                heads = starts = ends = 0
                for (i = 1; i <= NF; ++i) {
                    if ($i ~ /^10\.83\.[0-9]+\.0\/24$/) ++heads
                    if ($i == ".0") ++starts
                    if ($i == ".240") ++ends
                }
                all += heads
                if (heads != starts || heads != ends) { print "page " NR ": " heads " headings, " starts " grids begin, " ends " end"; bad = 1 }
            } END { if (all == 0) { print "no /24 heading"; bad = 1 }; exit bad }' "$work/sample$n.txt" >"$work/grids" ||
            fail "$n panels: a /24 heading apart from its grid: $(cat "$work/grids")"
    done
else
    printed=no
fi
# --- assign: new panels on their factory settings (one IP, one identity), powered in turn.
for k in 0 1 2; do stop_standin "$k" 2>/dev/null || true; done
factory=(--alike --ip 192.168.1.100 --identity H00000000010)
schedule() { # schedule FILE ROWS: rows 10.83.1.1, .2, ... with a location note each
    local n
    echo "# location,type,address,facility,ip,mask,gateway,server,unlock" >"$1"
    for ((n = 1; n <= $2; n++)); do
        echo "Block $n entrance,flat,0${n}01000001,0,10.83.1.$n,255.255.0.0,10.83.0.1,10.83.0.254,7" >>"$1"
    done
}
writes_on_wire() { cat "$work"/standin*.out | grep -c '^write for ' || true; }
# start_assign ARGS...: callpanel assign in the background, once it watches.
start_assign() {
    "$cli" assign "$@" >"$work/out" 2>"$work/err" &
    assign_pid=$!
    track "$assign_pid"
    wait_for 30 grep -qs '^callpanel: watching' "$work/err" || fail "assign did not start: $(cat "$work/err")"
}
# end_assign EXPECTED [SIGNAL]: its exit code once it ends (after SIGNAL when given).
end_assign() {
    local rc=0
    [ -z "${2:-}" ] || kill -"$2" "$assign_pid"
    wait "$assign_pid" || rc=$?
    untrack "$assign_pid"
    [ "$rc" -eq "$1" ] || fail "assign ended with $rc, expected $1: $(cat "$work/err")"
}

# A schedule with a clash is refused before anything is written.
schedule "$work/clash.csv" 3
sed -i '3s/10.83.1.2/10.83.1.1/' "$work/clash.csv"
start_standin 0 "${factory[@]}"
run 2 assign "$work/clash.csv" --watch
grep -q "both have the IP address 10.83.1.1" "$work/err" || fail "clash: $(cat "$work/err")"
[ "$(writes_on_wire)" -eq 0 ] || fail "a refused schedule wrote"
[ ! -e "$work/clash-as-built.csv" ] || fail "a refused schedule left an as-built plan"
stop_standin 0

# Three panels powered a second apart take rows 1, 2, 3 in that order, and hold them.
schedule "$work/three.csv" 3
start_assign "$work/three.csv" --watch
start_standin 0 "${factory[@]}" --panels 3 --appear-every 1
wait_for 60 bash -c "! kill -0 $assign_pid 2>/dev/null" || fail "assign did not end: $(cat "$work/out")"
end_assign 0
# The loss and lateness as they are measured, on a line of their own (and on the status line,
# which a file does not get).
grep -Eq '^callpanel: about [0-9]+ % of replies lost, up to [0-9]+ ms late$' "$work/err" ||
    fail "no loss and lateness measured: $(cat "$work/err")"
for n in 1 2 3; do
    mac=$(sed -n "s/^panel $((n - 1)): .* mac \([0-9A-F:]*\) .*/\1/p" "$work/standin0.out")
    grep -q "^$mac  row $n (Block $n entrance)  0${n}01000001  10.83.1.$n  verified$" "$work/out" ||
        fail "row $n: $(cat "$work/out")"
    [ "$(sed -n "$((n + 1))p" "$work/three-as-built.csv" | cut -d, -f1)" = "$mac" ] ||
        fail "as-built row $n: $(cat "$work/three-as-built.csv")"
done
run 0 check "$work/three-as-built.csv" --ignore-extra
# The report names the work done: the assign's as-built plan beside it and its undo plan, each
# with its panels all holding their rows.
run 0 report "$work/three-as-built.csv" --html "$work/built.html"
grep -q "assign: 3 rows of 3 in three.csv given to new panels</td><td>3</td><td class=\"good\">3</td><td class=\"mono\">three-as-built.csv, undo plan undo-" \
    "$work/built.html" || fail "work done: no assign in $(grep -A8 'Work done' "$work/built.html")"
# Without a plan, --site naming the site's folder: the site named by it, its work done the
# folder's, though the command runs elsewhere.
[ "$(pwd)" != "$work" ] || fail "the report would run in the site folder"
run 0 report --html "$work/by-site.html" --site "$work/"
grep -q "three-as-built.csv, undo plan undo-" "$work/by-site.html" ||
    fail "--site FOLDER: no work done in $(grep -A8 'Work done' "$work/by-site.html")"
grep -q "<h1>[^<]*$(basename "$work")" "$work/by-site.html" ||
    fail "--site FOLDER: not named by it: $(grep '<h1>' "$work/by-site.html")"
# Started again, it goes on from the as-built plan: nothing left to do.
run 0 assign "$work/three.csv" --watch
stop_standin 0

# Two panels at once form a group that gets nothing, then the one left on takes row 1; Ctrl+C
# ends it, exit 0.
schedule "$work/two.csv" 2
start_standin 1 "${factory[@]}" --mac 00:50:2A:01:00:01
start_standin 2 "${factory[@]}" --mac 00:50:2A:01:00:02
run 2 assign "$work/two.csv"
grep -q "2 new panel(s) on 192.168.1.0/24" "$work/err" || fail "without --watch: $(cat "$work/err")"
start_assign "$work/two.csv" --watch
wait_for 20 grep -q "two new panels whose powering order is not sure (00:50:2A:01:00:01, 00:50:2A:01:00:02); none was assigned" \
    "$work/err" || fail "two at once: $(cat "$work/err")"
sleep 1
[ "$(cat "$work/standin1.out" "$work/standin2.out" | grep -c '^write for ')" -eq 0 ] ||
    fail "a panel of two at once was written"
stop_standin 2
wait_for 20 grep -q "^00:50:2A:01:00:01  row 1 " "$work/out" || fail "the one left on: $(cat "$work/out") $(tail -5 "$work/standin1.out") $(tail -3 "$work/standin2.out")"
end_assign 0 INT
grep -q "^00:50:2A:01:00:01,verified,Block 1" "$work/two-as-built.csv" || fail "as-built: $(cat "$work/two-as-built.csv")"
[ "$(sed -n 3p "$work/two-as-built.csv" | cut -d, -f1)" = "" ] || fail "row 2 taken"
stop_standin 1

# --row resolves a group: the installer says which MAC takes which row, both present.
rm -f "$work/two-as-built.csv"
start_standin 1 "${factory[@]}" --mac 00:50:2A:01:00:01
start_standin 2 "${factory[@]}" --mac 00:50:2A:01:00:02
run 2 assign "$work/two.csv" --watch --row 1=00:50:2A:01:00:02 --row 3=00:50:2A:01:00:01
grep -q -- "--row 3=00:50:2A:01:00:01: the schedule has rows 1 to 2" "$work/err" || fail "--row 3: $(cat "$work/err")"
run 0 assign "$work/two.csv" --watch --row 1=00:50:2A:01:00:02 --row 2=00:50:2A:01:00:01
[ "$(cut -d, -f1 "$work/two-as-built.csv" | tail -n +2 | tr '\n' ' ')" = "00:50:2A:01:00:02 00:50:2A:01:00:01 " ] ||
    fail "--row: $(cat "$work/two-as-built.csv")"
stop_standin 1
stop_standin 2

# --in-mac-order: both present take the rows by MAC order.
rm -f "$work/two-as-built.csv"
start_standin 1 "${factory[@]}" --mac 00:50:2A:01:00:02
start_standin 2 "${factory[@]}" --mac 00:50:2A:01:00:01
run 0 assign "$work/two.csv" --in-mac-order
[ "$(cut -d, -f1 "$work/two-as-built.csv" | tail -n +2 | tr '\n' ' ')" = "00:50:2A:01:00:01 00:50:2A:01:00:02 " ] ||
    fail "MAC order: $(cat "$work/two-as-built.csv")"
stop_standin 1
stop_standin 2

# Ctrl+C while a row is being written: the row finishes, is verified and recorded; exit 0.
rm -f "$work/two-as-built.csv"
start_assign "$work/two.csv" --watch
start_standin 0 "${factory[@]}" --delay-ms 150
wait_for 20 grep -q '^write for' "$work/standin0.out" || fail "no write: $(cat "$work/err")"
end_assign 0 INT
grep -q "  row 1 (Block 1 entrance)  0101000001  10.83.1.1  verified" "$work/out" ||
    fail "Ctrl+C mid-row: $(cat "$work/out") $(cat "$work/err")"
[ -n "$(sed -n 2p "$work/two-as-built.csv" | cut -d, -f1)" ] || fail "the row was not recorded"

# Killed after its write reached the panel, before the read-back: the as-built plan says which
# panel row 1 was being written to; started again, assign finishes that row on it (it holds the
# row: verified) instead of refusing the schedule over it, and goes on (no new panel: exit 1).
rm -f "$work/two-as-built.csv"
start_standin 0 "${factory[@]}" --delay-ms 400
start_assign "$work/two.csv" --watch
wait_for 20 grep -q '^write for' "$work/standin0.out" || fail "no write: $(cat "$work/err")"
kill -KILL "$assign_pid"
wait "$assign_pid" 2>/dev/null || true
grep -q '^00:50:2A:[0-9A-F:]*,writing,Block 1' "$work/two-as-built.csv" ||
    fail "no intent before the write: $(cat "$work/two-as-built.csv")"
sleep 1 # the replies the killed run's searches had on their way (400 ms late) have landed
run 1 assign "$work/two.csv"
grep -q "  row 1 (Block 1 entrance)  0101000001  10.83.1.1  verified (held it when started again)" "$work/out" ||
    fail "started again after a kill: $(cat "$work/out") $(cat "$work/err")"
grep -q '^00:50:2A:[0-9A-F:]*,verified,Block 1' "$work/two-as-built.csv" ||
    fail "as-built after the kill: $(cat "$work/two-as-built.csv")"
stop_standin 0

# Killed while row 2's write cannot reach its panel B (it drops writes); started again once it
# can, with a third panel C on: the first run's undo plan names A and B, the second's B and C.
# Applied as one, they put all three back as they were before the first run, exactly as a
# search reports them; neither alone could.
schedule "$work/again.csv" 3
panel_a=(1 "${factory[@]}" --mac 00:50:2A:01:00:01) panel_b=(2 "${factory[@]}" --mac 00:50:2A:01:00:02)
panel_c=(0 "${factory[@]}" --mac 00:50:2A:01:00:03)
for panel in panel_a panel_b panel_c; do
    declare -n args=$panel
    start_standin "${args[@]}"
done
run 0 search --format csv
cut -d, -f1-11 "$work/out" | sort >"$work/before.csv"
for k in 0 1 2; do stop_standin "$k"; done
start_assign "$work/again.csv" --watch
undo1=$(sed -n 's/^callpanel: as-built plan: .*; undo plan: //p' "$work/err")
start_standin "${panel_a[@]}"
wait_for 30 grep -q '^00:50:2A:01:00:01  row 1 .* verified$' "$work/out" || fail "row 1: $(cat "$work/out")"
ip netns exec "${panel_ns[2]}" nft add table inet hold
ip netns exec "${panel_ns[2]}" nft add chain inet hold in '{ type filter hook input priority 0; }'
ip netns exec "${panel_ns[2]}" nft add rule inet hold in udp dport 8300 @th,112,8 0xfe drop
start_standin "${panel_b[@]}"
wait_for 30 grep -q '^00:50:2A:01:00:02,writing,Block 2' "$work/again-as-built.csv" ||
    fail "row 2 not being written: $(cat "$work/again-as-built.csv")"
kill -KILL "$assign_pid"
wait "$assign_pid" 2>/dev/null || true
ip netns exec "${panel_ns[2]}" nft delete table inet hold
start_standin "${panel_c[@]}"
run 0 assign "$work/again.csv" --in-mac-order
undo2=$(sed -n 's/^callpanel: as-built plan: .*; undo plan: //p' "$work/err")
[ -n "$undo1" ] && [ -n "$undo2" ] && [ "$undo1" != "$undo2" ] ||
    fail "not two undo plans: '$undo1' '$undo2' $(cat "$work/err")"
[ "$(cut -d, -f1 "$undo1" | sort | tr '\n' ' ')" = "00:50:2A:01:00:01 00:50:2A:01:00:02 mac " ] &&
    [ "$(cut -d, -f1 "$undo2" | sort | tr '\n' ' ')" = "00:50:2A:01:00:02 00:50:2A:01:00:03 mac " ] ||
    fail "undo plans: $(cat "$undo1" "$undo2")"
# A plan that is not an undo plan is not taken with them, and nothing is written.
before=$(writes_on_wire)
run 2 apply "$undo1" "$work/again-as-built.csv"
grep -q "again-as-built.csv:2: no raw and undoes bytes" "$work/err" || fail "a plan among undo plans: $(cat "$work/err")"
[ "$(writes_on_wire)" -eq "$before" ] || fail "a plan among undo plans wrote"
# All three back on the factory IP and identity: the site check after the writes names that
# (exit 1).
run 1 apply "$undo1" "$undo2"
[ "$(grep -c '^00:50:2A:01:00:0[123]  verified$' "$work/out")" -eq 3 ] || fail "undo plans as one: $(cat "$work/out")"
run 0 search --format csv
cut -d, -f1-11 "$work/out" | sort | cmp -s - "$work/before.csv" ||
    fail "not as before the first run: $(cut -d, -f1-11 "$work/out") against $(cat "$work/before.csv")"
for k in 0 1 2; do stop_standin "$k"; done
echo "assign killed and started again: its two undo plans applied as one put three panels back"
if [ "${printed:-yes}" = no ]; then
    echo "SKIP: chromium or pdftotext missing (scripts/setup.sh test): the printed report is not checked" >&2
    exit 77
fi
echo "PASS"
