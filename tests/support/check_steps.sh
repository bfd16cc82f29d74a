# shellcheck shell=bash
# Shared by the real-program checks that report step by step: sourced, not run, after setting
# $check_name ("duel check"). Each step prints PASS or FAIL and the check goes on; finish ends
# it, failed if any step failed (keeping $work for its logs).
#
#   check DESCRIPTION COMMAND...    one step, reported either way
#   require DESCRIPTION COMMAND...  a step the rest depends on: finish at once if it fails
#   die MESSAGE                     a failed step that ends the check

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
finish() {
    if ((failures)); then
        echo "$check_name FAILED ($failures failed steps; logs in $work)"
        KEEP_WORK=1
        exit 1
    fi
    echo "$check_name passed"
    exit 0
}
