#!/usr/bin/env bash
# Benchmarks of the tool, run on demand (as root; not part of the test suite):
#   tools/bench/run_bench.sh            BUILD_DIR defaults to build-bench/ (Release)
# Builds what it needs, makes a private test network of 100 panel namespaces, and measures in
# one run: search completeness and latency with 1, 10, 50 and 100 stand-in panels, and (in a
# second network) with 20 panels on two segments and no default route; start-up
# time, idle resident memory and idle CPU time of the real program against a minimal Qt
# Widgets window built with the same flags; and callpanel's rows (below). Prints one table and
# writes it to tools/bench/results.md; each row names the commit it measured and the day.
# BENCH_ONLY=callpanel measures only the callpanel rows and puts them in results.md in place of
# the rows of the same measures (replace_rows.awk); CALLPANEL_SECTIONS picks some of their groups:
#   search       search of 1,000 panels at 0, 10 and 20 % loss each way
#   search2000   search of 2,000 panels as root and with the receive buffer that stock Debian's
#                and the package's net.core.rmem_max give a normal user (BENCH_ONLY=callpanel-search:
#                these two groups only)
#   set          set on a unique name among 1,000 panels at 0 and 20 % loss: time to the write
#   delete       delete-cards on one of 1,000 panels at 0 and 30 % loss
#   apply        callpanel-bench-minimal (the protocol's least) against apply of 100 and 1,000
#                changed panels on a clean network, and apply under loss (LOSS_RUNS: runs of the
#                20-panel loss rows, default 20)
#   commission   check and report of 2,000 panels beyond their search; assign --watch of 50 new
#                panels powered a second apart, from each one's first answer to verified; the
#                as-built plan of 2,000 rows written whole and synced after each row
#   order        assign --watch ordering: two new panels powered 0.5 s apart behind 20 % loss
#                each way (ORDER_RUNS trials, default 20): in order, grouped or wrong (the
#                later one given row 1; must be 0); not in the default groups
# Every row counts the requests that left the tool's namespace (nftables counters) and notes
# the load. Nothing outside the test networks is changed, the machine's net.core.rmem_max
# included; every callpanel run and each test network is bounded by a timeout
# (CLI_TIMEOUT, BENCH_TIMEOUT), and INT, TERM or HUP end the run and its networks at once.
set -euo pipefail
# shellcheck source=SCRIPTDIR/../../tests/lib/x11.sh
. "$(dirname "$0")/../../tests/lib/x11.sh"
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
readonly PANEL_COUNTS=(1 10 50 100)
readonly SEGMENT_PANELS=20 # on two segments, 10 each
readonly ROUNDS=${BENCH_ROUNDS:-5}
readonly IDLE_SECONDS=10
readonly TITLE='Call Panel settings Tool V1.4'

# What every row was measured on: the commit and the day, with a + when the code has changes
# not yet committed (results.md itself aside). It is worked out once, before the test networks
# start.
if [ -z "${BENCH_MEASURED:-}" ]; then
    commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo "no commit")
    git -C "$root" diff --quiet HEAD -- . ':!tools/bench/results.md' 2>/dev/null || commit+=+
    BENCH_MEASURED="$commit, $(date -u +%Y-%m-%d)"
    export BENCH_MEASURED
fi

# The test networks run in the background so that a signal reaches this script at once; it
# ends them (they remove their namespaces) and exits. Nothing here touches the machine's own
# settings: the receive buffers of other limits are asked for with CALLPANEL_RECEIVE_BUFFER.
child=
in_testnet() {
    timeout -k 30 "${BENCH_TIMEOUT:-3600}" "$root/tools/testnet.sh" "$@" &
    child=$!
    local rc=0
    wait "$child" || rc=$?
    child=
    return "$rc"
}
on_signal() {
    trap - INT TERM HUP
    if [ -n "$child" ]; then
        kill -TERM "$child" 2>/dev/null || true
        wait "$child" 2>/dev/null || true
    fi
    exit "$1"
}

if [ -z "${TESTNET_TOOL_NS:-}" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "run_bench.sh needs root (network namespaces)" >&2; exit 1; }
    trap 'on_signal 130' INT
    trap 'on_signal 143' TERM
    trap 'on_signal 129' HUP
    echo "=== building in $build"
    if [ ! -f "$build/CMakeCache.txt" ]; then
        read -r -a extra <<<"${BENCH_CMAKE_ARGS:-}" # e.g. "-DCMAKE_CXX_FLAGS=..."
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release "${extra[@]}" >/dev/null
    fi
    targets=(callpanel-standin callpanel callpanel-bench-minimal callpanel-bench-plan)
    [[ ${BENCH_ONLY:-} == callpanel* ]] ||
        targets+=(callpanel-tool callpanel-bench-search callpanel-bench-baseline callpanel-bench-window)
    cmake --build "$build" -j"${JOBS:-2}" --target "${targets[@]}" >/dev/null
    # Everything else happens inside the private networks: first the laptop on two segments,
    # whose row the main run puts into the table.
    segments_row=$(mktemp)
    callpanel_rows=$(mktemp)
    trap 'rm -f "$segments_row" "$callpanel_rows"' EXIT
    case ${BENCH_ONLY:-} in
    callpanel-search) sections=${CALLPANEL_SECTIONS:-search search2000} ;;
    *) sections=${CALLPANEL_SECTIONS:-search search2000 set delete apply jitter commission watch} ;;
    esac
    in_testnet --panels 100 -- \
        env BUILD_DIR="$build" BENCH_PART=callpanel BENCH_ROW="$callpanel_rows" \
        SECTIONS="$sections" "$0"
    if [[ ${BENCH_ONLY:-} == callpanel* ]]; then
        # Only these rows: each replaces the row of the same measure in the table, the others
        # stay as they were measured.
        awk -v rows="$callpanel_rows" -f "$here/replace_rows.awk" "$here/results.md" >"$here/results.md.new"
        mv "$here/results.md.new" "$here/results.md"
        exit
    fi
    in_testnet --topology twosegments --panels "$SEGMENT_PANELS" -- \
        env BUILD_DIR="$build" BENCH_PART=segments BENCH_ROW="$segments_row" "$0"
    in_testnet --panels "${PANEL_COUNTS[-1]}" -- \
        env BUILD_DIR="$build" BENCH_ROW="$segments_row" CALLPANEL_ROWS="$callpanel_rows" "$0"
    exit
fi

tool=$build/app/callpanel-tool
standin=$build/tools/callpanel-standin
search=$build/tools/bench/callpanel-bench-search
baseline=$build/tools/bench/callpanel-bench-baseline
window=$build/tools/bench/callpanel-bench-window
cli=$build/cli/callpanel
minimal=$build/tools/bench/callpanel-bench-minimal
planbench=$build/tools/bench/callpanel-bench-plan
begin_work
export XDG_STATE_HOME=$work/state # the undo plans of the applies stay in the scratch folder

# The value of `key` in the RESULT line of file $1.
result() { grep '^RESULT' "$1" | tr ' ' '\n' | sed -n "s/^$2=//p"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

read -r -a panel_ns <<<"$TESTNET_PANEL_NS"
rmem_max=$(cat /proc/sys/net/core/rmem_max)
rmem_default=$(cat /proc/sys/net/core/rmem_default)
echo "=== tool namespace: net.core.rmem_max $rmem_max, net.core.rmem_default $rmem_default"

# launch_standin P ARGS...: starts a stand-in in panel namespace P, not waiting for it.
launch_standin() {
    local p=$1
    shift
    ip netns exec "${panel_ns[p]}" "$standin" "$@" >"$work/standin$p.out" 2>&1 &
    track "$!"
    started+=("$!")
}

# Waits until the stand-ins of the first $1 panel namespaces are ready.
await_standins() {
    local p
    for ((p = 0; p < $1; p++)); do
        wait_for 20 grep -q '^ready' "$work/standin$p.out" || { echo "stand-in $p not ready" >&2; exit 1; }
    done
}

# Starts one stand-in in each of the first $1 panel namespaces and waits until all are ready.
start_standins() {
    local n=$1 p
    started=()
    for ((p = 0; p < n; p++)); do launch_standin "$p" --exit-after 600; done
    await_standins "$n"
}

# callpanel on a site that behaves like one: a thousand panels answering one search, and plans
# applied while datagrams are lost at random at the panels (nftables numgen; no netem here).
# SECTIONS names the groups of rows to measure (search search2000 set delete apply jitter
# commission watch; syncs and order only when named).
if [ "${BENCH_PART:-}" = callpanel ]; then
    ms_now() { echo $(($(date +%s%N) / 1000000)); }
    # Milliseconds from $EPOCHREALTIME value $1 to $2.
    ms_between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%d", (b - a) * 1000 }'; }
    # Each line of standard input after the time it came ($EPOCHREALTIME: no process per line).
    stamp() { while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done; }
    section() { [[ " ${SECTIONS:-search search2000 set delete apply jitter commission watch} " == *" $1 "* ]]; }
    # Bounds every callpanel run: a benchmark never waits for ever.
    run_cli() { timeout -k 5 "${CLI_TIMEOUT:-120}" "$@"; }
    load() { cut -d' ' -f1 /proc/loadavg; }
    # Drops $1 % of port-8300 datagrams each way in the first $2 panel namespaces (0: none).
    loss() {
        local p
        for ((p = 0; p < $2; p++)); do
            ip netns exec "${panel_ns[p]}" nft delete table inet loss 2>/dev/null || true
            [ "$1" -gt 0 ] || continue
            ip netns exec "${panel_ns[p]}" nft -f - <<EOT
table inet loss {
    chain in { type filter hook input priority 0; udp dport 8300 numgen random mod 100 < $1 drop; }
    chain out { type filter hook output priority 0; udp sport 8300 numgen random mod 100 < $1 drop; }
}
EOT
        done
    }
    # The requests the tool sends, by command byte (search 0xFC, write 0xFE, card deletion
    # 0x36), counted as they leave for the panels.
    nft -f - <<EOT
table inet bench {
    counter searches {}
    counter writes {}
    counter deletions {}
    chain out {
        type filter hook output priority 0; oifname "lo" accept;
        udp dport 8300 @th,112,8 0xfc counter name searches;
        udp dport 8300 @th,112,8 0xfe counter name writes;
        udp dport 8300 @th,112,8 0x36 counter name deletions;
    }
}
EOT
    reset_sent() { nft reset counters table inet bench >/dev/null; }
    sent() { nft list counter inet bench "$1" | awk '/packets/ { print $2 }'; }
    median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
    worst() { printf '%s\n' "$@" | sort -n | tail -n1; }
    crows=()

    # start_site N: N stand-in panels in each of the 100 namespaces, all in 10.83.0.0/16.
    start_site() {
        started=()
        for ((p = 0; p < 100; p++)); do
            launch_standin "$p" --panels "$1" --base-ip "10.83.$((p + 1)).1" --subnet 255.255.0.0 --exit-after 900
        done
        await_standins 100
    }

    # search_runs N LOSS: ROUNDS searches of the N panels at LOSS % each way; one row.
    search_runs() {
        local n=$1 pct=$2 r listed listed_min=$1 short=0 times=() searches=()
        loss "$pct" 100
        for ((r = 0; r < ROUNDS; r++)); do
            reset_sent
            t0=$(ms_now)
            run_cli "$cli" search --format csv >"$work/s.csv" 2>"$work/s.err" || true
            times+=($(($(ms_now) - t0)))
            searches+=("$(sent searches)")
            listed=$(($(wc -l <"$work/s.csv") - 1))
            [ "$listed" -lt "$listed_min" ] && listed_min=$listed
            grep -q 'may be short' "$work/s.err" && short=$((short + 1))
            echo "search $n at $pct % loss, run $r: $listed listed, ${searches[-1]} searches, ${times[-1]} ms"
        done
        loss 0 100
        crows+=("| callpanel search, $n panels, $pct % of datagrams lost each way | $listed_min of $n listed (worst of $ROUNDS runs; $short run(s) said the list may be short); $(median "${searches[@]}") searches (median; most $(worst "${searches[@]}")) | $(median "${times[@]}") ms (median; worst $(worst "${times[@]}") ms) | default options; load $(load) |")
    }

    read -r -a normal_user <<<"setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all"
    machine_rmem_max=$(cat /proc/sys/net/core/rmem_max)
    package_rmem_max=$(sed -n 's/^net\.core\.rmem_max *= *//p' "$root/packaging/sysctl.d/60-callpanel-tool.conf")
    # A normal user under a limit L gets L (asking for more); root gets exactly what it asks
    # for. So the buffer of a computer whose limit is L is asked for with the variable: as a
    # normal user when this machine's limit allows L, else as root. The machine's value is
    # never changed.
    limited_to() {
        buffer=(CALLPANEL_RECEIVE_BUFFER="$1") as=()
        [ "$machine_rmem_max" -lt "$1" ] || as=("${normal_user[@]}")
    }

    if section search; then
        echo "=== callpanel search, 1000 panels (10 in each of 100 namespaces)"
        start_site 10
        for pct in 0 10 20; do search_runs 1000 "$pct"; done
        stop "${started[@]}"
    fi

    if section search2000; then
        echo "=== callpanel search, 2000 panels (20 in each of 100 namespaces)"
        start_site 20
        for who in root stock package; do
            times=() listed_min=2000 short_runs=0 drops=() as=() buffer=()
            case $who in
            root) label="as root" ;;
            stock) limited_to 212992
                label="net.core.rmem_max 212992 (stock Debian), as a normal user gets it" ;;
            package) limited_to "$package_rmem_max"
                label="net.core.rmem_max $package_rmem_max (the package's sysctl.d), as a normal user gets it" ;;
            esac
            for ((r = 0; r < 3; r++)); do
                t0=$(ms_now)
                run_cli env "${buffer[@]}" "${as[@]}" "$cli" search --format csv >"$work/s2000.csv" 2>"$work/s2000.err" || true
                times+=($(($(ms_now) - t0)))
                listed=$(($(wc -l <"$work/s2000.csv") - 1))
                [ "$listed" -lt "$listed_min" ] && listed_min=$listed
                grep -q 'may be short' "$work/s2000.err" && short_runs=$((short_runs + 1))
                dropped=$(sed -n 's/.*dropped \([0-9]*\) repl.* in \([0-9]*\) search.*/\1 in \2/p' "$work/s2000.err" | head -n1)
                [ -z "$dropped" ] || drops+=("$dropped")
                echo "search 2000 $label, run $r: $listed listed in ${times[-1]} ms; dropped: ${dropped:-none}"
            done
            crows+=("| callpanel search, 2000 panels answering at once, $label | $listed_min of 2000 listed (worst of 3 runs; $short_runs run(s) said the list may be short; dropped: $(IFS=,; echo "${drops[*]:-none}" | sed 's/,/, /g')) | $(median "${times[@]}") ms (median; worst $(worst "${times[@]}") ms) | default options; load $(load) |")
        done
        stop "${started[@]}"
    fi

    if section set || section delete; then
        echo "=== callpanel set and delete-cards on one of 1000 panels"
        start_site 10
        run_cli "$cli" search --format csv --repeat 3 >"$work/site.csv"
        target=$(awk -F, '$5 == "10.83.1.1" { print $1 }' "$work/site.csv")
        [ -n "$target" ] || { echo "no panel at 10.83.1.1" >&2; exit 1; }
        for pct in $(section set && echo 0 20); do
            loss "$pct" 100
            times=() decided=() searches=() verified=0
            for ((r = 0; r < ROUNDS; r++)); do
                reset_sent
                t0=$EPOCHREALTIME
                sets=$((${sets:-0} + 1)) # 7 s and 5 s in turn over all runs: each one writes
                run_cli "$cli" set "$target" --unlock $((sets % 2 ? 7 : 5)) >"$work/set.out" 2> >(stamp >"$work/set.err") || true
                t1=$EPOCHREALTIME
                wait_for 5 grep -q 'undo plan' "$work/set.err" || true
                times+=("$(ms_between "$t0" "$t1")")
                searches+=("$(sent searches)")
                t2=$(awk '/undo plan/ { print $1; exit }' "$work/set.err")
                [ -z "$t2" ] || decided+=("$(ms_between "$t0" "$t2")")
                grep -q ': verified' "$work/set.out" && verified=$((verified + 1))
                echo "set at $pct % loss, run $r: written after ${t2:+$(ms_between "$t0" "$t2")} ms, done in ${times[-1]} ms, ${searches[-1]} searches; $(tail -n1 "$work/set.out")"
            done
            loss 0 100
            crows+=("| callpanel set on a unique name among 1000 panels, $pct % of datagrams lost each way | verified in $verified of $ROUNDS runs; $(median "${searches[@]}") searches (median; most $(worst "${searches[@]}")) | decided in $(median "${decided[@]}") ms (median; worst $(worst "${decided[@]}") ms), done in $(median "${times[@]}") ms | default options; load $(load) |")
        done
        for pct in $(section delete && echo 0 30); do
            loss "$pct" 100
            times=() searches=() deleted=0
            for ((r = 0; r < 3; r++)); do
                reset_sent
                t0=$(ms_now)
                run_cli "$cli" delete-cards "$target" --yes >"$work/del.out" 2>&1 || true
                times+=($(($(ms_now) - t0)))
                searches+=("$(sent searches)")
                grep -q 'Del Success' "$work/del.out" && deleted=$((deleted + 1))
                echo "delete-cards at $pct % loss, run $r: ${times[-1]} ms, ${searches[-1]} searches, $(sent deletions) request(s); $(tail -n1 "$work/del.out")"
            done
            loss 0 100
            crows+=("| callpanel delete-cards on one of 1000 panels, $pct % of datagrams lost each way | deleted in $deleted of 3 runs; $(median "${searches[@]}") searches (median; most $(worst "${searches[@]}")) | $(median "${times[@]}") ms (median; worst $(worst "${times[@]}") ms) | default options; load $(load) |")
        done
        stop "${started[@]}"
    fi

    # make_plans: plan-a moves every panel of the site in $work/export.csv 100 addresses up and
    # sets 7 s; plan-b puts them back.
    make_plans() {
        awk 'BEGIN { FS = OFS = "," } NR > 1 { split($5, p, "."); $5 = p[1] "." p[2] "." p[3] "." (p[4] + 100); $9 = 7 }
            { print }' "$work/export.csv" >"$work/plan-a.csv"
        cp "$work/export.csv" "$work/plan-b.csv"
    }
    # The site of $1 panels: one per namespace up to 100, else $1 / 100 in each. Further
    # arguments go to every stand-in (each namespace's --seed its own, for --jitter-ms).
    start_apply_site() {
        local n=$1
        shift
        started=()
        rm -f "$work"/standin*.out # holding reads every stand-in's lines: only this site's
        if [ "$n" -le 100 ]; then
            for ((p = 0; p < n; p++)); do launch_standin "$p" --exit-after 900 --seed "$p" "$@"; done
            await_standins "$n"
        else
            start_site $((n / 100))
        fi
        run_cli "$cli" search --format csv --repeat 3 >"$work/export.csv"
        [ "$(($(wc -l <"$work/export.csv") - 1))" -eq "$n" ] || { echo "export lacks panels" >&2; exit 1; }
        make_plans
        flips=0
    }
    # The plan for the next run: plan-a and plan-b in turn, whichever program ran last, so
    # that every run changes every panel.
    next_plan() {
        plan=$work/plan-$([ $((flips % 2)) -eq 0 ] && echo a || echo b).csv
        flips=$((flips + 1))
    }
    # minimal_runs N: the least the wire allows, ROUNDS runs; sets min_ms (the median of the
    # runs in which every panel held its row: a write lost on the way fails a run).
    minimal_runs() {
        local n=$1 r times=() searches=() ok=0
        for ((r = 0; r < ROUNDS; r++)); do
            next_plan
            if run_cli "$minimal" "$plan" >"$work/min.out" 2>&1; then
                ok=$((ok + 1))
                times+=("$(result "$work/min.out" ms | cut -d. -f1)")
                searches+=("$(result "$work/min.out" searches)")
            fi
            echo "minimal apply of $n panels, run $r: $(grep RESULT "$work/min.out")"
        done
        [ "$ok" -gt 0 ] || { echo "the minimal client never finished" >&2; exit 1; }
        min_ms=$(median "${times[@]}")
        crows+=("| callpanel-bench-minimal: the protocol's least for $n panels changed (search until all answered, each write once, search until all hold) | all held in $ok of $ROUNDS runs; $(median "${searches[@]}") searches (median) | $min_ms ms (median of those; worst $(worst "${times[@]}") ms) | clean network; load $(load) |")
    }
    # holding PLAN: how many rows of PLAN the panels hold (IP address and unlocking time), by
    # the stand-ins' own lines: each panel as it started, then every write that took effect.
    holding() {
        cat "$work"/standin*.out | awk -v plan="$1" '
            BEGIN { FS = ","; while ((getline line < plan) > 0) { split(line, c, ",")
                        if (!n++) { for (i in c) col[c[i]] = i; continue }
                        want[c[col["mac"]]] = c[col["ip"]] " " c[col["unlock"]] } FS = " " }
            /^panel [0-9]+: / || /^write for .* -> / {
                for (i = 1; i < NF; i++) {
                    if ($i == "ip" && !ip) ip = $(i + 1)
                    if ($i == "mac") mac = $(i + 1)
                    if ($i == "unlock") { unlock = $(i + 1); sub(/[^0-9].*/, "", unlock) }
                }
                held[mac] = ip " " unlock; ip = ""
            }
            END { for (m in want) if (held[m] == want[m]) k++; print k + 0 }'
    }
    # apply_once BIN: one apply of the next plan with callpanel BIN; sets rc, ms, verified,
    # held (rows the panels hold afterwards) and the requests counted.
    apply_once() {
        next_plan
        reset_sent
        rc=0
        local t0
        t0=$(ms_now)
        run_cli "$1" apply "$plan" >"$work/apply.out" 2>&1 || rc=$?
        ms=$(($(ms_now) - t0))
        run_searches=$(sent searches) run_writes=$(sent writes)
        verified=$(grep -c ' verified' "$work/apply.out" || true)
        held=$(holding "$plan")
    }
    # apply_runs N LOSS RUNS [NOTE]: plans moving N panels back and forth, LOSS % lost each way.
    apply_runs() {
        local n=$1 pct=$2 runs=$3 note=${4:-} r ok=0 vmin=$1 hmin=$1 times=() searches=() writes=()
        local spaces=$((n < 100 ? n : 100))
        loss "$pct" "$spaces"
        for ((r = 0; r < runs; r++)); do
            apply_once "$cli"
            times+=("$ms") searches+=("$run_searches") writes+=("$run_writes")
            [ "$verified" -lt "$vmin" ] && vmin=$verified
            [ "$held" -lt "$hmin" ] && hmin=$held
            [ "$rc" -eq 0 ] && ok=$((ok + 1))
            echo "apply $n panels, $pct % loss$note, run $r: exit $rc, $verified of $n verified, $held held, $ms ms, $run_searches searches, $run_writes writes"
        done
        loss 0 "$spaces"
        local against="default --rounds 8"
        [ "$pct" -gt 0 ] || [ -n "$note" ] || against="$(ratio "$(median "${times[@]}")" "$min_ms") x the protocol's least ($min_ms ms)"
        crows+=("| callpanel apply, $n panels changed, $pct % of datagrams lost each way$note | exit 0 in $ok of $runs runs; $vmin of $n verified, $hmin of $n held by the panels (worst run); $(median "${searches[@]}") searches, $(median "${writes[@]}") writes (median) | $(median "${times[@]}") ms (median; worst $(worst "${times[@]}") ms) | $against; load $(load) |")
    }
    # apply_in_turn N RUNS: RUNS applies of N panels with this build and as many with BEFORE_CLI,
    # one after the other, on a clean network; the row gives both medians and their ratio.
    apply_in_turn() {
        local n=$1 runs=$2 r who now=() before=() s_now=() s_before=() ok_now=0 ok_before=0 loads=()
        for ((r = 0; r < runs; r++)); do
            for who in now before; do
                apply_once "$([ "$who" = now ] && echo "$cli" || echo "$BEFORE_CLI")"
                [ "$rc" -eq 0 ] && [ "$held" -eq "$n" ] && { [ "$who" = now ] && ok_now=$((ok_now + 1)) || ok_before=$((ok_before + 1)); }
                if [ "$who" = now ]; then now+=("$ms") s_now+=("$run_searches"); else before+=("$ms") s_before+=("$run_searches"); fi
                echo "apply $n panels, $who, run $r: exit $rc, $verified verified, $held held, $ms ms, $run_searches searches, $run_writes writes"
            done
            loads+=("$(load)")
        done
        local m_now m_before
        m_now=$(median "${now[@]}") m_before=$(median "${before[@]}")
        crows+=("| callpanel apply, $n panels changed on a clean network, run in turn with ${BEFORE_LABEL:-BEFORE_CLI} | this build: $m_now ms (median; worst $(worst "${now[@]}") ms), $(median "${s_now[@]}") searches (median); exit 0 and all held in $ok_now of $runs | ${BEFORE_LABEL:-before}: $m_before ms (median; worst $(worst "${before[@]}") ms), $(median "${s_before[@]}") searches (median); exit 0 and all held in $ok_before of $runs | $(ratio "$m_now" "$m_before") x (target within 1.10 x); load $(median "${loads[@]}") (median over the runs) |")
    }
    if section apply; then
        for n in 100 1000; do
            echo "=== callpanel apply, $n panels changed, against the protocol's least"
            start_apply_site "$n"
            minimal_runs "$n"
            apply_runs "$n" 0 "$ROUNDS"
            [ "$n" -gt 100 ] || apply_runs 100 20 "$ROUNDS"
            stop "${started[@]}"
        done
        for pct in 20 30; do
            start_apply_site 20
            apply_runs 20 "$pct" "${LOSS_RUNS:-20}"
            stop "${started[@]}"
        done
    fi
    if section jitter; then
        echo "=== callpanel apply, 100 panels changed, replies 0 to 200 ms late"
        start_apply_site 100 --jitter-ms 200
        apply_runs 100 0 "$ROUNDS" ", replies 0 to 200 ms late (each at random, seeded)"
        stop "${started[@]}"
    fi
    if [[ " ${SECTIONS:-} " == *" syncs "* ]]; then
        [ -x "${BEFORE_CLI:-}" ] || { echo "syncs: BEFORE_CLI names no program" >&2; exit 1; }
        for n in 100 1000; do
            echo "=== callpanel apply, $n panels changed, in turn with $BEFORE_CLI"
            start_apply_site "$n"
            apply_in_turn "$n" "${SYNC_RUNS:-7}"
            stop "${started[@]}"
        done
    fi
    if section commission; then
        echo "=== callpanel check and report of 2000 panels, beyond their search"
        start_site 20
        run_cli "$cli" search --format csv >"$work/site2000.csv"
        [ "$(($(wc -l <"$work/site2000.csv") - 1))" -eq 2000 ] || { echo "the site lacks panels" >&2; exit 1; }
        declare -A took=()
        for what in search check report; do
            times=()
            for ((r = 0; r < 3; r++)); do
                case $what in
                search) args=(search --format csv) ;;
                check) args=(check "$work/site2000.csv" --format csv) ;;
                report) args=(report "$work/site2000.csv" --html "$work/site2000.html") ;;
                esac
                rm -f "$work/site2000.html"
                t0=$(ms_now)
                rc=0
                run_cli "$cli" "${args[@]}" >"$work/c.out" 2>"$work/c.err" || rc=$?
                times+=($(($(ms_now) - t0)))
                echo "$what of 2000 panels, run $r: exit $rc in ${times[-1]} ms; $(tail -n1 "$work/c.err")"
                [ "$rc" -eq 0 ] || { echo "$what failed: $(cat "$work/c.err")" >&2; exit 1; }
            done
            took[$what]=$(median "${times[@]}")
            [ "$what" = search ] && continue
            rows=$(grep -c ',as planned,' "$work/c.out" || true)
            crows+=("| callpanel $what of 2000 panels against their plan | $([ "$what" = check ] && echo "$rows of 2000 as planned, exit 0" || echo "$(stat -c %s "$work/site2000.html") bytes of HTML, exit 0") in 3 of 3 runs | $((took[$what] - took[search])) ms beyond the search (median $((took[$what])) ms; search $((took[search])) ms) | goal: 2000 ms beyond; load $(load) |")
        done
        stop "${started[@]}"

        echo "=== assign's as-built plan of 2000 rows, written whole and synced after each row"
        line=$("$planbench" asbuilt 2000 "$work")
        echo "$line"
        per=$(sed -n 's/.*median \([0-9.]*\) ms, worst \([0-9.]*\) ms, \([0-9]*\) ms in all (\([0-9]*\) ms.*/\1 ms (median; worst \2 ms), \3 ms for the 2000 rows, \4 ms of it composing the text/p' <<<"$line")
        crows+=("| callpanel assign's as-built plan of 2000 rows, rewritten whole and synced after each row | 2000 of 2000 written | ${per:-$line} per rewrite | goal: small beside a row's write and read-back (some 250 ms); load $(load) |")
    fi
    if section watch; then

        echo "=== callpanel assign --watch, 50 new panels powered a second apart"
        {
            echo "# location,type,address,facility,ip,mask,gateway,server,unlock"
            for ((n = 1; n <= 50; n++)); do
                echo "Entrance $n,flat,$(printf '%02d' "$n")01000001,0,10.83.1.$n,255.255.0.0,10.83.0.1,10.83.0.254,7"
            done
        } >"$work/schedule.csv"
        rm -f "$work/schedule-as-built.csv"
        timeout -k 5 180 "$cli" assign "$work/schedule.csv" --watch > >(stamp >"$work/assign.out") 2>"$work/assign.err" &
        assign_pid=$!
        track "$assign_pid"
        wait_for 30 grep -qs '^callpanel: watching' "$work/assign.err" || { echo "assign did not start" >&2; exit 1; }
        ip netns exec "${panel_ns[0]}" "$standin" --alike --ip 192.168.1.100 --identity H00000000010 \
            --panels 50 --appear-every 1 --exit-after 300 > >(stamp >"$work/factory.out") 2>&1 &
        factory_pid=$!
        track "$factory_pid"
        rc=0
        wait "$assign_pid" || rc=$?
        untrack "$assign_pid"
        stop "$factory_pid"
        sleep 0.2 # the stamping of the last lines
        # Panel n first answered with the first search reply count above n; it was verified
        # with the n-th "verified" line of assign.
        mapfile -t delays < <(awk '
            FILENAME ~ /factory/ && / search from / { for (i = 1; i <= NF; i++) if ($i == "->") c = $(i + 1)
                while (heard < c) first[++heard] = $1 }
            FILENAME ~ /assign/ && / verified$/ { done[++v] = $1 }
            END { for (n = 1; n <= v; n++) if (n in first) printf "%d\n", (done[n] - first[n]) * 1000 }' \
            "$work/factory.out" "$work/assign.out")
        verified=$(grep -c ' verified$' "$work/assign.out" || true)
        echo "assign: exit $rc, $verified of 50 verified; first answer to verified (ms): ${delays[*]}"
        [ "${#delays[@]}" -gt 0 ] || { echo "assign verified nothing" >&2; exit 1; }
        crows+=("| callpanel assign --watch, 50 new panels powered a second apart | exit $rc; $verified of 50 verified | first answer to verified: $(median "${delays[@]}") ms (median; worst $(worst "${delays[@]}") ms) | goal: median 500 ms; load $(load) |")
    fi
    if [[ " ${SECTIONS:-} " == *" order "* ]]; then
        echo "=== callpanel assign --watch ordering: two panels 0.5 s apart at 20 % loss each way"
        {
            echo "# location,type,address,facility,ip,mask,gateway,server,unlock"
            echo "Entrance 1,flat,0101000001,0,10.83.1.1,255.255.0.0,10.83.0.1,10.83.0.254,7"
            echo "Entrance 2,flat,0201000001,0,10.83.1.2,255.255.0.0,10.83.0.1,10.83.0.254,7"
        } >"$work/two.csv"
        in_order=0 grouped=0 wrong=0 other=0
        for ((r = 0; r < ${ORDER_RUNS:-20}; r++)); do
            rm -f "$work/two-as-built.csv"
            loss 20 2
            timeout -k 5 60 "$cli" assign "$work/two.csv" --watch >"$work/order.out" 2>"$work/order.err" &
            assign_pid=$!
            track "$assign_pid"
            wait_for 30 grep -qs '^callpanel: watching' "$work/order.err" || { echo "assign did not start" >&2; exit 1; }
            ip netns exec "${panel_ns[0]}" "$standin" --alike --ip 192.168.1.100 --identity H00000000010 \
                --mac 00:50:2A:0E:00:01 --exit-after 60 >"$work/first.out" 2>&1 &
            first_pid=$!
            track "$first_pid"
            sleep 0.5
            ip netns exec "${panel_ns[1]}" "$standin" --alike --ip 192.168.1.100 --identity H00000000010 \
                --mac 00:50:2A:0E:00:02 --exit-after 60 >"$work/second.out" 2>&1 &
            second_pid=$!
            track "$second_pid"
            # The order is decided once row 1 is written or the two are named as a group.
            wait_for 20 grep -qs ' row 1 \|powering order is not sure' "$work/order.out" "$work/order.err" || true
            kill -INT "$assign_pid" 2>/dev/null || true
            wait "$assign_pid" || true
            untrack "$assign_pid"
            stop "$first_pid" "$second_pid"
            if grep -q '^00:50:2A:0E:00:01  row 1 ' "$work/order.out"; then
                in_order=$((in_order + 1))
            elif grep -q '^00:50:2A:0E:00:02  row 1 ' "$work/order.out"; then
                wrong=$((wrong + 1))
            elif grep -q 'powering order is not sure' "$work/order.err"; then
                grouped=$((grouped + 1))
            else
                other=$((other + 1))
            fi
            echo "trial $r: in order $in_order, grouped $grouped, wrong $wrong, undecided $other"
        done
        loss 0 2
        crows+=("| callpanel assign --watch, two new panels powered 0.5 s apart, 20 % of datagrams lost each way | in order $in_order, grouped $grouped, wrong $wrong, undecided in 20 s $other, of ${ORDER_RUNS:-20} trials | wrong must be 0 | load $(load) |")
    fi
    for row in "${crows[@]}"; do printf '%s %s |\n' "$row" "$BENCH_MEASURED"; done | tee "$BENCH_ROW"
    exit 0
fi

if [ "${BENCH_PART:-}" = segments ]; then
    n=${#panel_ns[@]}
    echo "=== search with $n panels on two segments, no default route"
    ip route del default
    start_standins "$n"
    QT_QPA_PLATFORM=offscreen "$search" --expect "$n" --rounds "$ROUNDS" | tee "$work/segments.out"
    stop "${started[@]}"
    f=$work/segments.out
    latency=$(result "$f" latency_ms_median)
    echo "| search, $n panels answering on two segments, no default route | $(result "$f" listed_min) of $n listed (worst of $ROUNDS rounds; median $(result "$f" listed_median)) | last line $latency ms after the click (median; worst $(result "$f" latency_ms_max) ms) | $(ratio "$latency" 100) x the 100 ms pass | $BENCH_MEASURED |" >"$BENCH_ROW"
    exit 0
fi

rows=()
for n in "${PANEL_COUNTS[@]}"; do
    echo "=== search with $n panel(s) answering"
    start_standins "$n"
    QT_QPA_PLATFORM=offscreen "$search" --expect "$n" --rounds "$ROUNDS" | tee "$work/search$n.out"
    stop "${started[@]}"
    f=$work/search$n.out
    latency=$(result "$f" latency_ms_median)
    rows+=("| search, $n panel(s) answering | $(result "$f" listed_min) of $n listed (worst of $ROUNDS rounds; median $(result "$f" listed_median)) | last line $latency ms after the click (median; worst $(result "$f" latency_ms_max) ms) | $(ratio "$latency" 100) x the 100 ms pass | $BENCH_MEASURED |")
    so_rcvbuf=$(result "$f" so_rcvbuf)
done
[ ! -s "${BENCH_ROW:-}" ] || rows+=("$(cat "$BENCH_ROW")")
[ ! -s "${CALLPANEL_ROWS:-}" ] || mapfile -t -O "${#rows[@]}" rows <"$CALLPANEL_ROWS"

echo "=== start-up, memory and idle CPU on Xvfb"
start_xvfb 96 || { echo "Xvfb did not start" >&2; exit 1; }
"$window" --title "$TITLE" --runs "$ROUNDS" --idle-seconds "$IDLE_SECONDS" -- "$tool" |
    tee "$work/tool.out"
"$window" --title "Baseline window" --runs "$ROUNDS" --idle-seconds "$IDLE_SECONDS" -- "$baseline" |
    tee "$work/baseline.out"

t_ms=$(result "$work/tool.out" shown_ms_median) b_ms=$(result "$work/baseline.out" shown_ms_median)
t_rss=$(result "$work/tool.out" rss_kib) b_rss=$(result "$work/baseline.out" rss_kib)
t_cpu=$(result "$work/tool.out" idle_cpu_ms) b_cpu=$(result "$work/baseline.out" idle_cpu_ms)
t_sw=$(result "$work/tool.out" idle_switches) b_sw=$(result "$work/baseline.out" idle_switches)
t_thr=$(result "$work/tool.out" threads) b_thr=$(result "$work/baseline.out" threads)
rows+=("| start-up: process start to window mapped | tool $t_ms ms | minimal Qt window $b_ms ms (median of $ROUNDS) | $(ratio "$t_ms" "$b_ms") x | $BENCH_MEASURED |")
rows+=("| idle resident memory, 2 s after the window | tool $((t_rss / 1024)) MiB ($t_rss KiB) | minimal Qt window $((b_rss / 1024)) MiB ($b_rss KiB) | $(ratio "$t_rss" "$b_rss") x | $BENCH_MEASURED |")
rows+=("| idle CPU time over $IDLE_SECONDS s (utime+stime) | tool $t_cpu ms, $t_sw context switches in $t_thr threads | minimal Qt window $b_cpu ms, $b_sw context switches in $b_thr threads | tick $((1000 / $(getconf CLK_TCK))) ms | $BENCH_MEASURED |")

{
    echo "# Benchmark results"
    echo
    echo "Measured by \`tools/bench/run_bench.sh\` on $(date -u +%Y-%m-%d), $(nproc) cores, build $(grep -m1 CMAKE_BUILD_TYPE "$build/CMakeCache.txt" | cut -d= -f2)."
    echo "Tool namespace: net.core.rmem_max $rmem_max, net.core.rmem_default $rmem_default;"
    echo "the endpoint's socket got SO_RCVBUF $so_rcvbuf bytes. Stand-in panels answer at once,"
    echo "each from its own namespace; a search is given up 100 ms after it is sent."
    echo
    echo "Each row names the commit whose code it measured and the day (a \`+\` after the commit: with"
    echo "changes not yet committed). A run with \`BENCH_ONLY\` replaces only its own rows."
    echo
    echo "| measure | tool | against | ratio | measured |"
    echo "|---|---|---|---|---|"
    printf '%s\n' "${rows[@]}"
} >"$work/results.md"
echo
cat "$work/results.md"
cp "$work/results.md" "$here/results.md"
