#!/usr/bin/env bash
# callpanel ui against stand-in panels, spoken to over HTTP on loopback as a browser would and
# as an attacker's page would: the site live, check and report by POST, and every request the
# page must refuse (no key, another Host, another Origin, a body over 4 MiB, a name with '..',
# a POST on the view-only listener) refused with nothing written.
#   ui_test.sh CALLPANEL STANDIN
# Run inside tools/testnet.sh --panels 2: callpanel and the stand-ins stay in it.
set -euo pipefail

# shellcheck source=SCRIPTDIR/../lib/x11.sh
. "$(dirname "$0")/../lib/x11.sh"

[ $# -eq 2 ] || { echo "usage: $0 CALLPANEL STANDIN" >&2; exit 2; }
cli=$1 standin=$2

[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root for the private test network" >&2; exit 77; }
[ -n "${TESTNET_TOOL_NS:-}" ] || fail "not inside tools/testnet.sh"
[ "$(readlink /proc/self/ns/net)" != "$(readlink /proc/1/ns/net)" ] ||
    fail "still in the machine's own network namespace"
need_commands ip curl grep sed awk
read -r -a panel_ns <<<"$TESTNET_PANEL_NS"
[ ${#panel_ns[@]} -ge 2 ] || fail "needs 2 panel namespaces"

begin_work
show_on_failure --tail 30 ui.out ui.err
export XDG_STATE_HOME=$work/state
mkdir -p "$work/site"

ip netns exec "${panel_ns[0]}" "$standin" --exit-after 600 --panels 2 >"$work/standin0.out" 2>&1 &
track "$!"
wait_for 20 grep -qs '^ready' "$work/standin0.out" || fail "stand-in did not start"
# The stand-ins as they are before the page writes them, to which its Undo must put them back.
# On a loaded machine the search may not be sure that nobody else is there (exit 1); what this
# test needs is both panels' rows, so that is what it asks for.
"$cli" search --format csv >"$work/first.csv" 2>"$work/first.err" || true
[ "$(grep -c '^00:50:2A:' "$work/first.csv")" -eq 2 ] ||
    fail "search before: $(cat "$work/first.csv" "$work/first.err")"

# The page's listener on loopback, and the view-only one on the tool's own address.
view_port=18431
"$cli" ui "$work/site" --no-browser --listen "$TESTNET_TOOL_IP:$view_port" >"$work/ui.out" 2>"$work/ui.err" &
ui_pid=$!
track "$ui_pid"
wait_for 30 grep -qs '^callpanel: view-only page' "$work/ui.out" || fail "ui did not start"
url=$(sed -n 's/^callpanel: open \(http:[^ ]*\)$/\1/p' "$work/ui.out")
view_url=$(sed -n 's/^callpanel: view-only page for a phone: \(http:[^ ]*\)$/\1/p' "$work/ui.out")
[[ $url =~ ^http://127\.0\.0\.1:([0-9]+)/\?key=([0-9a-f]{32})$ ]] || fail "printed line: $url"
port=${BASH_REMATCH[1]} key=${BASH_REMATCH[2]}
[[ $view_url =~ ^http://$TESTNET_TOOL_IP:$view_port/\?key=([0-9a-f]{32})$ ]] || fail "view-only line: $view_url"
view_key=${BASH_REMATCH[1]}
[ "$key" != "$view_key" ] || fail "the view-only page shares the key"
base=http://127.0.0.1:$port

# status METHOD PATH [CURL ARGS...]: the HTTP status of one request, its body in $work/body.
status() {
    local method=$1 path=$2
    shift 2
    curl -s -o "$work/body" -w '%{http_code}' -X "$method" "$@" "$base$path"
}
expect() { # expect STATUS WHAT METHOD PATH [CURL ARGS...]
    local want=$1 what=$2 got
    shift 2
    got=$(status "$@") || true
    [ "$got" = "$want" ] || fail "$what: HTTP $got, expected $want: $(head -c 300 "$work/body")"
}
folder_state() { ls -la "$work/site" | sort; }

# --- the key: nothing without it, not the page, not the stream, not an action.
before=$(folder_state)
expect 403 "the page without a key" GET /
! grep -q '<script' "$work/body" || fail "the page was served without a key"
# The key with its last character changed to one it surely is not.
last=${key: -1}
[ "$last" = 0 ] && other=1 || other=0
expect 403 "a wrong key" GET "/?key=${key%?}$other"
expect 403 "the stream without a key" GET /api/events --max-time 5
expect 403 "a report without a key" POST /api/report -H 'Content-Type: application/json' -d '{}'
curl -s -D "$work/headers" -o "$work/page.html" "$base/?key=$key"
grep -q '<script' "$work/page.html" || fail "the page: $(head -c 300 "$work/page.html")"
grep -iq "^set-cookie: .*=$key; Path=/; HttpOnly; SameSite=Strict" "$work/headers" ||
    fail "the cookie: $(cat "$work/headers")"
cookie=$(sed -n 's/^[Ss]et-[Cc]ookie: \([^;]*\);.*/\1/p' "$work/headers")
! grep -Eqi '(src|href)="?(https?:)?//' "$work/page.html" || fail "the page fetches from elsewhere"
expect 200 "the state by the cookie" GET /api/state -b "$cookie"

# --- another Host (a name that DNS rebinding points here), another Origin, a big body.
expect 403 "another Host" GET "/api/state?key=$key" -H "Host: rebound.example:$port"
expect 403 "another Host on a POST" POST /api/report -b "$cookie" -H "Host: localhost.evil:$port" -d '{}'
expect 403 "another Origin" POST /api/report -b "$cookie" -H 'Origin: http://evil.example' -d '{}'
expect 403 "the null Origin" POST /api/report -b "$cookie" -H 'Origin: null' -d '{}'
head -c $((5 * 1024 * 1024)) /dev/zero | tr '\0' ' ' >"$work/big.json"
expect 413 "a body over 4 MiB" POST /api/report -b "$cookie" -H 'Content-Type: application/json' \
    --data-binary "@$work/big.json"
# --- names that leave the site folder.
for name in ../x.csv /etc/passwd.csv '..\\x.csv' 'C:x.csv' .hidden.csv; do
    expect 400 "plan name $name" POST /api/check -b "$cookie" -H "Origin: $base" \
        -d "{\"plan\": \"$name\"}"
done
for body in '{"schedule": "../x.csv"}' '{"plan": "a/b.csv", "dryRun": false}' \
    '{"plans": ["undo-1.csv", "../x.csv"], "dryRun": false}' '{"plans": "undo-1.csv"}'; do
    expect 400 "names in $body" POST "$([[ $body == *schedule* ]] && echo /api/assign || echo /api/apply)" \
        -b "$cookie" -H "Origin: $base" -d "$body"
done
for name in ../x.csv .x.csv x.html 'a\\b.csv'; do
    expect 400 "saving $name" POST /api/file -b "$cookie" -H "Origin: $base" \
        -d "{\"name\": \"$name\", \"text\": \"mac\\n\"}"
done
expect 403 "saving from another site" POST /api/file -b "$cookie" -H 'Origin: http://evil.example' \
    -d '{"name": "x.csv", "text": "mac\n"}'
ln -s /etc/hostname "$work/site/link.html"
expect 404 "a link out of the folder" GET /files/link.html -b "$cookie"
expect 404 "a path in a file name" GET /files/..%2Fui.out -b "$cookie"
expect 405 "another method" PUT /api/report -b "$cookie" -d '{}'
rm "$work/site/link.html"
[ "$(folder_state)" = "$before" ] || fail "a refused request wrote: $(ls -la "$work/site")"
grep -q 'refused: a request from another site (http://evil.example)' "$work/ui.err" ||
    fail "refusals are not said on the terminal: $(cat "$work/ui.err")"

# --- the view-only listener: the site, but no action, whatever the key.
vbase=http://$TESTNET_TOOL_IP:$view_port
code=$(curl -s -o "$work/body" -w '%{http_code}' "$vbase/api/state?key=$view_key")
[ "$code" = 200 ] && grep -q '"viewOnly":true' "$work/body" || fail "view-only state: $code"
code=$(curl -s -o "$work/body" -w '%{http_code}' "$vbase/api/state?key=$key")
[ "$code" = 403 ] || fail "the view-only listener took the main key: $code"
code=$(curl -s -o "$work/body" -w '%{http_code}' -X POST -d '{}' "$vbase/api/report?key=$view_key")
[ "$code" = 403 ] || fail "a POST on the view-only listener: $code"
[ "$(folder_state)" = "$before" ] || fail "a refused request wrote: $(ls -la "$work/site")"

# --- the site live: both stand-ins, then a third panel that appears while the stream is open.
macs() { grep -o '"mac":"[0-9A-F:]*"' "$1" | sort -u | wc -l; }
wait_for 20 bash -c "curl -s -b '$cookie' '$base/api/state' >'$work/state.json'; [ \$(grep -o '\"online\":true' '$work/state.json' | wc -l) -eq 2 ]" ||
    fail "two panels: $(cat "$work/state.json")"
curl -s -N -b "$cookie" --max-time 60 "$base/api/events" >"$work/events" &
events_pid=$!
track "$events_pid"
ip netns exec "${panel_ns[1]}" "$standin" --exit-after 600 --ip 10.83.7.9 --mac 00:50:2A:07:00:09 \
    >"$work/standin1.out" 2>&1 &
standin1_pid=$!
track "$standin1_pid"
wait_for 30 grep -q '"mac":"00:50:2A:07:00:09"' "$work/events" || fail "the new panel did not stream"
stop "$events_pid"

# --- twelve live pages open: each holds a stream, and an action is still answered.
streams=()
for n in $(seq 12); do
    curl -s -N -b "$cookie" --max-time 120 "$base/api/events" >"$work/stream$n" &
    streams+=("$!")
done
track "${streams[@]}"
wait_for 30 bash -c "for n in \$(seq 12); do grep -q '^event: snapshot' '$work/stream'\$n || exit 1; done" ||
    fail "not every live page got the state"
code=$(curl -s -o "$work/body" -w '%{http_code}' --max-time 20 -X POST -b "$cookie" \
    -H "Origin: $base" -d '{"plan": "none.csv"}' "$base/api/check") || true
[ "$code" = 202 ] || fail "an action with twelve live pages open: HTTP $code"
wait_for 20 grep -q "check: 'none.csv'\|check: .*none.csv" "$work/ui.err" || fail "the check of a missing plan said nothing"
stop "${streams[@]}"

# --- a page that reconnects names its last event: it gets what it missed since (the check's
# lines), not the state whole; a name from another run gets the state whole.
last_id=$(grep '^id: ' "$work/events" | tail -n 1 | cut -c5-)
for resumed in "$last_id delta" "1.1 snapshot"; do
    set -- $resumed
    curl -s -N -b "$cookie" --max-time 3 -H "Last-Event-ID: $1" "$base/api/events" >"$work/resumed" || true
    first=$(grep -m 1 '^event: ' "$work/resumed" | cut -c8-)
    [ "$first" = "$2" ] || fail "reconnected after $1: $first, not $2: $(head -c 600 "$work/resumed")"
done
grep -q "none.csv" "$work/resumed" || fail "the state whole lacks the check's lines"

# --- check against a plan from the site as it is, and report: by POST from the page's origin.
"$cli" --version >/dev/null
curl -s -b "$cookie" "$base/api/state" | grep -o '"mac":"[0-9A-F:]*"' | sed 's/.*:"\(.*\)"/\1/' | sort -u >"$work/macs"
{ echo "mac,# note"; sed 's/$/,here/' "$work/macs"; echo "00:50:2A:00:00:99,gone"; } >"$work/site/plan.csv"
expect 202 "check" POST /api/check -b "$cookie" -H "Origin: $base" -d '{"plan": "plan.csv"}'
wait_for 30 bash -c "curl -s -b '$cookie' '$base/api/state' >'$work/state.json'; grep -q '\"busy\":\"\"' '$work/state.json' && grep -q '\"plan\":\"plan.csv\",\"rows\"' '$work/state.json'" ||
    fail "no check result: $(cat "$work/state.json")"
[ "$(grep -o '"result":"as planned"' "$work/state.json" | wc -l)" -eq 3 ] || fail "as planned: $(cat "$work/state.json")"
grep -q '"mac":"00:50:2A:00:00:99","result":"missing"' "$work/state.json" || fail "missing: $(cat "$work/state.json")"
grep -q 'check plan.csv: 3 as planned, 0 differs, 1 missing, 0 extra' "$work/ui.err" || fail "check not on the terminal"
expect 202 "report" POST /api/report -b "$cookie" -H "Origin: $base" -d '{"plan": "plan.csv"}'
reports() { compgen -G "$work/site/report-*.html" || true; }
wait_for 30 bash -c "compgen -G '$work/site/report-*.html' >/dev/null" || fail "no report written"
[ "$(reports | wc -l)" -eq 1 ] || fail "reports: $(reports)"
report=$(basename "$(reports)")
expect 200 "the report" GET "/files/$report" -b "$cookie"
grep -q 00:50:2A:07:00:09 "$work/body" || fail "the report lacks the new panel"
# A report without a plan (the page sends an empty one): its work done is the site folder's
# records (an undo plan of a panel of the site), not those of the folder the program was started
# in.
printf 'mac,ip\n%s,10.83.9.9\n' "$(head -1 "$work/macs")" >"$work/site/undo-2026-01-02-030405.csv"
expect 202 "report without a plan" POST /api/report -b "$cookie" -H "Origin: $base" -d '{"plan": ""}'
wait_for 30 bash -c "grep -qs 'undo-2026-01-02-030405.csv' '$work/site'/report-*.html" ||
    fail "the report without a plan lacks the site folder's work done"
rm "$work/site/undo-2026-01-02-030405.csv"
# A file saved into the folder never replaces one that is there.
expect 409 "saving over a file" POST /api/file -b "$cookie" -H "Origin: $base" \
    -d '{"name": "plan.csv", "text": "mac\n"}'
grep -q '00:50:2A:00:00:99' "$work/site/plan.csv" || fail "plan.csv was replaced"

# --- Undo of several undo plans as one: two applies leave two undo plans, and the page's Undo
# of both, named newest first, takes them earliest first as `apply U1 U2` does.
# act BODY WHAT: an apply asked for as the page asks, waited for; the state after it in state.json.
act() {
    expect 202 "$2" POST /api/apply -b "$cookie" -H "Origin: $base" -d "$1"
    wait_for 60 bash -c "curl -s -b '$cookie' '$base/api/state' >'$work/state.json'; grep -q '\"busy\":\"\"' '$work/state.json'" ||
        fail "$2 did not end: $(cat "$work/state.json")"
}
cell() { # cell CSV MAC COLUMN
    awk -F, -v mac="$2" -v col="$3" 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == col) c = i; next }
                                      $1 == mac { print $c }' "$1"
}
undos() { (cd "$work/site" && compgen -G 'undo-*.csv') || true; }
count() { grep -o "$1" "$work/state.json" | wc -l || true; }
a=$(sed -n '2s/,.*//p' "$work/first.csv") b=$(sed -n '3s/,.*//p' "$work/first.csv")
printf 'mac,ip\n%s,10.83.5.1\n%s,10.83.5.2\n' "$a" "$b" >"$work/site/move1.csv"
printf 'mac,ip,unlock\n%s,10.83.5.1,9\n%s,10.83.5.3,%s\n' "$a" "$b" "$(cell "$work/first.csv" "$b" unlock)" \
    >"$work/site/move2.csv"
act '{"plan": "move1.csv", "dryRun": false}' "apply move1.csv"
u1=$(undos)
act '{"plan": "move2.csv", "dryRun": false}' "apply move2.csv"
u2=$(undos | grep -vxF "$u1")
[ "$(count '"result":"verified"')" -eq 2 ] && [ -n "$u1" ] && [ "$(echo "$u2" | wc -l)" -eq 1 ] ||
    fail "two applies: '$u1' '$u2' $(cat "$work/state.json")"
act "{\"plans\": [\"$u2\", \"$u1\"]}" "the dry run of both"
grep -q "\"plan\":\"$u1 + $u2\"" "$work/state.json" || fail "not earliest first: $(cat "$work/state.json")"
[ "$(count '"result":"to write"')" -eq 3 ] || fail "merged dry run: $(cat "$work/state.json")"
for change in "ip $a 10.83.5.1" "unlock $a 9" "ip $b 10.83.5.3"; do
    read -r field mac old <<<"$change"
    grep -qF "{\"field\":\"$field\",\"mac\":\"$mac\",\"new\":\"$(cell "$work/first.csv" "$mac" "$field")\",\"old\":\"$old\",\"result\":\"to write\"}" \
        "$work/state.json" || fail "merged dry run lacks $change: $(cat "$work/state.json")"
done
# A plan that is no undo plan among them: refused in apply's words, nothing written.
act "{\"plans\": [\"$u1\", \"plan.csv\"], \"dryRun\": false}" "a plan among undo plans"
grep -q "plan.csv:2: no raw and undoes bytes" "$work/state.json" &&
    grep -q "apply plan.csv + $u1: nothing was written" "$work/ui.err" ||
    fail "a plan among undo plans: $(cat "$work/state.json")"
[ "$(undos | wc -l)" -eq 2 ] || fail "a refused or dry run saved an undo plan: $(undos)"
act "{\"plans\": [\"$u2\", \"$u1\"], \"dryRun\": false}" "the undo of both"
[ "$(count '"result":"verified"')" -eq 2 ] || fail "the undo of both: $(cat "$work/state.json")"
# A panel whose replies come 700 ms late is written from the page as `callpanel apply` writes it:
# the search before the writes waits for it instead of giving up after the site's short rounds.
stop "$standin1_pid"
ip netns exec "${panel_ns[1]}" "$standin" --exit-after 600 --ip 10.83.7.9 --mac 00:50:2A:07:00:09 \
    --delay-ms 700 >"$work/standin1.out" 2>&1 &
track "$!"
wait_for 20 grep -qs '^ready' "$work/standin1.out" || fail "the late stand-in did not start"
printf 'mac,unlock\n00:50:2A:07:00:09,4\n' >"$work/site/late.csv"
act '{"plan": "late.csv", "dryRun": false}' "apply to a late panel"
[ "$(count '"result":"verified"')" -eq 1 ] || fail "apply to a late panel: $(cat "$work/state.json")"

# --- a second ui of the same user opens the running page instead of failing.
out=$("$cli" ui --no-browser "$work/site" 2>&1) || fail "second ui: $out"
[ "$out" = "callpanel: open $url" ] || fail "second ui: $out"

# --- Ctrl+C ends it as the other commands: exit 130.
rc=0
kill -INT "$ui_pid"
wait "$ui_pid" || rc=$?
untrack "$ui_pid"
[ "$rc" -eq 130 ] || fail "Ctrl+C: exit $rc"
# The Undo of both put the stand-ins back on their first bytes.
"$cli" search --format csv >"$work/after.csv" 2>"$work/after.err" || true
! grep -vxF -f "$work/after.csv" "$work/first.csv" || fail "not put back: $(cat "$work/after.csv")"

# --- without a folder: the sites of the documents folder's "Call panel sites", and New site.
export XDG_DOCUMENTS_DIR=$work/docs
root="$work/docs/Call panel sites"
show_on_failure --tail 30 ui2.out ui2.err
"$cli" ui --no-browser >"$work/ui2.out" 2>"$work/ui2.err" &
ui_pid=$!
track "$ui_pid"
wait_for 30 grep -qs '^callpanel: open ' "$work/ui2.out" || fail "ui without a folder did not start"
url=$(sed -n 's/^callpanel: open \(http:[^ ]*\)$/\1/p' "$work/ui2.out")
[[ $url =~ ^http://127\.0\.0\.1:([0-9]+)/\?key=([0-9a-f]{32})$ ]] || fail "printed line: $url"
base=http://127.0.0.1:${BASH_REMATCH[1]}
cookie=$(curl -s -D - -o /dev/null "$url" | sed -n 's/^[Ss]et-[Cc]ookie: \([^;]*\);.*/\1/p')
expect 200 "the state without a folder" GET /api/state -b "$cookie"
[ -d "$root" ] || fail "the sites' folder was not made on first use"
mkdir "$root/Block A" "$work/outside"
ln -s "$work/outside" "$root/link"
expect 200 "the sites" GET /api/state -b "$cookie"
grep -q '"sites":\["Block A"\]' "$work/body" || fail "sites offered: $(head -c 300 "$work/body")"
sites_state() { find "$work/docs" "$work/outside" | sort; }
before=$(sites_state)
# Refused with nothing made: each name and the status it gets.
while read -r want name; do
    expect "$want" "new site '$name'" POST /api/site -b "$cookie" -H "Origin: $base" \
        -d "{\"name\": \"$name\", \"create\": true}"
done <<'NAMES'
400 ..
400 ../escaped
400 a/b
400 /tmp/abs
400 ..\\up
400 C:drive
400 link
409 Block A
NAMES
[ "$(sites_state)" = "$before" ] || fail "a refused new site made something: $(sites_state)"
expect 200 "the state after refusals" GET /api/state -b "$cookie"
grep -q '"folder":""' "$work/body" || fail "a refused new site was opened: $(head -c 300 "$work/body")"
# A safe name: made, and opened.
expect 200 "new site Block B" POST /api/site -b "$cookie" -H "Origin: $base" \
    -d '{"name": "Block B, Main Street 5", "create": true}'
[ -d "$root/Block B, Main Street 5" ] || fail "the new site's folder was not made"
expect 200 "the state after New site" GET /api/state -b "$cookie"
grep -q "\"folder\":\"$root/Block B, Main Street 5\"" "$work/body" ||
    fail "the new site is not open: $(head -c 300 "$work/body")"
grep -q 'new site Block B, Main Street 5' "$work/ui2.err" || fail "New site not on the terminal"
rc=0
kill -INT "$ui_pid"
wait "$ui_pid" || rc=$?
untrack "$ui_pid"
[ "$rc" -eq 130 ] || fail "Ctrl+C without a folder: exit $rc"
echo PASS
