# shellcheck shell=bash
# What every system check shares: sourced, not run, before anything else.
#
#   skip/fail MESSAGE               end the check at once as skipped (77) or failed (1)
#   check DESCRIPTION COMMAND...    one step, reported PASS or FAIL; the check goes on
#   require DESCRIPTION COMMAND...  a step the rest depends on: finish at once if it fails
#   pass/flunk MESSAGE              report a step that passed or failed
#   die MESSAGE                     a failed step that ends the check
#   finish                          ends the check, failed if any step failed
#   wait_until SECONDS COMMAND...   polls COMMAND every tenth of a second until it succeeds
#   ended PID                       the process has ended
#   at_exit FUNCTION                runs FUNCTION at exit, after the processes are stopped
#
# $work is a fresh folder, removed at exit unless KEEP_WORK=1 or a step failed; processes whose
# ids are added to $pids are stopped at exit. $check_name names the check in finish's last line
# (the script's name unless set). Where $budget is set, no wait_until waits past that many
# seconds of the check, so that its clean-up always runs before the test's timeout.

# On standard error, so that a failure inside $(...) is still seen.
skip() { echo "SKIP: $*" >&2; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

failures=0
pass() { echo "PASS: $*"; }
flunk() { echo "FAIL: $*"; ((++failures)); }
check() {
    local what=$1
    shift
    if "$@"; then
        pass "$what"
    else
        flunk "$what"
        return 1
    fi
}
require() {
    check "$@" || finish
}
die() {
    flunk "$*"
    finish
}
check_name=${check_name:-$(basename "$0" .sh)}
finish() {
    if ((failures)); then
        echo "${check_name//_/ } FAILED ($failures failed steps; logs in $work)"
        KEEP_WORK=1
        exit 1
    fi
    echo "${check_name//_/ } passed"
    exit 0
}

wait_until() {
    local tries=$(($1 * 10))
    shift
    while ((tries-- > 0 && SECONDS < ${budget:-1000000})); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
ended() { ! kill -0 "$1" 2>/dev/null; }

work=$(mktemp -d)
pids=()
exit_steps=()
at_exit() { exit_steps+=("$1"); }
cleanup() {
    local pid tries step running=()
    exec 2>/dev/null # the shell's notes on the jobs stopped here
    # Only this check's own children: the id of a process that ended may have been given again.
    for pid in "${pids[@]}"; do
        [[ $(awk '$1 == "PPid:" {print $2}' "/proc/$pid/status") == "$$" ]] && running+=("$pid")
    done
    kill "${running[@]}"
    for pid in "${running[@]}"; do
        for ((tries = 30; tries > 0; tries--)); do ended "$pid" && break; sleep 0.1; done
        kill -9 "$pid"
    done
    for step in "${exit_steps[@]}"; do "$step"; done
    wait
    [[ -n ${KEEP_WORK:-} ]] || rm -rf "$work"
}
trap cleanup EXIT
trap 'echo "FAIL: interrupted"; exit 1' INT TERM HUP
