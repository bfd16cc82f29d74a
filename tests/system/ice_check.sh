#!/usr/bin/env bash
# shellcheck disable=SC2317 # the small predicates are called through check and wait_until
# Two copies whose ports nobody opened find each other over UDP, through home routers of every
# common kind, and through a relay where no direct path exists. Each copy is ice_peer, the link
# stack without windows; the host's invitation and the joiner's reply go through files, as the
# players would paste them.
#
# One network namespace is the internet (a bridge, 203.0.113.0/24 and 2001:db8::/64, nothing
# beyond): coturn there answers STUN and is the relay, with a user for each copy. Each player sits
# in a home of one kind, each home in namespaces of its own:
#
#   cone      a router that masquerades, keeping ports (endpoint-independent mapping)
#   carrier   the same router, whose outside (100.64.N.2) is itself behind the carrier's NAT
#   v6        a cone router for IPv4 that forwards IPv6 unchanged but lets no new connection in
#   sym       a router that picks a new random port for every destination (symmetric NAT)
#   noudp     a network that forwards no UDP at all
#
# Every router drops what comes in on its outside unasked, as real ones do (Linux would
# otherwise keep a conntrack entry for the stray packet and move the next mapping off its
# port), and forgets UDP mappings after 30 seconds.
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
# shellcheck source=../support/netns.sh
source "$(dirname "$0")/../support/netns.sh"
for tool in nft tc turnserver /usr/bin/python3; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

# --- the internet ----------------------------------------------------------------------------

tag=ski
new_hosts "$tag" inet
ip -n "${ns[inet]}" link add br0 type bridge
on inet sysctl -qw net.bridge.bridge-nf-call-iptables=0 2>/dev/null
link_up inet br0 203.0.113.1/24 2001:db8::1/64
# The internet routes IPv6 to each home's own network, and IPv4 nowhere: every IPv4 address
# out there is on its bridge.
on inet sysctl -qw net.ipv6.conf.all.forwarding=1

# start_relay [OPTIONS...]: coturn on 203.0.113.1:3478, UDP and TCP, logging each allocation
# made and deleted (-v) to $work/turn.log.
start_relay() {
    mkdir -p "$work/turndb"
    ip netns exec "${ns[inet]}" turnserver -v -n --listening-ip=203.0.113.1 --relay-ip=203.0.113.1 \
        --listening-port=3478 --min-port=49152 --max-port=49999 --realm=test --lt-cred-mech \
        --fingerprint --no-tls --no-dtls --no-cli --db="$work/turndb/db" \
        --log-file="$work/turn.log" --simple-log --pidfile="$work/turn.pid" "$@" \
        >"$work/turn.out" 2>&1 &
    pids+=("$!")
    relay_up() {
        [[ -n $(on inet ss -Hlnu 'sport = :3478') && -n $(on inet ss -Hltn 'sport = :3478') ]]
    }
    wait_until 5 relay_up || fail "coturn does not listen"
}

# --- the homes -------------------------------------------------------------------------------

# home NAME KIND: a player's machine, NAME, behind its router NAMEr (and, in a carrier home,
# the carrier's NAT NAMEc), on the internet's bridge; address[NAME] is the machine's IPv4
# address. The Nth home is 192.168.N.2 inside and 203.0.113.(10+N) outside (2001:db8:N::2 and
# 2001:db8::(10+N) for IPv6 in a v6 home).
declare -A address=()
homes=0
home() {
    local name=$1 kind=$2 n=$((++homes))
    local router=${name}r outside=${name}r
    new_hosts "$tag" "$name" "$router"
    veth "$name" eth0 "$router" lan0
    link_up "$name" eth0 "192.168.$n.2/24"
    link_up "$router" lan0 "192.168.$n.1/24"
    on "$name" ip route add default via "192.168.$n.1"
    address[$name]=192.168.$n.2
    if [[ $kind == carrier ]]; then
        outside=${name}c
        new_hosts "$tag" "$outside"
        veth "$router" wan0 "$outside" lan0
        link_up "$router" wan0 "100.64.$n.2/24"
        link_up "$outside" lan0 "100.64.$n.1/24"
        on "$router" ip route add default via "100.64.$n.1"
        nat "$router" cone
    fi
    veth "$outside" wan0 inet "p$n"
    ip -n "${ns[inet]}" link set "p$n" master br0 up
    link_up "$outside" wan0 "203.0.113.$((10 + n))/24"
    on "$outside" ip route add default via 203.0.113.1
    if [[ $kind == v6 ]]; then
        ip -n "${ns[$name]}" addr add "2001:db8:$n::2/64" dev eth0 nodad
        ip -n "${ns[$router]}" addr add "2001:db8:$n::1/64" dev lan0 nodad
        ip -n "${ns[$router]}" addr add "2001:db8::$((10 + n))/64" dev wan0 nodad
        on "$name" ip -6 route add default via "2001:db8:$n::1"
        on "$router" ip -6 route add default via 2001:db8::1
        on inet ip -6 route add "2001:db8:$n::/64" via "2001:db8::$((10 + n))"
        on "$router" sysctl -qw net.ipv6.conf.all.forwarding=1
    fi
    nat "$outside" "$kind"
}

# nat ROUTER KIND: ROUTER forwards from lan0 out of wan0 and masquerades what goes out there;
# what comes in on wan0 is let through (forwarded, or to the router itself) only as the answer
# to something that went out.
nat() {
    local router=$1 kind=$2 masquerade=masquerade stop_udp=""
    [[ $kind == sym ]] && masquerade="masquerade random,fully-random"
    [[ $kind == noudp ]] && stop_udp="meta l4proto udp drop"
    on "$router" sysctl -qw net.ipv4.ip_forward=1 net.ipv4.conf.all.rp_filter=0 \
        net.ipv4.conf.default.rp_filter=0 net.netfilter.nf_conntrack_udp_timeout=30 \
        net.netfilter.nf_conntrack_udp_timeout_stream=30
    on "$router" nft -f - <<EOF || fail "cannot load the router's nftables ruleset"
table inet home {
    chain input {
        type filter hook input priority filter; policy accept;
        iifname "wan0" ct state established,related accept
        iifname "wan0" meta l4proto ipv6-icmp accept
        iifname "wan0" drop
    }
    chain forward {
        type filter hook forward priority filter; policy drop;
        $stop_udp
        ct state established,related accept
        iifname "lan0" oifname "wan0" accept
    }
    chain postrouting {
        type nat hook postrouting priority srcnat; policy accept;
        oifname "wan0" meta nfproto ipv4 $masquerade
    }
}
EOF
}

# shape HOME: the home's link is slow (256 kbit/s each way) and loses one packet in twenty.
shape() {
    local router=${1}r interface
    [[ -v ns[${1}c] ]] && router=${1}c
    for interface in wan0 lan0; do
        on "$router" tc qdisc add dev "$interface" root tbf rate 256kbit burst 4kb latency 200ms ||
            fail "cannot shape the link of $1"
    done
    on "$router" nft insert rule inet home forward numgen random mod 100 '<' 5 drop
}

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
