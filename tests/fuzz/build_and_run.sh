#!/usr/bin/env bash
# Builds the reply fuzzer with clang (libFuzzer, ASan, UBSan), apart from the g++ builds, and
# runs it on the seed corpus.
#   tests/fuzz/build_and_run.sh [SECONDS]     default 60; BUILD_DIR defaults to build-fuzz/
# Exit code 0 only when the run ended without a crash, a failed check or a sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
seconds=${1:-60}
out=${BUILD_DIR:-$root/build-fuzz}
cxx=${FUZZ_CXX:-clang++-14}
readonly MAX_LEN=12289 # one byte more than the receiver takes, so the too-long rule is hit

command -v "$cxx" >/dev/null || { echo "fuzz: $cxx is missing (scripts/setup.sh installs it)" >&2; exit 1; }
mkdir -p "$out/obj" "$out/corpus-work"

# shellcheck disable=SC2054 # the commas belong to -fsanitize
flags=(-std=c++20 -g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
    -fno-sanitize-recover=all -Wall -Wextra -Werror -I"$root/net" -I"$root/protocol")
sources=(tests/fuzz/ReplyFuzzer.cpp protocol/MessageFormat.cpp protocol/PanelLine.cpp
    protocol/WindowMailbox.cpp protocol/CommandQueue.cpp protocol/ReplyDispatcher.cpp)

echo "fuzz: building $out/reply-fuzzer with $cxx"
objects=()
for src in "${sources[@]}"; do
    obj=$out/obj/$(basename "${src%.cpp}").o
    "$cxx" "${flags[@]}" -c "$src" -o "$obj"
    objects+=("$obj")
done
"$cxx" "${flags[@]}" "${objects[@]}" -pthread -o "$out/reply-fuzzer"

log=$out/fuzz.log
echo "fuzz: running for $seconds s (log: $log)"
rc=0
ASAN_OPTIONS="halt_on_error=1:detect_leaks=1" UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
    "$out/reply-fuzzer" -max_total_time="$seconds" -max_len=$MAX_LEN -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$out/" \
    "$out/corpus-work" "$root/tests/fuzz/corpus" >"$log" 2>&1 || rc=$?

# The last status line carries the coverage reached; the final stats the number of runs.
grep -E '^#[0-9]+' "$log" | tail -n 1 || true
grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)|^reply-fuzzer stats' \
    "$log" || true
if [ "$rc" -ne 0 ] ||
    grep -Eq 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|reply fuzzer:' "$log"; then
    grep -E -A 30 'ERROR:|runtime error:|reply fuzzer:' "$log" | head -n 60 || tail -n 40 "$log"
    echo "fuzz: FAILED (exit code $rc)"
    exit 1
fi
echo "fuzz: passed"
