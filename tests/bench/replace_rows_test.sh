#!/usr/bin/env bash
# The benchmark table after a partial run (tools/bench/replace_rows.awk):
#   replace_rows_test.sh
# Each case: the table's rows, the fresh rows, the table expected after; a row is written as
# its measure letter and its value digit ("b2": the row "| b | 2 |"). The table has its header
# and a paragraph after it, which must stay where they are.
set -euo pipefail
awk_script=$(cd "$(dirname "$0")/../../tools/bench" && pwd)/replace_rows.awk
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cases=(
    'a1 b1 c1|b2|a1 b2 c1'             # a fresh row takes the place of its measure
    'a1 b1 c1 d1|a2 c2|a2 b1 c2 d1'    # fresh rows apart in the table stay apart
    'a1 b1 c1|a2 x2|a2 x2 b1 c1'       # a new measure follows the last row replaced
    'a1 b1|x2 y2|a1 b1 x2 y2'          # none replaced: new measures end the table
    'a1 b1 a0 c1 b0|a2|a2 b1 c1'       # a measure listed twice keeps its first place only
    'a1 b1 a0|-|a1 b1'                 # the same without fresh rows
    'a1 b1 c1|b2 b3|a1 b3 c1'          # of two fresh rows of one measure the last counts
)
rows() { # rows "a1 b2": the table rows these cells describe
    local cell
    for cell in $1; do [ "$cell" = - ] || printf '| %s | %s |\n' "${cell:0:1}" "${cell:1}"; done
}
table() { printf '# Results\n\n| measure | value |\n|---|---|\n'; rows "$1"; printf '\nAfter the table.\n'; }

failed=0
for c in "${cases[@]}"; do
    IFS='|' read -r before fresh after <<<"$c"
    table "$before" >"$work/results.md"
    rows "$fresh" >"$work/fresh"
    awk -v rows="$work/fresh" -f "$awk_script" "$work/results.md" >"$work/got"
    if ! diff -u <(table "$after") "$work/got" >"$work/diff"; then
        echo "FAIL: table $before, fresh $fresh: expected $after" >&2
        cat "$work/diff" >&2
        failed=1
    fi
done
[ "$failed" -eq 0 ] && echo "all ${#cases[@]} cases passed"
exit "$failed"
