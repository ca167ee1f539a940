#!/usr/bin/env bash
# Benchmarks of the tool, run on demand (as root; not part of the test suite):
#   tools/bench/run_bench.sh            BUILD_DIR defaults to build-bench/ (Release)
# Builds what it needs, makes a private test network of 100 panel namespaces, and measures in
# one run: search completeness and latency with 1, 10, 50 and 100 stand-in panels, and (in a
# second network) with 20 panels on two segments and no default route; start-up
# time, idle resident memory and idle CPU time of the real program against a minimal Qt
# Widgets window built with the same flags; `callpanel search` of 1000 panels and `apply` of
# plans that change 100 and 20 panels, with and without datagrams lost at random. Prints one table and writes it to
# tools/bench/results.md. BENCH_ONLY=callpanel measures only the callpanel rows and replaces
# them in results.md (LOSS_RUNS: runs of the 20-panel loss rows, default 20);
# BENCH_ONLY=callpanel-search only its searches of 1,000 and 2,000 panels (as root and as a
# normal user, also with stock Debian's and the package's net.core.rmem_max).
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

if [ -z "${TESTNET_TOOL_NS:-}" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "run_bench.sh needs root (network namespaces)" >&2; exit 1; }
    echo "=== building in $build"
    if [ ! -f "$build/CMakeCache.txt" ]; then
        read -r -a extra <<<"${BENCH_CMAKE_ARGS:-}" # e.g. "-DCMAKE_CXX_FLAGS=..."
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release "${extra[@]}" >/dev/null
    fi
    targets=(callpanel-standin callpanel)
    [[ ${BENCH_ONLY:-} == callpanel* ]] ||
        targets+=(callpanel-tool callpanel-bench-search callpanel-bench-baseline callpanel-bench-window)
    cmake --build "$build" -j"${JOBS:-2}" --target "${targets[@]}" >/dev/null
    # Everything else happens inside the private networks: first the laptop on two segments,
    # whose row the main run puts into the table.
    segments_row=$(mktemp)
    trap 'rm -f "$segments_row"' EXIT
    callpanel_rows=$(mktemp)
    # net.core.rmem_max belongs to the machine and can be set only from its own namespace: a
    # helper here sets the values the callpanel rows write into this FIFO; the value found now
    # is put back at the end.
    rmem_fifo=$(mktemp -u)
    mkfifo "$rmem_fifo"
    rmem_saved=$(cat /proc/sys/net/core/rmem_max)
    (while read -r v <"$rmem_fifo"; do [[ $v =~ ^[0-9]+$ ]] && echo "$v" >/proc/sys/net/core/rmem_max; done) &
    rmem_helper=$!
    trap 'kill "$rmem_helper" 2>/dev/null; echo "$rmem_saved" >/proc/sys/net/core/rmem_max
        rm -f "$segments_row" "$callpanel_rows" "$rmem_fifo"' EXIT
    "$root/tools/testnet.sh" --panels 100 -- \
        env BUILD_DIR="$build" BENCH_PART=callpanel BENCH_ROW="$callpanel_rows" \
        RMEM_FIFO="$rmem_fifo" "$0"
    if [ "${BENCH_ONLY:-}" = callpanel ] || [ "${BENCH_ONLY:-}" = callpanel-search ]; then
        # Only these rows: each replaces the row of the same measure in the last full run's
        # table; new ones follow its callpanel rows.
        awk -v rows="$callpanel_rows" 'BEGIN { FS = "|"; while ((getline l < rows) > 0) { split(l, f, "|"); fresh[f[2]] = l; order[++n] = f[2] } }
            function rest(  i) { for (i = 1; i <= n; i++) if (!(order[i] in used)) print fresh[order[i]]; flushed = 1 }
            /^\| callpanel / { seen = 1; if ($2 in fresh) { print fresh[$2]; used[$2] = 1 } else print; next }
            seen && !flushed { rest() }
            { print }
            END { if (!flushed) rest() }' "$here/results.md" >"$here/results.md.new"
        mv "$here/results.md.new" "$here/results.md"
        exit
    fi
    "$root/tools/testnet.sh" --topology twosegments --panels "$SEGMENT_PANELS" -- \
        env BUILD_DIR="$build" BENCH_PART=segments BENCH_ROW="$segments_row" "$0"
    "$root/tools/testnet.sh" --panels "${PANEL_COUNTS[-1]}" -- \
        env BUILD_DIR="$build" BENCH_ROW="$segments_row" CALLPANEL_ROWS="$callpanel_rows" "$0"
    exit
fi

tool=$build/app/callpanel-tool
standin=$build/tools/callpanel-standin
search=$build/tools/bench/callpanel-bench-search
baseline=$build/tools/bench/callpanel-bench-baseline
window=$build/tools/bench/callpanel-bench-window
cli=$build/cli/callpanel
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
if [ "${BENCH_PART:-}" = callpanel ]; then
    ms_now() { echo $(($(date +%s%N) / 1000000)); }
    # Drops $1 % of port-8300 datagrams each way in the first $2 panel namespaces (0: none).
    loss() {
        local p
        for ((p = 0; p < $2; p++)); do
            ip netns exec "${panel_ns[p]}" nft delete table inet loss 2>/dev/null || true
            [ "$1" -gt 0 ] || continue
            ip netns exec "${panel_ns[p]}" nft -f - <<EOF
table inet loss {
    chain in { type filter hook input priority 0; udp dport 8300 numgen random mod 100 < $1 drop; }
    chain out { type filter hook output priority 0; udp sport 8300 numgen random mod 100 < $1 drop; }
}
EOF
        done
    }
    median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
    worst() { printf '%s\n' "$@" | sort -n | tail -n1; }
    crows=()

    # search_1000 WORDS LABEL: ROUNDS searches of the 1,000 panels; sets times, listed_min and
    # flagged (runs whose messages held WORDS).
    search_1000() {
        times=() listed_min=1000 flagged=0
        for ((r = 0; r < ROUNDS; r++)); do
            t0=$(ms_now)
            "$cli" search --format csv >"$work/s1000.csv" 2>"$work/s1000.err" || true
            times+=($(($(ms_now) - t0)))
            listed=$(($(wc -l <"$work/s1000.csv") - 1))
            [ "$listed" -lt "$listed_min" ] && listed_min=$listed
            grep -q "$1" "$work/s1000.err" && flagged=$((flagged + 1))
            echo "$2 $r: $listed listed in ${times[-1]} ms"
        done
    }

    echo "=== callpanel search, 1000 panels (10 in each of 100 namespaces)"
    started=()
    for ((p = 0; p < 100; p++)); do
        launch_standin "$p" --panels 10 --base-ip "10.83.$((p + 1)).1" --exit-after 600
    done
    await_standins 100
    search_1000 dropped search
    lost_runs=$flagged
    crows+=("| callpanel search, 1000 panels answering at once | $listed_min of 1000 listed (worst of $ROUNDS runs; $lost_runs run(s) said replies were dropped) | $(median "${times[@]}") ms (median; worst $(worst "${times[@]}") ms) | default --wait 500 ms, --repeat 2 |")
    # The same panels with 10 % of datagrams lost each way: search asks while new panels answer.
    loss 10 100
    search_1000 'may be short' 'search at 10 % loss'
    short_runs=$flagged
    loss 0 100
    stop "${started[@]}"
    crows+=("| callpanel search, 1000 panels, 10 % of datagrams lost each way | $listed_min of 1000 listed (worst of $ROUNDS runs; $short_runs run(s) said the list may be short) | $(median "${times[@]}") ms (median; worst $(worst "${times[@]}") ms) | default options |")

    # 2,000 panels: a normal user with a buffer of Debian's net.core.rmem_max (212992 bytes, asked
    # for with the test variable), root; then a normal user under the real limit, stock Debian's
    # and the package's sysctl.d value, set through the helper outside (RMEM_FIFO) and put back
    # at once.
    echo "=== callpanel search, 2000 panels (20 in each of 100 namespaces)"
    started=()
    for ((p = 0; p < 100; p++)); do
        launch_standin "$p" --panels 20 --base-ip "10.83.$((p + 1)).1" --exit-after 900
    done
    await_standins 100
    set_rmem_max() {
        echo "$1" >"$RMEM_FIFO"
        wait_for 5 grep -qx "$1" /proc/sys/net/core/rmem_max || { echo "rmem_max not set" >&2; exit 1; }
    }
    saved_rmem_max=$(cat /proc/sys/net/core/rmem_max)
    package_rmem_max=$(sed -n 's/^net\.core\.rmem_max *= *//p' "$root/packaging/sysctl.d/60-callpanel-tool.conf")
    normal_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all)
    for who in user root user-stock user-package; do
        times=() listed_min=2000 short_runs=0 drops=()
        as=() buffer=() limit=
        case $who in
        user) as=("${normal_user[@]}") buffer=(CALLPANEL_RECEIVE_BUFFER=212992)
            label="as a normal user, receive buffer 212992 bytes" ;;
        root) label="as root" ;;
        user-stock) as=("${normal_user[@]}") limit=212992
            label="as a normal user, net.core.rmem_max 212992 (stock Debian)" ;;
        user-package) as=("${normal_user[@]}") limit=$package_rmem_max
            label="as a normal user, net.core.rmem_max $limit (the package's sysctl.d)" ;;
        esac
        [ -z "$limit" ] || set_rmem_max "$limit"
        for ((r = 0; r < 3; r++)); do
            t0=$(ms_now)
            env "${buffer[@]}" "${as[@]}" "$cli" search --format csv >"$work/s2000.csv" 2>"$work/s2000.err" || true
            times+=($(($(ms_now) - t0)))
            listed=$(($(wc -l <"$work/s2000.csv") - 1))
            [ "$listed" -lt "$listed_min" ] && listed_min=$listed
            grep -q 'may be short' "$work/s2000.err" && short_runs=$((short_runs + 1))
            dropped=$(sed -n 's/.*dropped \([0-9]*\) repl.* in \([0-9]*\) search.*/\1 in \2/p' "$work/s2000.err" | head -n1)
            [ -z "$dropped" ] || drops+=("$dropped")
            echo "search 2000 $label, run $r: $listed listed in ${times[-1]} ms; dropped: ${dropped:-none}"
        done
        [ -z "$limit" ] || set_rmem_max "$saved_rmem_max"
        crows+=("| callpanel search, 2000 panels answering at once, $label | $listed_min of 2000 listed (worst of 3 runs; $short_runs run(s) said the list may be short; dropped: $(IFS=,; echo "${drops[*]:-none}" | sed 's/,/, /g')) | $(median "${times[@]}") ms (median; worst $(worst "${times[@]}") ms) | default options |")
    done
    stop "${started[@]}"
    if [ "${BENCH_ONLY:-}" = callpanel-search ]; then
        printf '%s\n' "${crows[@]}" | tee "$BENCH_ROW"
        exit 0
    fi

    # apply_runs N LOSS RUNS: plans moving N panels back and forth, LOSS % lost each way.
    apply_runs() {
        local n=$1 pct=$2 runs=$3 r plan verified ok=0 vmin=$1 times=()
        started=()
        for ((p = 0; p < n; p++)); do launch_standin "$p" --exit-after 900; done
        await_standins "$n"
        "$cli" search --format csv --repeat 3 >"$work/export.csv"
        [ "$(($(wc -l <"$work/export.csv") - 1))" -eq "$n" ] || { echo "export lacks panels" >&2; exit 1; }
        awk 'BEGIN { FS = OFS = "," } NR > 1 { split($5, p, "."); $5 = p[1] "." p[2] ".1." p[4]; $9 = 7 }
            { print }' "$work/export.csv" >"$work/plan-a.csv"
        cp "$work/export.csv" "$work/plan-b.csv"
        loss "$pct" "$n"
        for ((r = 0; r < runs; r++)); do
            plan=$work/plan-$([ $((r % 2)) -eq 0 ] && echo a || echo b).csv
            t0=$(ms_now)
            rc=0
            "$cli" apply "$plan" >"$work/apply.out" 2>&1 || rc=$?
            times+=($(($(ms_now) - t0)))
            verified=$(grep -c ' verified' "$work/apply.out" || true)
            [ "$verified" -lt "$vmin" ] && vmin=$verified
            [ "$rc" -eq 0 ] && ok=$((ok + 1))
            echo "apply $n panels, $pct % loss, run $r: exit $rc, $verified of $n verified, ${times[-1]} ms"
        done
        loss 0 "$n"
        stop "${started[@]}"
        crows+=("| callpanel apply, $n panels changed, $pct % of datagrams lost each way | exit 0 in $ok of $runs runs; $vmin of $n verified (worst run) | $(median "${times[@]}") ms (median; worst $(worst "${times[@]}") ms) | default --rounds 8 |")
    }
    apply_runs 100 0 "$ROUNDS"
    apply_runs 100 20 "$ROUNDS"
    apply_runs 20 20 "${LOSS_RUNS:-20}"
    apply_runs 20 30 "${LOSS_RUNS:-20}"
    printf '%s\n' "${crows[@]}" | tee "$BENCH_ROW"
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
    echo "| search, $n panels answering on two segments, no default route | $(result "$f" listed_min) of $n listed (worst of $ROUNDS rounds; median $(result "$f" listed_median)) | last line $latency ms after the click (median; worst $(result "$f" latency_ms_max) ms) | $(ratio "$latency" 100) x the 100 ms pass |" >"$BENCH_ROW"
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
    rows+=("| search, $n panel(s) answering | $(result "$f" listed_min) of $n listed (worst of $ROUNDS rounds; median $(result "$f" listed_median)) | last line $latency ms after the click (median; worst $(result "$f" latency_ms_max) ms) | $(ratio "$latency" 100) x the 100 ms pass |")
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
rows+=("| start-up: process start to window mapped | tool $t_ms ms | minimal Qt window $b_ms ms (median of $ROUNDS) | $(ratio "$t_ms" "$b_ms") x |")
rows+=("| idle resident memory, 2 s after the window | tool $((t_rss / 1024)) MiB ($t_rss KiB) | minimal Qt window $((b_rss / 1024)) MiB ($b_rss KiB) | $(ratio "$t_rss" "$b_rss") x |")
rows+=("| idle CPU time over $IDLE_SECONDS s (utime+stime) | tool $t_cpu ms, $t_sw context switches in $t_thr threads | minimal Qt window $b_cpu ms, $b_sw context switches in $b_thr threads | tick $((1000 / $(getconf CLK_TCK))) ms |")

{
    echo "# Benchmark results"
    echo
    echo "Measured by \`tools/bench/run_bench.sh\` on $(date -u +%Y-%m-%d), $(nproc) cores, build $(grep -m1 CMAKE_BUILD_TYPE "$build/CMakeCache.txt" | cut -d= -f2)."
    echo "Tool namespace: net.core.rmem_max $rmem_max, net.core.rmem_default $rmem_default;"
    echo "the endpoint's socket got SO_RCVBUF $so_rcvbuf bytes. Stand-in panels answer at once,"
    echo "each from its own namespace; a search is given up 100 ms after it is sent."
    echo
    echo "| measure | tool | against | ratio |"
    echo "|---|---|---|---|"
    printf '%s\n' "${rows[@]}"
} >"$work/results.md"
echo
cat "$work/results.md"
cp "$work/results.md" "$here/results.md"
