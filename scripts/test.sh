#!/usr/bin/env bash
# Sets up, cross-builds callpanel.exe, callpanel-tool.exe and their installer (build-windows/,
# tested under wine in the first suite), then builds and runs the whole test suite three times:
#   build/       Release, as scripts/run.sh builds the tool
#   build-tsan/  ThreadSanitizer                      (-DSANITIZE=thread, asserts on)
#   build-asan/  AddressSanitizer + UndefinedBehavior (-DSANITIZE=address, asserts on)
# Each sanitizer tree builds in the background while the suite before it runs its tests, and the
# fuzzers run beside the last suite's tests. Any failing test and any sanitizer report fails the
# run. Tests that send datagrams run in a private network of namespaces (tools/testnet.sh) and
# need root; without it they are skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/setup.sh test

jobs=${JOBS:-2}
# Tests run four at a time, because most of their time goes on waiting for stand-ins, timers
# and wine rather than on the processor. Tests that must run alone or take turns say so in their
# CMakeLists.txt (RUN_SERIAL, RESOURCE_LOCK).
test_jobs=${TEST_JOBS:-4}
summary=()
failed=0
start=$SECONDS

# A report on a process whose exit code nobody checks must still fail the run.
readonly REPORTS='WARNING: ThreadSanitizer|ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:'

# build_tree DIR BUILD_TYPE [cmake args...]: configures and builds; returns 1 when the
# configuration fails (its log printed), 2 when the build does.
build_tree() {
    local dir=$1 type=$2
    shift 2
    mkdir -p "$dir"
    # BUILD_TESTING on: scripts/run.sh configures build/ without the tests.
    if ! cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DBUILD_TESTING=ON "$@" \
        >"$dir/configure.log" 2>&1; then
        cat "$dir/configure.log"
        return 1
    fi
    cmake --build "$dir" -j"$jobs" || return 2
}

# prebuild DIR BUILD_TYPE [cmake args...]: builds the next tree in the background while a
# suite's tests run. They mostly wait on the network; at the lowest priority (nice 19) the
# compiler gets only the processor time they leave, so the tests run as they would alone.
declare -A build_pid=()
prebuild() {
    local dir=$1
    mkdir -p "$dir"
    (
        renice -n 19 -p "$BASHPID" >/dev/null
        build_tree "$@"
    ) >"$dir/build.log" 2>&1 &
    build_pid[$dir]=$!
}

# run_suite NAME DIR BUILD_TYPE [cmake args...]: configure and build (or wait for prebuild's
# build), ctest; records the outcome.
run_suite() {
    local name=$1 dir=$2 type=$3 t0=$SECONDS rc=0 log
    shift 3
    echo
    if [ -n "${build_pid[$dir]:-}" ]; then
        echo "=== $name: built in the background in $dir"
        wait "${build_pid[$dir]}" || rc=$?
        cat "$dir/build.log"
    else
        echo "=== $name: configure and build in $dir"
        build_tree "$dir" "$type" "$@" || rc=$?
    fi
    case $rc in
    0) ;;
    1)
        summary+=("$name: CONFIGURE FAILED")
        failed=1
        return
        ;;
    *)
        summary+=("$name: BUILD FAILED")
        failed=1
        return
        ;;
    esac
    [ -z "$before_tests" ] || "$before_tests"
    echo "=== $name: tests"
    log=$dir/ctest-output.log
    (cd "$dir" && "${ctest_prefix[@]}" ctest -j"$test_jobs" --output-on-failure \
        --output-log "$log") || rc=$?
    local tally
    tally=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n1 || true)
    if [ "$rc" -ne 0 ]; then
        summary+=("$name: FAILED ($tally) in $((SECONDS - t0)) s")
        failed=1
    elif grep -Eq "$REPORTS" "$log"; then
        grep -E "$REPORTS" "$log" | head -n 20
        summary+=("$name: SANITIZER REPORT ($tally) in $((SECONDS - t0)) s")
        failed=1
    else
        summary+=("$name: passed ($tally) in $((SECONDS - t0)) s")
    fi
    if grep -q 'Not Run\|\*\*\*Skipped' "$log"; then
        summary+=("    skipped: $(grep -Eo '[^ ]+ \.+\*\*\*Skipped' "$log" | awk '{print $1}' | tr '\n' ' ')")
    fi
}

# The Windows programs and their installer first: the plain suite runs them under wine
# (e2e_callpanel_wine, app_wine_window, package_msi_wine).
echo
echo "=== windows: cross-build of callpanel.exe and callpanel-tool.exe in $root/build-windows"
t0=$SECONDS
mkdir -p "$root/build-windows"
if scripts/build-windows.sh "$root/build-windows" >"$root/build-windows/build.log" 2>&1; then
    summary+=("windows cross-build: passed in $((SECONDS - t0)) s")
else
    tail -n 40 "$root/build-windows/build.log"
    summary+=("windows cross-build: FAILED (see $root/build-windows/build.log)")
    failed=1
fi

# Each sanitizer tree builds in the background during the tests before it (prebuild).
tsan_args=("$root/build-tsan" Debug -DSANITIZE=thread)
asan_args=("$root/build-asan" Debug -DSANITIZE=address)
ctest_prefix=()
before_tests=build_tsan
build_tsan() { prebuild "${tsan_args[@]}"; }
unset TSAN_OPTIONS ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
run_suite "normal" "$root/build" Release -DSANITIZE=

# TSan's shadow memory needs the usual address layout. With the high mmap randomisation of some
# kernels it aborts at start with "unexpected memory mapping"; then run its tests with address
# randomisation off (setarch -R, inherited by everything ctest starts), or, where that is not
# permitted (container seccomp), with vm.mmap_rnd_bits lowered to 28 for the run.
tsan_layout() {
    local probe=$root/build-tsan/tests/app/app-hold-port rnd=/proc/sys/vm/mmap_rnd_bits
    ctest_prefix=()
    [ -x "$probe" ] || return 0
    # The probe prints its usage and ends; TSan's own start-up is what is tested.
    [[ $("$probe" 2>&1 || true) == *"unexpected memory mapping"* ]] || return 0
    if setarch "$(uname -m)" -R true 2>/dev/null &&
        [[ $(setarch "$(uname -m)" -R "$probe" 2>&1 || true) != *"unexpected memory mapping"* ]]; then
        echo "tsan: running its tests under setarch -R"
        ctest_prefix=(setarch "$(uname -m)" -R)
    elif [ -w "$rnd" ]; then
        saved_rnd_bits=$(cat "$rnd")
        echo "tsan: lowering vm.mmap_rnd_bits from $saved_rnd_bits to 28 for its tests"
        echo 28 >"$rnd"
    else
        echo "tsan: this kernel's address layout defeats ThreadSanitizer (needs root)" >&2
    fi
}
saved_rnd_bits=
restore_rnd_bits() {
    if [ -n "$saved_rnd_bits" ]; then
        echo "$saved_rnd_bits" >/proc/sys/vm/mmap_rnd_bits
        saved_rnd_bits=
    fi
}
trap restore_rnd_bits EXIT
# die_after_fork=0: tests start stand-ins with QProcess (fork, then exec at once).
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 die_after_fork=0 suppressions=$root/scripts/tsan.supp"
before_tests=build_asan_then_tsan_layout
build_asan_then_tsan_layout() {
    prebuild "${asan_args[@]}"
    tsan_layout
}
run_suite "thread sanitizer" "${tsan_args[@]}"
before_tests=
restore_rnd_bits
ctest_prefix=()
unset TSAN_OPTIONS

# --- fuzz -------------------------------------------------------------------------------------
# Under libFuzzer, built with clang apart from the three g++ builds: the receive path (length
# rule, reply dispatcher, window mailbox, panel list) and callpanel's plan reader (reader, row
# settings, staging, site checks). A crash, failed check or sanitizer report fails the run.
# FUZZ_SECONDS changes the reply fuzzer's 60 s, PLAN_FUZZ_SECONDS the plan fuzzer's 30 s.
# They run in the background beside the last suite's tests, which mostly wait on the network,
# while a fuzzer keeps one core busy for its fixed time; their output and summary lines follow
# that suite's.
fuzz_dir=$root/build-fuzz
fuzz_pid=
# run_fuzz TARGET SECONDS WHAT LOG: prints the fuzzer's output, appends its summary line to
# $fuzz_dir/summary (the background shell cannot add to this one's variables).
run_fuzz() {
    local target=$1 seconds=$2 what=$3 log=$4 t0=$SECONDS rc=0 out cov runs
    echo
    echo "=== fuzz: $what for $seconds s in $fuzz_dir"
    out=$(BUILD_DIR="$fuzz_dir" tests/fuzz/build_and_run.sh "$seconds" "$target" 2>&1) ||
        rc=$?
    echo "$out"
    cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' <<<"$out" | tail -n1 || true)
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' <<<"$out")
    if [ "$rc" -ne 0 ]; then
        echo "fuzz $target: FAILED (see $fuzz_dir/$log) in $((SECONDS - t0)) s"
    else
        echo "fuzz $target: passed ($runs runs, $cov) in $((SECONDS - t0)) s"
    fi >>"$fuzz_dir/summary"
}
start_fuzzers() {
    mkdir -p "$fuzz_dir"
    rm -f "$fuzz_dir/summary"
    {
        # The fuzzers set their own options; the suite's suppressions are not theirs.
        unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
        run_fuzz reply "${FUZZ_SECONDS:-60}" "reply path" fuzz.log
        run_fuzz plan "${PLAN_FUZZ_SECONDS:-30}" "plan reader" plan-fuzz.log
    } >"$fuzz_dir/run.log" 2>&1 &
    fuzz_pid=$!
}
# Waits for the fuzzers (starting them first when the last suite never reached its tests).
finish_fuzzers() {
    local line
    [ -n "$fuzz_pid" ] || start_fuzzers
    wait "$fuzz_pid" || true
    cat "$fuzz_dir/run.log"
    while IFS= read -r line; do
        summary+=("$line")
        [[ $line != *FAILED* ]] || failed=1
    done < <(cat "$fuzz_dir/summary" 2>/dev/null ||
        echo "fuzz: FAILED (no summary, see $fuzz_dir/run.log)")
}
# --- end of fuzz ------------------------------------------------------------------------------

ctest_prefix=()
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
before_tests=start_fuzzers
run_suite "address + undefined sanitizer" "${asan_args[@]}"
before_tests=
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
finish_fuzzers

echo
echo "=== summary ($((SECONDS - start)) s)"
printf '  %s\n' "${summary[@]}"
if [ "$failed" -ne 0 ]; then
    echo "FAILED"
    exit 1
fi
echo "ALL PASSED"
