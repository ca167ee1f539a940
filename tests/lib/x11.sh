# Shared by the scripts that run the real program on a private Xvfb display. Sourced, never run:
#   . "$(dirname "$0")/../lib/x11.sh"
# Defines functions only; begin_work makes the scratch folder $work and sets the EXIT trap.
# shellcheck shell=bash

# Says what went wrong and ends the script, which runs the cleanup.
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Ends the script unless every named command is installed.
need_commands() {
    local cmd
    for cmd in "$@"; do
        command -v "$cmd" >/dev/null || fail "$cmd is missing"
    done
}

# Polls `$@` every 0.1 s for up to $1 seconds.
wait_for() {
    local seconds=$1 i
    shift
    for ((i = 0; i < seconds * 10; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# Makes the scratch folder $work and sets the EXIT trap that cleans up.
begin_work() {
    pids=() # everything this script started and has not waited for, ended by pid
    show_files=()
    show_lines=
    work=$(mktemp -d)
    trap cleanup EXIT
}

# show_on_failure [--tail N] FILE...: files of $work that cleanup shows when the script fails
# (with --tail, only their last N lines).
show_on_failure() {
    if [ "$1" = --tail ]; then
        show_lines=$2
        shift 2
    fi
    show_files=("$@")
}

# Records pids started in the background, for cleanup to end.
track() { pids+=("$@"); }

# Forgets pids that have been waited for, so that cleanup never signals a reused pid.
untrack() {
    local keep=() pid gone
    for pid in "${pids[@]}"; do
        for gone in "$@"; do
            [ "$pid" = "$gone" ] && continue 2
        done
        keep+=("$pid")
    done
    pids=("${keep[@]}")
}

# Ends the given pids with SIGTERM, waits for them and forgets them.
stop() {
    local pid
    for pid in "$@"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "$@"; do wait "$pid" 2>/dev/null || true; done
    untrack "$@"
}

# The EXIT trap: ends only what this script started, shows the logs after a failure, removes
# the scratch folder and keeps the script's exit code.
cleanup() {
    local rc=$? f
    trap - EXIT
    set +e
    stop "${pids[@]}"
    if [ "$rc" -ne 0 ]; then
        for f in "${show_files[@]}"; do
            [ -s "$work/$f" ] || continue
            echo "--- $f"
            if [ -n "$show_lines" ]; then tail -n "$show_lines" "$work/$f"; else cat "$work/$f"; fi
        done
    fi
    rm -rf "$work"
    exit "$rc"
}

# start_xvfb DPI [WIDTHxHEIGHT]: a private X server for Qt programs (screen 1280x1024 unless
# given; SCREEN_W and SCREEN_H tell its size), its log in $work/xvfb.log; exports DISPLAY and
# QT_QPA_PLATFORM. False if it did not start within 20 s. -displayfd lets the server pick a
# free display number itself.
start_xvfb() {
    local dpi=$1 size=${2:-1280x1024}
    SCREEN_W=${size%x*} SCREEN_H=${size#*x}
    Xvfb -displayfd 3 -screen 0 "${size}x24" -dpi "$dpi" -nolisten tcp -noreset \
        3>"$work/display" >"$work/xvfb.log" 2>&1 &
    track "$!"
    wait_for 20 test -s "$work/display" || return 1
    DISPLAY=":$(head -n1 "$work/display")"
    export DISPLAY QT_QPA_PLATFORM=xcb
}

# desktop_dpi DPI: what a desktop sets for its scaling on X11 (Xft.dpi; 192 at 200 %), on the
# server of $DISPLAY, for the programs started after it.
desktop_dpi() {
    echo "Xft.dpi: $1" | xrdb -nocpp -merge
}

# Whether the process $1 still runs, or has ended.
running() { kill -0 "$1" 2>/dev/null; }
stopped() { ! running "$1"; }

# wait_exit PID SECONDS: waits for a child to end by itself and puts its exit code in
# $exit_code; false while it still runs.
# shellcheck disable=SC2034 # exit_code is for the caller
wait_exit() {
    wait_for "$2" stopped "$1" || return 1
    exit_code=0
    wait "$1" || exit_code=$?
    untrack "$1"
}

# The visible windows whose name matches the regular expression $1, one id a line.
windows() { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }
has_window() { [ -n "$(windows "$1")" ]; }

# The first window whose name matches $1, once it is visible; waits up to $WAIT seconds
# (default 60), empty output and false if none appeared.
find_window() { timeout "${WAIT:-60}" xdotool search --sync --onlyvisible --name "$1" | head -n1; }

# press_return_until_gone WINDOW PID: Return presses a box's only button; repeated (up to 20
# times) until process PID ends, in case a key came before the box took the focus.
press_return_until_gone() {
    local box=$1 pid=$2 i
    for ((i = 0; i < 20; i++)); do
        running "$pid" || break
        xdotool windowfocus --sync "$box" 2>/dev/null || true
        xdotool key Return 2>/dev/null || true
        wait_for 1 stopped "$pid" || true
    done
}
