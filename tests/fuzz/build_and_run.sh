#!/usr/bin/env bash
# Builds a fuzzer with clang (libFuzzer, ASan, UBSan), apart from the g++ builds, and runs it on
# its seed corpus.
#   tests/fuzz/build_and_run.sh [SECONDS] [reply|plan]   default 60 s, reply; BUILD_DIR defaults
#   to build-fuzz/. reply: the datagram receive path; plan: callpanel's plan reader.
# Exit code 0 only when the run ended without a crash, a failed check or a sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
seconds=${1:-60}
target=${2:-reply}
out=${BUILD_DIR:-$root/build-fuzz}
cxx=${FUZZ_CXX:-clang++-14}

command -v "$cxx" >/dev/null || { echo "fuzz: $cxx is missing (scripts/setup.sh installs it)" >&2; exit 1; }

case $target in
reply)
    sources=(tests/fuzz/ReplyFuzzer.cpp protocol/rules/MessageFormat.cpp
        protocol/rules/PanelLine.cpp protocol/engine/WindowMailbox.cpp
        protocol/engine/CommandQueue.cpp protocol/engine/ReplyDispatcher.cpp
        protocol/rules/DuplicateRule.cpp protocol/engine/ReplyRoutes.cpp
        protocol/engine/EventfdWake.cpp)
    libs=(-pthread)
    max_len=12289 # one byte more than the receiver takes, so the too-long rule is hit
    seeds=$root/tests/fuzz/corpus
    work=$out/corpus-work
    log=$out/fuzz.log
    extra=()
    ;;
plan)
    sources=(tests/fuzz/PlanFuzzer.cpp cli/core/plan/Plan.cpp cli/core/plan/PlanReader.cpp
        cli/core/plan/CsvReader.cpp cli/core/text/TerminalText.cpp cli/core/site/SiteChecks.cpp
        cli/core/text/MessageText.cpp cli/core/text/Nearest.cpp cli/core/plan/PlanEncoding.cpp
        protocol/rules/PanelTexts.cpp protocol/rules/GbkCodecIconv.cpp
        protocol/rules/SettingsChecks.cpp protocol/rules/WriteRecord.cpp)
    libs=()
    max_len=4096 # a few dozen rows; longer files only repeat what rows do
    seeds=$root/tests/fuzz/plan-corpus
    work=$out/plan-corpus-work
    log=$out/plan-fuzz.log
    extra=(-dict="$root/tests/fuzz/plan.dict")
    ;;
*)
    echo "fuzz: unknown target $target (reply or plan)" >&2
    exit 2
    ;;
esac
mkdir -p "$out/obj-$target" "$work"

# shellcheck disable=SC2054 # the commas belong to -fsanitize
flags=(-std=c++20 -g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
    -fno-sanitize-recover=all -Wall -Wextra -Werror -I"$root/net" -I"$root/protocol/rules"
    -I"$root/protocol/engine" -I"$root/cli/core" -I"$root/tools/bench")

echo "fuzz: building $out/$target-fuzzer with $cxx"
objects=()
for src in "${sources[@]}"; do
    obj=$out/obj-$target/$(basename "${src%.cpp}").o
    "$cxx" "${flags[@]}" -c "$src" -o "$obj"
    objects+=("$obj")
done
"$cxx" "${flags[@]}" "${objects[@]}" "${libs[@]}" -o "$out/$target-fuzzer"

echo "fuzz: running for $seconds s (log: $log)"
rc=0
ASAN_OPTIONS="halt_on_error=1:detect_leaks=1" UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
    "$out/$target-fuzzer" -max_total_time="$seconds" -max_len=$max_len -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$out/$target-" "${extra[@]}" \
    "$work" "$seeds" >"$log" 2>&1 || rc=$?

# The last status line carries the coverage reached; the final stats the number of runs.
grep -E '^#[0-9]+' "$log" | tail -n 1 || true
grep -E "^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)|^$target-fuzzer stats" \
    "$log" || true
if [ "$rc" -ne 0 ] ||
    grep -Eq "ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|$target fuzzer:" "$log"; then
    grep -E -A 30 "ERROR:|runtime error:|$target fuzzer:" "$log" | head -n 60 || tail -n 40 "$log"
    echo "fuzz: FAILED (exit code $rc)"
    exit 1
fi
echo "fuzz: passed"
