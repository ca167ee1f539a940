#!/usr/bin/env bash
# callpanel's command line and plan refusals, which end before anything is sent:
#   callpanel_args_test.sh CALLPANEL
# Run inside tools/testnet.sh all the same, so that a case that wrongly got as far as a search
# broadcasts only into the private network.
set -euo pipefail
set -f # arguments are split into words, never globbed

# shellcheck source=SCRIPTDIR/../lib/x11.sh
. "$(dirname "$0")/../lib/x11.sh"

[ $# -eq 1 ] || { echo "usage: $0 CALLPANEL" >&2; exit 2; }
cli=$1
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root for the private test network" >&2; exit 77; }
[ -n "${TESTNET_TOOL_NS:-}" ] &&
    [ "$(readlink /proc/self/ns/net)" != "$(readlink /proc/1/ns/net)" ] ||
    fail "not inside tools/testnet.sh"
need_commands grep od head truncate

begin_work
show_on_failure --tail 20 out err
mkdir "$work/adir"
# Undo plans named by --undo: never over a file, through a symlink or into a folder made for it.
echo keep >"$work/kept.csv"
ln -s "$work/target.csv" "$work/link.csv"
# One byte more than the largest plan: refused by its size, before it is read.
truncate -s $((4 * 1024 * 1024 + 1)) "$work/big.csv"
export XDG_STATE_HOME=$work/state
# An undo plan whose run moved 00:50:2A:10:00:A5 from 10.0.1.5 to 10.0.1.6.
printf 'mac,raw,undoes\n00:50:2A:10:00:A5,%s 0A000105 %s,%s 0A000106 %s\n' \
    '00502A1000A5 483031303130313030300031' 'FFFFFF00 0A000101 0A000102 05' \
    '00502A1000A5 483031303130313030300031' 'FFFFFF00 0A000101 0A000102 05' >"$work/undo1.csv"

# Each case: exit code | stream (out, err) | text that stream holds | plan on standard input
# (printf format; "-" for none; "@full": none, and standard output is /dev/full; "@empty":
# none, and an empty argument after the others) | arguments (backslash escapes expanded).
cases=(
    '0|out|callpanel 1.4.0|-|--version'
    '0|out|Usage: callpanel [OPTIONS] SUBCOMMAND|-|/?'
    '2|out|Usage: callpanel [OPTIONS] SUBCOMMAND|-|'
    '2|err|callpanel: unknown command '"'"'frobnicate'"'"'; the commands are search, set|-|frobnicate'
    '2|err|callpanel: unknown option '"'"'--bogus'"'"'|-|--bogus'
    # Mistyped names: the nearest one the program has, by the rule the core's table tests.
    '2|err|callpanel: unknown command '"'"'serach'"'"'; did you mean search? (callpanel --help)|-|serach'
    '2|err|unknown option '"'"'--verison'"'"'; did you mean --version?|-|--verison'
    '2|err|callpanel: unknown option '"'"'--wiat'"'"'; did you mean --wait? (callpanel search --help)|-|search --wiat 5'
    '2|err|unknown option '"'"'--dryrun'"'"'; did you mean --dry-run? (callpanel apply --help)|-|apply x.csv --dryrun'
    '2|err|unknown option '"'"'--ignore'"'"'; did you mean --ignore-extra?|-|check --ignore=1 x.csv'
    '2|err|unknown option '"'"'--htlm'"'"'; did you mean --html? (callpanel report --help)|-|report --htlm x'
    '2|err|unknown option '"'"'--frobnicate'"'"' (callpanel set --help)|-|set 00:50:2A:10:00:A5 --frobnicate'
    # After "--" a word is no option: CLI11 takes it as an argument.
    '2|err|callpanel: The following argument was not expected: --wiat|-|search -- --wiat'
    '2|err|callpanel: unknown command '"'"'\e[2J'"'"'|-|\033[2J'
    '2|err|callpanel: PLAN is required|-|apply'
    '2|err|callpanel: --wait: Value x not in range|-|search --wait x'
    '2|err|callpanel: The following argument was not expected: extra|-|search extra'
    '2|err|callpanel: run '"'"'callpanel search --help'"'"' for more information|-|search extra'
    '0|out|panels sharing a MAC get a row each|-|search --help'
    "2|err|callpanel: $work/adir is a directory|-|apply $work/adir"
    "2|err|callpanel: cannot read $work/none.csv: No such file|-|apply $work/none.csv"
    '2|err|callpanel: stdin:2: the plan is not UTF-8 text|mac,address\n00:50:2A:10:00:A5,\xcb\xce\n|apply -'
    '2|err|callpanel: stdin:2:1: mac: '"'"'x'"'"' is not a MAC|\xff\xfem\0a\0c\0\n\0x\0\n\0|apply -'
    '2|err|callpanel: stdin:2:1: mac: '"'"'00:50\0:2A\e[2J'"'"' is not a MAC|mac\n00:50\0:2A\x1b[2J\n|apply -'
    '2|err|callpanel: stdin:4:1: mac: 00:50:2a:10:00:a5 is also on line 2|MAC;Type\r00:50:2A:10:00:A5;Flat\r\r00:50:2a:10:00:a5;help\r|apply --dry-run -'
    '2|err|callpanel: stdin:4:1: mac: '"'"'x'"'"' is not a MAC|mac,ip\n"00:50:2A:10:00:A5"x,1\nx,"1\nx,1\n|apply -'
    '2|err|callpanel: stdin:1: the plan has a header but no rows|mac,ip\n|apply -'
    '2|err|stdin:1:2: unknown column '"'"'IP Address'"'"': did you mean ip?|mac,IP Address\n00:50:2A:10:00:A5,1.2.3.4\n|apply -'
    '2|err|callpanel: stdin:2:2: unknown column|sep=;\nmac;ipp\n00:50:2A:10:00:A5;1\n|apply -'
    '2|err|callpanel: stdin:2: the plan is not UTF-8 (Windows-1252?)|mac,address\n00:50:2A:10:00:A5,caf\xe9\n|apply -'
    '2|err|callpanel: stdin:1: the plan is UTF-32 text|\xff\xfe\0\0m\0\0\0|apply -'
    '2|err|callpanel: stdin:1: the plan is not a text file|\x7fELF\x02\x01\x01\0\0\0\0\0\0\0\0\0|apply -'
    "2|err|callpanel: $work/big.csv is larger than a plan can be (4 MiB|-|apply $work/big.csv"
    '2|err|stdin:2:1: mac: '"'"'\u200B00:50:2A:10:00:A5'"'"' is not a MAC|mac\n\xe2\x80\x8b00:50:2A:10:00:A5\n|apply -'
    '2|err|callpanel: … 5 more|mac\n1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n16\n17\n18\n19\n20\n21\n22\n23\n24\n25\n|apply -'
    '2|err|callpanel: --address needs a value; nothing was written|@empty|set 00:50:2A:10:00:A5 --address'
    '2|err|callpanel: --undo: needs a value|@empty|apply x.csv --undo'
    "2|err|undo plan $work/kept.csv: the name is taken|-|set 00:50:2A:10:00:A5 --unlock 3 --undo $work/kept.csv"
    "2|err|undo plan $work/link.csv: the name is taken|-|apply $work/none.csv --undo $work/link.csv"
    # Several undo plans as one: each must be one, and a later one must find what the earlier left.
    "2|err|callpanel: stdin:2: no raw and undoes bytes|mac,ip\n00:50:2A:10:00:A5,10.0.1.7\n|apply $work/undo1.csv -"
    "2|err|callpanel: $work/undo1.csv:2 and stdin:2: 00:50:2A:10:00:A5 ip: the later undo plan found 0A000107, neither what the earlier put back (0A000105) nor what it wrote (0A000106)|mac,raw,undoes\n00:50:2A:10:00:A5,00502A1000A5 483031303130313030300031 0A000107 FFFFFF00 0A000101 0A000102 05,00502A1000A5 483031303130313030300031 0A000107 FFFFFF00 0A000101 0A000102 07\n|apply $work/undo1.csv -"
    "2|err|its folder does not exist (--undo makes none)|-|set 00:50:2A:10:00:A5 --ip 1.2.3.4 --undo $work/new/u.csv"
    '1|err|callpanel: cannot write the output: No space left on device|@full|search --help'
    '2|err|callpanel: --html is required|-|report'
    "2|err|callpanel: stdin:1:2: a schedule has no column 'mac'|ip,mac\n10.1.2.3,00:50:2A:10:00:A5\n|assign -"
    '2|err|callpanel: --new-on takes a subnet A.B.C.D/N|ip\n10.1.2.3\n|assign - --new-on 192.168.1.0'
    '2|err|callpanel: --row 2=00:50:2A:00:00:01: the schedule has rows 1 to 1; nothing was written|ip,address\n10.1.2.3,0101000000\n|assign - --row 2=00:50:2A:00:00:01'
    '2|err|callpanel: --row 1: takes N=MAC|ip,address\n10.1.2.3,0101000000\n|assign - --row 1'
    '2|err|callpanel: --row 1=00:50:2A:00:00:02: a row or a MAC given twice|ip,address\n10.1.2.3,0101000000\n10.1.2.4,0201000000\n|assign - --row 1=00:50:2A:00:00:01 --row 1=00:50:2A:00:00:02'
    '2|err|callpanel: stdin:2:1: mac: '"'"'x'"'"' is not a MAC|mac\nx\n|check -'
)

for c in "${cases[@]}"; do
    IFS='|' read -r code stream text plan args <<<"$c"
    args=$(printf '%b' "$args") # \033 in an argument is ESC
    rc=0
    # shellcheck disable=SC2086 # the arguments are words
    if [ "$plan" = @empty ]; then
        # shellcheck disable=SC2086 # the arguments are words
        "$cli" $args "" >"$work/out" 2>"$work/err" </dev/null || rc=$?
    elif [ "$plan" = @full ]; then
        # shellcheck disable=SC2086 # the arguments are words
        "$cli" $args >/dev/full 2>"$work/err" </dev/null || rc=$?
    elif [ "$plan" = - ]; then
        "$cli" $args >"$work/out" 2>"$work/err" </dev/null || rc=$?
    else
        # shellcheck disable=SC2059 # the plan is a printf format
        printf "$plan" | "$cli" $args >"$work/out" 2>"$work/err" || rc=$?
    fi
    [ "$rc" -eq "$code" ] || fail "callpanel $args: exit $rc, expected $code"
    grep -qF -- "$text" "$work/$stream" || fail "callpanel $args: $stream lacks: $text"
    # Whatever the plan held, no byte of it reaches the terminal raw.
    if od -An -tx1 "$work/err" | grep -qwE '0[0-8]|0[b-f]|1[0-9a-f]|7f|cb|ff'; then
        fail "callpanel $args: a raw control or non-UTF-8 byte on standard error"
    fi
done
rc=0
head -c $((4 * 1024 * 1024 + 1)) /dev/zero | "$cli" apply - >"$work/out" 2>"$work/err" || rc=$?
[ "$rc" -eq 2 ] && grep -qF 'callpanel: the plan on standard input is larger than a plan can be' \
    "$work/err" || fail "a plan too large on standard input: exit $rc"

# Every command's help: its explanation, one or two examples of that command and one line pointing
# to the exit codes, which only the program's own help says.
"$cli" --help >"$work/out"
grep -qF '3 UDP port 8300 held by another program' "$work/out" || fail "callpanel --help lacks the exit codes"
for command in search set apply delete-cards check report assign; do
    "$cli" "$command" --help >"$work/out" || fail "callpanel $command --help: exit $?"
    examples=$(sed -n '/^Examples:$/,/^$/p' "$work/out" | grep -c "^  callpanel $command ") || true
    [ "$examples" -ge 1 ] && [ "$examples" -le 2 ] ||
        fail "callpanel $command --help: $examples examples of $command"
    grep -qxF 'Exit codes: see callpanel --help (or man callpanel).' "$work/out" ||
        fail "callpanel $command --help: no line pointing to the exit codes"
    ! grep -qF 'held by another program' "$work/out" || fail "callpanel $command --help repeats the exit codes"
done

# The bash completion of the source tree, with this program: commands, options, values, plans.
mkdir "$work/plans" "$work/plans/sub" && touch "$work/plans/site.csv" "$work/plans/Old.CSV" "$work/plans/notes.txt"
completion=$(cd "$(dirname "$0")/../../packaging" && pwd)/callpanel.bash-completion
# Each case: the words typed after the program, the last one being completed (a trailing space
# starts an empty one) | what the completion offers, sorted.
while IFS='|' read -r typed expected; do
    # shellcheck disable=SC2016 # expanded by the bash that sources the completion
    got=$(cd "$work/plans" && bash -c '
        source "$1" && complete -p callpanel >/dev/null || exit 1
        read -ra words <<<"$3"
        [ -n "$3" ] && [ "${3% }" = "$3" ] || words+=("")
        COMP_WORDS=("$2" "${words[@]}")
        COMP_CWORD=${#words[@]}
        _callpanel
        [ ${#COMPREPLY[@]} -eq 0 ] || printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | tr "\n" " "' bash "$completion" "$cli" "$typed") ||
        fail "the completion cannot be loaded"
    [ "$got" = "$expected" ] || fail "completing '$typed': '$got', expected '$expected'"
done <<'CASES'
|--help --version apply assign check delete-cards report search set ui 
se|search set 
search --|--format --help --quiet --repeat --wait 
check --ig|--ignore-extra 
set 00:50:2A:10:00:A5 --type |flat help villa 
search --format |csv json table 
apply |Old.CSV site.csv sub 
apply --wait |
check --ignore-extra s|site.csv sub 
set |
ui |sub 
CASES
echo "PASS: help of every command, bash completion"

[ "$(cat "$work/kept.csv")" = keep ] && [ ! -e "$work/target.csv" ] && [ ! -e "$work/new" ] ||
    fail "a refused --undo wrote something"
echo "PASS: ${#cases[@]} cases"
