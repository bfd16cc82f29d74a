#!/usr/bin/env bash
# shellcheck disable=SC2317 # the small predicates are called through check and wait_until
# A duel played through the real program's windows, as two people would play it.
#
# Seats A and B are two hosts: two network namespaces joined by a veth pair (10.77.0.1 and
# 10.77.0.2), each copy with its own virtual display, so that both can listen on port 123.
# Everything is done with clicks and keys on the windows; what arrived on the other seat is read
# from screen pictures: a display of the other seat has changed, or shows exactly what the
# same display shows on the other seat after both seats made the same moves. (The copies reach
# their displays through the socket file in /tmp/.X11-unix, which works from any namespace.)
#
#   1. Two copies: A connects to B; A types into a zone, chats and subtracts life points, and B
#      shows all three in its opponent half; B makes the same moves, and A's opponent half then
#      matches B's; A flips the coin and B shows the announcement box; A closes and B sees it.
#   2. One copy against a bare TCP peer in B's namespace: the recorded bytes must be exactly the
#      greeting, then the same moves in the plain message table, then the goodbye.
#   3. A dead link: two linked copies lose the network between them mid-game (the veth pair is
#      taken down for 25 seconds, past the dead-link limit); both status lines must say so within
#      20 seconds while both boards keep what they showed. Each seat edits a zone meanwhile. Once
#      the network is back the two copies must link again by themselves (both "Connected" within
#      10 seconds, no click) and show each other's edits; after B's "Disconnect" and "Wait For
#      Connection", A must not dial again.
#
# usage: duel_check.sh PROGRAM X11_CLOSE_TOOL SCREENSHOT_DIR [TCP_RECORD_TOOL]
# The recording tool defaults to tcp_record beside the close tool. Exits 77 (skipped) without
# root, network namespaces, Xvfb, xdotool or ImageMagick.
set -uo pipefail

program=$1
close_tool=$2
shots=$3
recorder=${4:-$(dirname "$close_tool")/tcp_record}
port=123
budget=290 # seconds; stays below the test's timeout so that cleaning up always gets to run

# shellcheck source=../support/real_program.sh
source "$(dirname "$0")/../support/real_program.sh"
# shellcheck source=../support/netns.sh
source "$(dirname "$0")/../support/netns.sh"
for tool in import ss; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[[ -x $recorder ]] || skip "no TCP recording tool at $recorder"

# --- hosts and displays ----------------------------------------------------------------------

declare -A address=([a]=10.77.0.1 [b]=10.77.0.2) display=() copy=() main=()
new_hosts skduel a b
veth a "skd$$a" b "skd$$b"
for seat in a b; do
    link_up "$seat" "skd$$$seat" "${address[$seat]}/24"
    require "virtual display of seat ${seat^^} starts" start_display 1024x768
    display[$seat]=${DISPLAY#:}
done

# --- driving a seat --------------------------------------------------------------------------

# on_screen SEAT COMMAND...: COMMAND, a program or a function of real_program.sh, on the seat's
# display.
on_screen() { DISPLAY=:${display[$1]} "${@:2}"; }
# xdo SEAT ARGS...: xdotool on the seat's display, never waiting for long.
xdo() { on_screen "$1" timeout 5 xdotool "${@:2}" 2>/dev/null; }

# geometry SEAT WINDOW: prints "left top width height".
geometry() { on_screen "$1" window_area "$2"; }

# windows SEAT TITLE: the shown windows with that exact title.
windows() { xdo "$1" search --onlyvisible --name "^$2\$"; }

# wait_window SEAT TITLE [WIDTHxHEIGHT]: prints the first shown window that fits, waiting up to
# 10 seconds for one.
wait_window() { on_screen "$1" wait_for_window "${@:2}"; }

gone() { [[ -z $(windows "$1" "$2") ]]; }

# spot SEAT WINDOW CONTROL: the rectangle on the seat's screen of a control of real_program.sh's
# $area, as "WxH+X+Y".
spot() {
    local left top width height x y w h
    read -r left top width height < <(geometry "$1" "$2") || return 1
    read -r x y w h <<<"${area[$3]}"
    echo "${w}x$h+$((left + x))+$((top + y))"
}

click() {
    local rect
    rect=$(spot "$@") || return 1
    [[ $rect =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]]
    local -a r=("${BASH_REMATCH[@]}")
    xdo "$1" mousemove --sync $((r[3] + r[1] / 2)) $((r[4] + r[2] / 2)) click 1
}

# type_into SEAT WINDOW CONTROL TEXT: clicks the control and types the text.
type_into() {
    click "$1" "$2" "$3" && xdo "$1" type --delay 20 "$4"
}

# picture SEAT WINDOW CONTROL|"" [FILE]: the pixels of a control, or of the whole window, as a
# checksum, or saved as FILE.
picture() {
    local crop
    if [[ -n $3 ]]; then
        crop=$(spot "$1" "$2" "$3") || return 1
    else
        local left top width height
        read -r left top width height < <(geometry "$1" "$2") || return 1
        crop=${width}x$height+$left+$top
    fi
    if [[ -n ${4:-} ]]; then
        on_screen "$1" timeout 10 import -silent -window root -crop "$crop" +repage "$4"
    else
        on_screen "$1" timeout 10 import -silent -window root -crop "$crop" rgb:- | md5sum
    fi
}
save() { mkdir -p "$shots" && picture "$@" && echo "saved $4"; }

# changed SEAT CONTROL BEFORE: the control on the main window no longer looks as it did.
changed() { changed_in "$1" "${main[$1]}" "$2" "$3"; }
changed_in() {
    local now
    now=$(picture "$1" "$2" "$3") && [[ $now != "$4" ]]
}
# same SEAT1 SEAT2 CONTROL: the control looks the same on both seats.
same() {
    local one two
    one=$(picture "$1" "${main[$1]}" "$3") && two=$(picture "$2" "${main[$2]}" "$3") &&
        [[ $one == "$two" ]]
}
listening() { [[ -n $(on "$1" ss -Htln "sport = :$port") ]]; }

# start_seat SEAT: launches a copy on the seat and takes it past the splash and the thanks box.
start_seat() {
    local seat=$1 splash box Seat=${1^^}
    # Every launch starts afresh: no recovery copy and no remembered name or address from an
    # earlier launch.
    fresh_home
    XDG_RUNTIME_DIR=$work program_netns=${ns[$seat]} program_log=seat_$seat \
        on_screen "$seat" start_program
    copy[$seat]=$app
    splash=$(wait_window "$seat" '.*' 472x352)
    require "seat $Seat: the splash (472x352) comes up first" test -n "$splash"
    check "seat $Seat: the splash is centred" \
        test "$(geometry "$seat" "$splash")" == "276 208 472 352"
    click "$seat" "$splash" Image1 # any point inside it will do, the pictures included
    box=$(wait_window "$seat" Thanks)
    require "seat $Seat: a click on the splash leads to the thanks box" test -n "$box"
    xdo "$seat" windowfocus --sync "$box" key Return
    main[$seat]=$(wait_window "$seat" Skarnet 1018x714)
    require "seat $Seat: the main window opens after the thanks box" test -n "${main[$seat]}"
    check "seat $Seat: the main window sits at the screen's top-left corner" \
        test "$(geometry "$seat" "${main[$seat]}")" == "0 0 1018 714"
    check "seat $Seat: listens on port $port" wait_until 5 listening "$seat"
}

# open_connections SEAT: opens the connections window as $connections.
connections=""
open_connections() {
    local seat=$1 Seat=${1^^}
    connections=$(on_screen "$seat" find_window Connections 320x420) && return 0
    click "$seat" "${main[$seat]}" cmdConnections
    connections=$(wait_window "$seat" Connections 320x420)
    require "seat $Seat: \"Connections Window\" opens the connections window" test -n "$connections"
}

# connect_seat SEAT ADDRESS: connects through the connections window, which stays open as
# $connections.
connect_seat() {
    local seat=$1 Seat=${1^^} box
    open_connections "$seat"
    check "seat $Seat: the connections window is centred" \
        test "$(geometry "$seat" "$connections")" == "352 174 320 420"
    click "$seat" "$connections" cmdConnect
    box=$(wait_window "$seat" Connect)
    require "seat $Seat: \"Connect to IP\" asks for an address" test -n "$box"
    xdo "$seat" windowfocus --sync "$box" key ctrl+a type "$2"
    xdo "$seat" key Return
    check "seat $Seat: the address box closes on Return" wait_until 5 gone "$seat" Connect
}

# close_window SEAT TITLE: closes a window as its close button would.
close_window() {
    on_screen "$1" timeout 5 "$close_tool" "$2" && wait_until 5 gone "$1" "$2"
}

# play_moves SEAT: a zone, a chat line and a life-point subtraction, as the player would.
zone_text="Dragon 2400"
play_moves() {
    local seat=$1
    type_into "$seat" "${main[$seat]}" txtP1Monster3 "$zone_text"
    type_into "$seat" "${main[$seat]}" txtName Kai
    type_into "$seat" "${main[$seat]}" txtMessage "your move"
    xdo "$seat" key Return
    type_into "$seat" "${main[$seat]}" txtValue 500
    click "$seat" "${main[$seat]}" cmdSubtract
}

# flip_coin SEAT: opens the coin window, flips, and checks the window's own answer.
coin=""
flip_coin() {
    local seat=$1 Seat=${1^^} before
    click "$seat" "${main[$seat]}" cmdProb
    coin=$(wait_window "$seat" 'Coin / Dice Roll' 185x70)
    require "seat $Seat: \"COIN / DICE\" opens the coin window" test -n "$coin"
    before=$(picture "$seat" "$coin" lblOutcome) || die "no picture of the coin window"
    click "$seat" "$coin" cmdCoin
    check "seat $Seat: the coin window shows the outcome" \
        wait_until 5 changed_in "$seat" "$coin" lblOutcome "$before"
}

announced() { [[ $(windows "$1" Skarnet | wc -l) -eq 2 ]]; }

# --- 1. two copies ---------------------------------------------------------------------------

echo "== two copies: seat A at ${address[a]}, seat B at ${address[b]}"
start_seat a
start_seat b
declare -A initial=()
for control in lblStatus lblP2Monster3 txtChat lblP2LP; do
    initial[$control]=$(picture b "${main[b]}" $control) || die "no picture of B's $control"
done

connect_seat a "${address[b]}"
both_connected() { changed b lblStatus "${initial[lblStatus]}" && same a b lblStatus; }
require "both status lines change to the same text (Connected)" wait_until 10 both_connected
save a "$connections" "" "$shots/connections_window.png"
# It lies over the middle of the board; the link stays up without it.
check "seat A: the connections window closes" close_window a Connections

play_moves a
check "B shows A's zone text in the opponent zone of the same caption" \
    wait_until 5 changed b lblP2Monster3 "${initial[lblP2Monster3]}"
check "B's chat log shows A's line" wait_until 5 changed b txtChat "${initial[txtChat]}"
check "B shows A's lowered life points" wait_until 5 changed b lblP2LP "${initial[lblP2LP]}"
save a "${main[a]}" "" "$shots/board_seat_a.png"
save b "${main[b]}" "" "$shots/board_seat_b.png"

play_moves b
check "after the same moves on B, A's opponent zone shows what B's shows" \
    wait_until 5 same a b lblP2Monster3
check "after the same moves on B, the two chat logs are alike" wait_until 5 same a b txtChat
check "after the same moves on B, the opponent life points look alike (7500)" \
    wait_until 5 same a b lblP2LP

flip_coin a
save a "$coin" "" "$shots/coin_window.png"
check "B shows a message box titled \"Skarnet\" with A's coin flip" wait_until 5 announced b
save b "${main[b]}" "" "$shots/coin_announcement_seat_b.png"

connected_look=$(picture b "${main[b]}" lblStatus) || die "no picture of B's status line"
on_screen a timeout 5 "$close_tool" Skarnet
check "closing A's main window ends seat A's program" wait_until 5 ended "${copy[a]}"
check "B's status line changes when A leaves (Disconnected)" \
    wait_until 5 changed b lblStatus "$connected_look"
kill "${copy[b]}" 2>/dev/null
require "seat B's program ends, freeing port $port in B's namespace" wait_until 5 ended "${copy[b]}"

# --- 2. one copy against a plain peer --------------------------------------------------------

echo "== plain peer: seat A against a bare TCP peer at ${address[b]}"
ip netns exec "${ns[b]}" "$recorder" "${address[b]}" $port "$work/stream" 60 18Connected \
    >"$work/recorder.out" 2>&1 &
recorder_pid=$!
pids+=("$recorder_pid")
require "the bare peer listens in B's namespace" wait_until 5 grep -qs listening "$work/recorder.out"

start_seat a
connect_seat a "${address[b]}"
close_window a Connections
# What the peer received, as cat -v shows it: ^@ is a NUL.
stream() { cat -v "$work/stream"; }
sent=""
# extends ADDITION...: the stream is what was seen so far followed by one of the additions.
extends() {
    local addition
    for addition; do [[ $(stream) == "$sent$addition" ]] && return 0; done
    return 1
}
expect_stream() { # DESCRIPTION ADDITION...
    local what=$1 now
    shift
    if wait_until 5 extends "$@"; then
        now=$(stream)
        pass "$what: ${now#"$sent"}"
        sent=$now
        return 0
    fi
    flunk "$what; the stream is: $(stream)"
    echo "      expected after '$sent': $*"
    sent=$(stream) # the next steps look only at what comes after this
    return 1
}
expect_stream "A, connecting, greets first" '20skarnet/3^@' || finish
# Without a greeting in reply A takes the peer for a plain one after two seconds, and from then
# on every message goes out plain, without a NUL.
play_moves a
typed="" # every key sends the zone's whole text again
for ((i = 1; i <= ${#zone_text}; i++)); do typed+=13${zone_text:0:i}; done
expect_stream "A sends the moves in the plain table" "${typed}17Kai: your move027500"
flip_coin a
expect_stream "A announces the flip plain" '19Your opponnent: Flipped coin to '{HEADS,TAILS}
# Ending the link from the connections window says goodbye; the peer then sees the stream end.
check "seat A: the coin window closes" close_window a 'Coin / Dice Roll'
click a "${main[a]}" cmdConnections
connections=$(wait_window a Connections 320x420)
click a "$connections" cmdClose
expect_stream "\"Disconnect\" says goodbye" 18Disconnected
check "the stream ends after the goodbye" wait_until 10 ended "$recorder_pid"
kill "${copy[a]}" 2>/dev/null
require "seat A's program ends" wait_until 5 ended "${copy[a]}"

# --- 3. a dead link --------------------------------------------------------------------------

echo "== dead link: the network between A and B goes down mid-game"
start_seat a
start_seat b
disconnected_look=$(picture b "${main[b]}" lblStatus) || die "no picture of B's status line"
connect_seat a "${address[b]}"
require "the two copies link" wait_until 10 both_connected
check "seat A: the connections window closes" close_window a Connections
connected_look=$(picture b "${main[b]}" lblStatus)
before_zone=$(picture b "${main[b]}" lblP2Monster3)
type_into a "${main[a]}" txtP1Monster3 "Wall 0/2000"
require "B shows A's zone text" wait_until 5 changed b lblP2Monster3 "$before_zone"
click a "${main[a]}" txtName # takes the blinking caret out of the pictures compared below
declare -A kept=()
for seat in a b; do
    for control in txtP1Monster3 lblP2Monster3 lblP2LP; do
        kept[$seat$control]=$(picture "$seat" "${main[$seat]}" $control)
    done
done

down_for=25 # seconds, past the dead-link limit of 15
ip -n "${ns[a]}" link set "skd$$a" down
down_at=$SECONDS
lost() { changed a lblStatus "$connected_look" && changed b lblStatus "$connected_look"; }
if wait_until 25 lost; then
    noticed=$((SECONDS - down_at))
    check "both status lines say the link is lost within 20 seconds (took ${noticed} s)" \
        test "$noticed" -le 20
else
    flunk "the status lines still show the link 25 seconds after the network went down"
fi
save b "${main[b]}" "" "$shots/dead_link_seat_b.png"
check "both status lines say the same (Connection lost, reconnecting…)" same a b lblStatus
for seat in a b; do
    for control in txtP1Monster3 lblP2Monster3 lblP2LP; do
        check "seat ${seat^^} keeps its $control" \
            test "$(picture "$seat" "${main[$seat]}" $control)" == "${kept[$seat$control]}"
    done
done
# Moves made while the link is down reach the other seat once it is back.
type_into a "${main[a]}" txtP1Monster3 " DEF"
type_into b "${main[b]}" txtP1Monster3 "Golem"
for seat in a b; do click "$seat" "${main[$seat]}" txtName; done

rest=$((down_at + down_for - SECONDS))
((rest > 0)) && sleep "$rest"
ip -n "${ns[a]}" link set "skd$$a" up
now_ms() { echo $(($(date +%s%N) / 1000000)); }
up_ms=$(now_ms)
# The milliseconds after the network came back when each seat first read "Connected".
declare -A back=()
both_back() {
    local seat
    for seat in a b; do
        [[ -z ${back[$seat]:-} &&
            $(picture "$seat" "${main[$seat]}" lblStatus) == "$connected_look" ]] &&
            back[$seat]=$(($(now_ms) - up_ms))
    done
    [[ -n ${back[a]:-} && -n ${back[b]:-} ]]
}
if wait_until 20 both_back; then
    check "both seats say Connected again within 10 s, no click (A after ${back[a]} ms, B after \
${back[b]} ms)" test "$((back[a] > back[b] ? back[a] : back[b]))" -le 10000
else
    flunk "the copies did not link again by themselves (A: ${back[a]:-never}, B: ${back[b]:-never})"
fi
check "B shows the edit A made while the link was down" \
    wait_until 5 changed b lblP2Monster3 "${kept[blblP2Monster3]}"
check "A shows the edit B made while the link was down" \
    wait_until 5 changed a lblP2Monster3 "${kept[alblP2Monster3]}"

# A player's "Disconnect" ends it for good: B leaves, then waits for a connection again, so a
# redial from A would link them.
open_connections b
click b "$connections" cmdClose
click b "$connections" cmdWait
check "seat B: \"Wait For Connection\" listens again after \"Disconnect\"" wait_until 5 listening b
close_window b Connections
sleep 10
apart() {
    [[ $(picture a "${main[a]}" lblStatus) != "$connected_look" &&
        $(picture b "${main[b]}" lblStatus) != "$connected_look" ]]
}
check "10 seconds after B's \"Disconnect\" neither seat says Connected (A did not dial again)" apart

finish
