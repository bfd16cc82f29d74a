#!/usr/bin/env bash
# Runs the program with command lines it must answer without opening a window: --help and
# --version print and exit 0, and a port it cannot use, or more than one invitation, is refused
# with a message on stderr and exit status 2. These run with no display at all and the X11 platform asked for, so anything
# that touched the window system would abort instead. Options left over after Qt took its own
# (-platform ...) are checked on the offscreen platform.
#
# usage: command_line_check.sh PROGRAM VERSION
set -uo pipefail

program=$1
version=$2

# shellcheck source=../support/system_check.sh
source "$(dirname "$0")/../support/system_check.sh"

# run ARGS...: runs the program with no display; sets status, out and err.
run() { capture env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$program" "$@"; }
# run_offscreen ARGS...: the same on Qt's offscreen platform, for checks after QApplication.
run_offscreen() { capture env QT_QPA_PLATFORM=offscreen "$program" "$@"; }
capture() {
    timeout 20 "$@" >"$work/out" 2>"$work/err"
    status=$?
    out=$(cat "$work/out")
    err=$(cat "$work/err")
}

for flag in --version -v; do
    run "$flag"
    [[ $status -eq 0 ]] || flunk "$flag exited $status (stderr: $err)"
    [[ $out == "$version" ]] || flunk "$flag printed '$out' instead of '$version'"
    [[ $(wc -l <"$work/out") -eq 1 ]] || flunk "$flag printed more than one line"
    [[ -z $err ]] || flunk "$flag wrote to stderr: $err"
done

for flag in --help -h; do
    run "$flag"
    [[ $status -eq 0 ]] || flunk "$flag exited $status (stderr: $err)"
    for expected in "--port <port>" "--invited-only" "[invitation]" "--version" "--help" \
        "default: 123"; do
        [[ $out == *"$expected"* ]] || flunk "$flag does not mention '$expected'"
    done
    [[ -z $err ]] || flunk "$flag wrote to stderr: $err"
done

# Ports that are not a whole number from 1 to 65535, in both spellings of the option.
for value in 0 65536 99999 123456 -1 -80 +80 " 80" "80 " abc 12a 1e3 0x50 8.0 ""; do
    for form in separate joined; do
        if [[ $form == separate ]]; then run --port "$value"; else run "--port=$value"; fi
        [[ $status -eq 2 ]] || flunk "--port '$value' ($form) exited $status instead of 2"
        [[ $err == *"--port needs a whole number from 1 to 65535"* ]] ||
            flunk "--port '$value' ($form) gave no clear message: '$err'"
        [[ -z $out ]] || flunk "--port '$value' ($form) wrote to stdout: $out"
    done
done

run --port
[[ $status -eq 2 && $err == *"Missing value after '--port'"* ]] ||
    flunk "--port without a value exited $status with '$err'"

run --version=1
[[ $status -eq 2 ]] || flunk "--version=1 exited $status instead of 2"

# Qt's own options do not stand in the way of ours.
run -platform offscreen --version
[[ $status -eq 0 && $out == "$version" ]] || flunk "-platform offscreen --version gave '$out'"
run -platform offscreen --port 70000
[[ $status -eq 2 ]] || flunk "-platform offscreen --port 70000 exited $status instead of 2"

# What is neither Qt's nor ours is refused once Qt has taken its own options.
run_offscreen --no-such-option
[[ $status -eq 2 && $err == *"no-such-option"* ]] ||
    flunk "an unknown option exited $status with '$err'"
# One invitation or address at most, and it is one line.
run_offscreen --port 5000 192.0.2.1 stray
[[ $status -eq 2 && $err == *'unexpected argument "stray"'* ]] ||
    flunk "a second argument exited $status with '$err'"
run_offscreen $'192.0.2.1\n198.51.100.7'
[[ $status -eq 2 && $err == *"one line of text"* ]] ||
    flunk "an address of two lines exited $status with '$err'"

finish
