#!/usr/bin/env bash
# shellcheck disable=SC2317 # the small predicates are called through check and wait_until
# Two copies whose ports nobody opened find each other over UDP, through home routers of every
# common kind, and through a relay where no direct path exists. Each copy is ice_peer, the link
# stack without windows; the host's invitation and the joiner's reply go through files, as the
# players would paste them.
#
# The internet, with coturn as the relay (a user for each copy), and the homes of every kind
# (cone, carrier, v6, sym, noudp) are the bed of ../support/ice_bed.sh.
#
# usage: ice_check.sh ICE_PEER [links|idle|bed]
#   links  (the default) the pairings below, all at once, each in homes of its own:
#          1. every pairing of cone, carrier and v6 links within 15 s of the reply, on a path
#             named "direct ..."; the joiner's marker line goes over and its echo comes back;
#          2. sym and noudp, without a relay, say within 45 s why no path was found and that a
#             relay would help; with one they link through it within 20 s, and once both copies
#             ended the relay holds none of their allocations within 10 s;
#          3. behind a home at 256 kbit/s that loses 5% of its packets, 10,000 lines arrive
#             whole and in order, through the routers and through the relay;
#          4. a reply that names another copy than the one that comes: the host refuses it;
#          5. the internet never carried a marker line in the clear.
#          With ICE_CHECK_ONLY="NAME..." only those pairings run, to look into one.
#   idle   a link through both routers stays up five minutes idle, then carries a line
#   bed    the homes alone, tried with coturn's own STUN and TURN clients
# Exits 77 (skipped) without root, network namespaces, nft, tc, coturn or /usr/bin/python3.
set -uo pipefail

peer_tool=$1
mode=${2:-links}
budget=100 # seconds; stays below the test's timeout so that cleaning up always gets to run
[[ $mode == idle ]] && budget=400 check_name=ice_idle_check

# shellcheck source=../support/system_check.sh
source "$(dirname "$0")/../support/system_check.sh"
[[ -x /usr/bin/python3 ]] || skip "/usr/bin/python3 is not installed"
# shellcheck source=../support/ice_bed.sh
source "$(dirname "$0")/../support/ice_bed.sh"

# --- the homes alone ---------------------------------------------------------------------------

# bed: one home of each kind, tried with coturn's clients: the router's mapping behaviour
# (cone, carrier and v6 keep one outside port for every destination, sym does not; noudp gets
# no answer), and the messages a relay carried to a peer on the internet, over UDP and over TCP
# (noudp only over TCP). Tells a fault of this machine's set-up from one of the program.
if [[ $mode == bed ]]; then
    # A second address and port for the mapping test, and a peer for the relayed messages.
    ip -n "${ns[inet]}" addr add 203.0.113.2/24 dev br0
    ip -n "${ns[inet]}" addr add 203.0.113.3/24 dev br0
    start_relay --user=u:p --listening-ip=203.0.113.2 --alt-listening-port=3479
    ip netns exec "${ns[inet]}" turnutils_peer -L 203.0.113.3 >"$work/peer.log" 2>&1 &
    pids+=("$!")
    for kind in cone carrier v6 sym noudp; do
        home "$kind" "$kind"
        echo "== $kind"
        on "$kind" timeout 3 turnutils_natdiscovery -m 203.0.113.1 2>&1 | grep 'NAT with'
        for transport in udp tcp; do
            echo "relayed over $transport: $(on "$kind" timeout 10 turnutils_uclient \
                "$([[ $transport == tcp ]] && echo -t || echo -c)" -u u -w p -e 203.0.113.3 \
                -n 3 -c 203.0.113.1 2>&1 | grep -o 'tot_recv_msgs=[0-9]*' | tail -1)"
        done
    done
    finish
fi

# --- the players -----------------------------------------------------------------------------

now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }

# play PAIRING TRY RELAY [JOINER OPTIONS...]: ice_peer hosts in the home PAIRINGa and joins from
# PAIRINGb, both looking for their outside addresses with coturn; with RELAY "relay" both may
# also use it as the relay, as the users PAIRINGh and PAIRINGj. The files of the try are in
# $dir, what each prints in $dir/host.out and $dir/join.out; $host and $joiner are the two
# processes.
dir="" host="" joiner=""
play() {
    local pairing=$1 try=$2 relay=$3
    shift 3
    dir=$work/$pairing-$try
    mkdir -p "$dir"
    peer "$pairing" a host "$relay" --address "${address[${pairing}a]}"
    host=$!
    peer "$pairing" b join "$relay" "$@"
    joiner=$!
}
# peer PAIRING HOME ROLE RELAY ARGS...: one ice_peer, in the background.
peer() {
    local turn=""
    [[ $4 == relay ]] && turn=$1${3:0:1}:p@203.0.113.1:3478
    SKARNET_STUN=203.0.113.1:3478 SKARNET_TURN=$turn ip netns exec "${ns[$1$2]}" \
        "$peer_tool" "$3" "$dir" "${@:5}" >"$dir/$3.out" 2>&1 &
}
# said OUTPUT EVENT [TEXT]: the peer printed that event, with a text that begins with TEXT.
said() { grep -q "^$2 [0-9]*${3:+ $3}" "$1"; }
# the OUTPUT EVENT: the text of that peer's last such event; at OUTPUT EVENT: its milliseconds.
the() { sed -n "s/^$2 [0-9]* //p" "$1" | tail -1; }
at() { awk -v event="$2" '$1 == event {print $2}' "$1" | tail -1; }
# both EVENT [TEXT]: both peers of the try printed it.
both() { said "$dir/host.out" "$@" && said "$dir/join.out" "$@"; }
# since MS: the milliseconds since then.
since() { echo $(($(now_ms) - $1)); }
not() { ! "$@"; }
# replied SECONDS: the joiner's reply reached the host's player within SECONDS; $replied is
# when it did.
replied=0
replied() {
    wait_until "$1" test -s "$dir/reply" || { flunk "no reply line within $1 s"; return 1; }
    replied=$(now_ms)
}
# stop: SIGTERM to both peers, as a player would quit; each must be gone within 10 seconds.
stop() {
    local pid role=joiner asked
    asked=$(now_ms)
    kill "$joiner" "$host" 2>/dev/null
    for pid in "$joiner" "$host"; do
        if wait_until 10 ended "$pid"; then
            echo "      (the $role ended $(since "$asked") ms after SIGTERM)"
        else
            flunk "the $role did not end within 10 s of SIGTERM"
            kill -9 "$pid"
        fi
        role=host
    done
}
# allocations USER: how many relay allocations coturn holds for USER.
allocations() {
    awk -v user="username=<$1>" '$0 ~ user && / new, realm=/ {live[$4]} \
        $0 ~ user && / delete: realm=/ {delete live[$4]} END {print length(live)}' "$work/turn.log"
}
no_allocations() { [[ $(allocations "$1") == 0 ]]; }
# released PAIRING: both of the pairing's copies held allocations, and within 10 seconds
# neither does.
released() {
    local role
    for role in h j; do ((held[$role] > 0)) || return 1; done
    for role in h j; do wait_until 10 no_allocations "$1$role" || return 1; done
}

# marker PAIRING: the chat line the pairing's joiner sends, which the internet must never carry
# in the clear.
marker() { echo "marker-$1-$(cksum <<<"$work$1" | cut -d' ' -f1)"; }

# pairing NAME HOST_KIND JOINER_KIND PATH [JOINER OPTIONS...]: the two copies of the pairing
# NAME link on PATH ("direct": around or through the routers; "relay": only through the relay,
# so that they first say so without it; "refused": not at all, as the reply names another copy
# than the one that comes over the path it leads to). The joiner sends its marker, which the
# host echoes; a joiner whose home is slow and lossy (JOINER_KIND ends in "+shaped") sends
# 10,000 numbered lines first; one told to --idle sends one more line after that long.
pairing() {
    local name=$1 joiner_kind=$3 path=$4 limit=15 idle=0
    shift 4
    local options=(--marker "$(marker "$name")" "$@")
    [[ $joiner_kind == *+shaped ]] && options+=(--send 10000)
    [[ " $* " =~ " --idle "([0-9]+) ]] && idle=${BASH_REMATCH[1]}
    if [[ $path == refused ]]; then
        play "$name" 1 none --claim stranger
        replied 20 || { stop; return; }
        check "$name: the host refuses the copy that comes over the path, within 15 s" \
            wait_until 15 said "$dir/host.out" notice '.*not the copy whose reply was pasted'
        echo "      ($(since "$replied") ms after the reply): $(the "$dir/host.out" notice)"
        check "$name: and seats nobody" not said "$dir/host.out" linked
        stop
        return
    fi
    if [[ $path == relay ]]; then
        limit=20
        play "$name" 1 none
        if replied 20; then
            check "$name: with no relay, the host says within 45 s of the reply what would help" \
                wait_until 45 said "$dir/host.out" '\(status\|notice\)' '.*relay'
            echo "      ($(since "$replied") ms): $(grep -h relay "$dir/host.out" | head -1)"
        fi
        stop
    fi
    play "$name" 2 "$path" "${options[@]}"
    replied 20 || { stop; return; }
    if ! check "$name: both copies link within $limit s of the reply" \
        wait_until "$limit" both linked; then
        echo "      host: $(the "$dir/host.out" status)"
        echo "      joiner: $(the "$dir/join.out" status)"
        stop
        return
    fi
    echo "      ($(since "$replied") ms; the reply $(at "$dir/join.out" reply) ms after the" \
        "joiner's start): host \"$(the "$dir/host.out" linked)\"," \
        "joiner \"$(the "$dir/join.out" linked)\""
    local text=${path/relay/through relay}
    check "$name: both name the path \"$text ...\"" both linked "$text"
    if [[ $joiner_kind == *+shaped ]]; then
        check "$name: 10,000 lines arrive whole and in order at 256 kbit/s with 5% loss" \
            wait_until 60 said "$dir/host.out" received "10000 in order"
        echo "      ($(since "$replied") ms after the reply): $(the "$dir/host.out" received)"
    fi
    check "$name: the marker line goes over and its echo comes back" \
        wait_until 10 said "$dir/join.out" chat "echo $(marker "$name")"
    if ((idle)); then
        local statuses
        statuses=$(grep -c '^status' "$dir/host.out" "$dir/join.out")
        check "$name: after $idle s idle a line still goes over and its echo comes back" \
            wait_until $((idle + 20)) said "$dir/join.out" chat "echo still here after $idle s"
        check "$name: neither copy's status changed meanwhile" \
            test "$(grep -c '^status' "$dir/host.out" "$dir/join.out")" == "$statuses"
    fi
    local -A held=([h]=$(allocations "${name}h") [j]=$(allocations "${name}j"))
    stop
    [[ $path == relay ]] || return
    local what="the relay held ${held[h]} allocations for the host and ${held[j]} for the joiner"
    check "$name: $what, and none 10 s after their end" released "$name" ||
        echo "      left: $(allocations "${name}h") (host), $(allocations "${name}j") (joiner)"
}

# --- the pairings ----------------------------------------------------------------------------

if [[ $mode == idle ]]; then
    start_relay --user=idh:p --user=idj:p
    home ida cone
    home idb carrier
    pairing id cone carrier direct --idle 300
    finish
fi

if [[ $mode == links ]]; then
    #         name host     joiner         path
    pairings=("cc  cone     cone           direct"
              "ck  cone     carrier        direct"
              "cv  v6       cone           direct"
              "kk  carrier  carrier        direct"
              "kv  carrier  v6             direct"
              "vv  v6       v6             direct"
              "sh  cone     cone+shaped    direct"
              "sy  sym      cone+shaped    relay"
              "nu  cone     noudp          relay"
              "im  cone     cone           refused")
    if [[ -n ${ICE_CHECK_ONLY:-} ]]; then
        for each in "${!pairings[@]}"; do
            [[ " $ICE_CHECK_ONLY " == *" ${pairings[each]%% *} "* ]] || unset "pairings[each]"
        done
    fi
    users=()
    for each in "${pairings[@]}"; do
        read -r name host_kind joiner_kind _ <<<"$each"
        home "${name}a" "$host_kind"
        home "${name}b" "${joiner_kind%+shaped}"
        [[ $joiner_kind == *+shaped ]] && shape "${name}b"
        users+=("--user=${name}h:p" "--user=${name}j:p")
    done
    start_relay "${users[@]}"
    # Every frame that crosses the internet, as it crosses.
    ip netns exec "${ns[inet]}" /usr/bin/python3 -c '
import socket, sys
capture = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(3))
with open(sys.argv[1], "wb", buffering=0) as out:
    while True:
        out.write(capture.recv(65536))' "$work/capture" &
    pids+=("$!")
    running=()
    for each in "${pairings[@]}"; do
        # shellcheck disable=SC2086 # one word a field
        pairing $each >"$work/${each%% *}.log" 2>&1 &
        running+=("$!")
    done
    pids+=("${running[@]}")
    wait "${running[@]}"
    for each in "${pairings[@]}"; do
        cat "$work/${each%% *}.log"
        ((failures += $(grep -c '^FAIL:' "$work/${each%% *}.log")))
    done
    markers() { for each in "${pairings[@]}"; do marker "${each%% *}"; done; }
    check "the internet carried $(($(stat -c %s "$work/capture") / 1024)) KiB and no marker line" \
        test -s "$work/capture" -a "$(grep -c -a -F -f <(markers) "$work/capture")" == 0
    finish
fi
