#!/usr/bin/env bash
# shellcheck disable=SC2317 # the small predicates are called through check and wait_until
# Two copies whose ports nobody opened find each other over UDP, through home routers of every
# common kind, and through a relay where no direct path exists.
#
# One network namespace is the internet (a bridge, 203.0.113.0/24 and 2001:db8::/64, nothing
# beyond): coturn there answers STUN and is the relay (user u, password p). Each player sits in
# a home of one kind, each home in namespaces of its own:
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
#   links  every pairing of the direct kinds links directly; sym and noudp say why they cannot
#          without the relay, and link through it with it; messages arrive whole and in order
#          through shaped, lossy links; replies that do not belong are refused; the relay's
#          network never carries the text of a chat line
#   idle   a link through both routers stays up five minutes idle and still carries a line
#   bed    the homes alone, tried with coturn's own STUN and TURN clients
# Exits 77 (skipped) without root, network namespaces, nft, tc or coturn.
set -uo pipefail

peer_tool=$1
mode=${2:-links}
budget=100 # seconds; stays below the test's timeout so that cleaning up always gets to run
[[ $mode == idle ]] && budget=400

# shellcheck source=../support/system_check.sh
source "$(dirname "$0")/../support/system_check.sh"
# shellcheck source=../support/netns.sh
source "$(dirname "$0")/../support/netns.sh"
for tool in nft tc turnserver; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

# --- the internet ----------------------------------------------------------------------------

tag=ski
new_hosts "$tag" inet
ip -n "${ns[inet]}" link add br0 type bridge
on inet sysctl -qw net.bridge.bridge-nf-call-iptables=0 2>/dev/null
link_up inet br0 203.0.113.1/24 203.0.113.2/24 2001:db8::1/64
# The internet routes IPv6 to each home's own network, and IPv4 nowhere: every IPv4 address
# out there is on its bridge.
on inet sysctl -qw net.ipv6.conf.all.forwarding=1
ip -n "${ns[inet]}" link set br0 type bridge mcast_snooping 0

start_relay() {
    mkdir -p "$work/turndb"
    ip netns exec "${ns[inet]}" turnserver -n --listening-ip=203.0.113.1 --relay-ip=203.0.113.1 \
        --listening-port=3478 --min-port=49152 --max-port=49999 --realm=test --lt-cred-mech \
        --user=u:p --fingerprint --no-tls --no-dtls --no-cli --db="$work/turndb/db" \
        --log-file=stdout --simple-log --pidfile="$work/turn.pid" "$@" >"$work/turn.log" 2>&1 &
    pids+=("$!")
    relay_up() { [[ -n $(on inet ss -Hlnu 'sport = :3478') && -n $(on inet ss -Hltn 'sport = :3478') ]]; }
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
    start_relay --listening-ip=203.0.113.2 --alt-listening-port=3479
    ip -n "${ns[inet]}" addr add 203.0.113.3/24 dev br0
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
