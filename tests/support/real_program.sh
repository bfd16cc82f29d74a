# shellcheck shell=bash
# Shared by the checks that run the real program on a virtual X display: sourced, not run. Brings
# in system_check.sh (skip, fail, the steps, wait_until, $work and $pids).
#
#   start_display [WxH]     a private Xvfb on a free display number (1280x1024 unless given),
#                           exported as DISPLAY
#   start_program ARGS...   the program ($program) on it; its process id in $app, its output
#                           added to $work/$program_log.log ("program" unless set); in the network
#                           namespace $program_netns where that is set
#   fresh_home              new data and settings folders for the launches that follow: no
#                           recovery copy and no remembered name or address
#   launch ARGS...          start_program, then past the splash and the thanks box to the board
#                           (a splash of any size where $splash_size is "any")
#   wait_for_splash [any]   prints the splash's window id (472 x 352, untitled; of any size
#                           with "any", for a program drawn smaller to fit its screen)
#   window_area WINDOW      prints the window's "left top width height"
#   sized WINDOW WxH        the window is that size
#   find_window TITLE [WxH] prints the first shown window with exactly that title (and size)
#   wait_for_window TITLE [WxH]  the same, waiting up to 10 seconds for one
#   past_the_splash SPLASH  clicks the splash, answers the thanks box, waits for the board
#   listens PORT            something on this machine takes connections on PORT
#   click_on WINDOW CONTROL [SCALE]  clicks the middle of a control of $area in the window,
#                           drawn SCALE times its normal size (1 unless given)
#   free_port               prints a TCP port above 1023 that nothing listens on
#   peer_on PORT            links a plain TCP peer, on descriptor 3, to the program on PORT
#
# The program's data and settings stay in $work unless fresh_home is used.

# shellcheck source=SCRIPTDIR/../support/system_check.sh
source "$(dirname "${BASH_SOURCE[0]}")/system_check.sh"

command -v Xvfb >/dev/null || skip "Xvfb is not installed"
command -v xdotool >/dev/null || skip "xdotool is not installed"

# The program's recovery copy and remembered choices stay in the check's own folder: a check
# that ends the program abruptly must not leave a question for the next one.
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
# The copies of one check hand invitations only to each other, through a socket in its folder:
# never to a player's copy, nor to another check's.
export SKARNET_INSTANCE_NAME=$work/skarnet.socket
# No STUN server and no relay: a copy that looks for a path over UDP stays on the networks the
# check made.
export SKARNET_STUN= SKARNET_TURN=

# Where controls lie in their window at the normal size: left top width height. There is no window
# manager, so a window's position is its client area's.
declare -A area=(
    [cmdConnections]="8 664 113 41" [lblStatus]="128 680 233 25"
    [txtP1Monster3]="392 368 113 129" [lblP2Monster3]="392 216 113 129"
    [lblP2LP]="88 16 41 17" [txtValue]="720 672 49 19" [cmdSubtract]="640 664 73 17"
    [txtName]="968 360 41 19" [txtMessage]="896 664 121 19" [txtChat]="896 384 121 273"
    [cmdSend]="896 688 121 20" [cmdProb]="904 336 105 17"
    [cmdConnect]="112 8 97 65" [cmdClose]="216 8 97 65" [cmdWait]="8 8 97 65" # Connections
    [cmdCoin]="8 8 73 25" [lblOutcome]="8 40 169 25"                          # Coin / Dice Roll
    [Image1]="0 256 269 94"                                                   # the splash
)

click_on() {
    local x y w h
    read -r x y w h <<<"${area[$2]}"
    read -r x y < <(awk -v x=$((x + w / 2)) -v y=$((y + h / 2)) -v f="${3:-1}" \
        'BEGIN { printf "%d %d", x * f + 0.5, y * f + 0.5 }')
    xdotool mousemove --window "$1" "$x" "$y" click 1
}

fresh_home() {
    local home
    home=$(mktemp -d -p "$work" home.XXXX)
    export XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config
}

start_display() {
    # Xvfb picks a free display number itself and writes it to the pipe. Without -noreset it
    # resets whenever its last client leaves (the readiness probe below), and a program that
    # connects during that reset is refused.
    local number
    number=$(mktemp -p "$work" display.XXXX)
    Xvfb -displayfd 5 -screen 0 "${1:-1280x1024}x24" -nolisten tcp -noreset 5>"$number" \
        >>"$work/xvfb.log" 2>&1 &
    pids+=("$!")
    wait_until 5 test -s "$number" || fail "the virtual display did not start"
    DISPLAY=:$(head -n 1 "$number")
    export DISPLAY
    wait_until 5 xdotool getdisplaygeometry >/dev/null 2>&1 ||
        fail "the virtual display does not answer"
}

start_program() {
    local run=("$program")
    [[ -z ${program_netns:-} ]] || run=(ip netns exec "$program_netns" "$program")
    QT_QPA_PLATFORM=xcb "${run[@]}" "$@" >>"$work/${program_log:-program}.log" 2>&1 &
    app=$!
    pids+=("$app")
}

launch() {
    local splash
    start_program "$@"
    splash=$(wait_for_splash "${splash_size:-}") || exit 1
    past_the_splash "$splash"
}

window_area() {
    local key value X="" Y="" WIDTH="" HEIGHT=""
    while IFS='=' read -r key value; do
        case $key in X | Y | WIDTH | HEIGHT) printf -v "$key" %s "$value" ;; esac
    done < <(timeout 5 xdotool getwindowgeometry --shell "$1" 2>/dev/null)
    [[ -n $X ]] && echo "$X $Y $WIDTH $HEIGHT"
}
sized() { [[ $(window_area "$1") == *" ${2/x/ }" ]]; }

find_window() {
    local id
    for id in $(timeout 5 xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
        [[ -z ${2:-} ]] || sized "$id" "$2" || continue
        echo "$id"
        return 0
    done
    return 1
}
wait_for_window() { wait_until 10 find_window "$@"; }

wait_for_splash() {
    local id
    for _ in $(seq 100); do
        for id in $(xdotool search --onlyvisible --classname skarnet 2>/dev/null); do
            [[ ${1:-} == any ]] || sized "$id" 472x352 || continue
            echo "$id"
            return 0
        done
        ended "$app" && fail "the program ended: $(cat "$work/${program_log:-program}.log")"
        sleep 0.1
    done
    fail "the splash did not appear"
}

# A click in the middle of the splash, whatever size it is drawn at.
past_the_splash() {
    local box width height
    read -r _ _ width height < <(window_area "$1")
    xdotool mousemove --window "$1" $((width / 2)) $((height / 2)) click 1
    box=$(wait_for_window Thanks) ||
        fail "the thanks box did not appear after a click on the splash"
    xdotool windowfocus --sync "$box" key Return
    wait_for_window Skarnet >/dev/null || fail "the main window did not appear"
}

listens() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
    local port
    for _ in $(seq 20); do
        port=$((20000 + RANDOM % 40000))
        listens "$port" || { echo "$port"; return 0; }
    done
    skip "found no free port"
}

peer_on() { exec 3<>"/dev/tcp/127.0.0.1/$1"; } 2>/dev/null
