# shellcheck shell=bash
# The bed for two copies whose ports nobody opened: a namespace internet with a STUN server and
# relay, and home routers of every common kind. Sourced, not run, after system_check.sh; brings
# in netns.sh, and skips (77) without nft, tc or coturn. Sourcing it makes the internet.
#
# One network namespace is the internet (a bridge, 203.0.113.0/24 and 2001:db8::/64, nothing
# beyond), where coturn answers STUN and is the relay once started. Each player sits in a home
# of one kind, each home in namespaces of its own:
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
#   start_relay [OPTIONS...]   coturn on 203.0.113.1:3478 (users: --user=NAME:PASSWORD)
#   home NAME KIND             a player's machine NAME behind a router of that kind
#   open_port NAME PORT        NAME's router forwards TCP PORT to it, as one a player opened
#   shape NAME                 NAME's home link is slow and lossy
#   nat ROUTER KIND            ROUTER's ruleset (home uses it)

# shellcheck disable=SC2154,SC2034 # $work comes from system_check.sh; the arrays go to the caller
# shellcheck source=SCRIPTDIR/../support/netns.sh
source "$(dirname "${BASH_SOURCE[0]}")/netns.sh"
for tool in nft tc turnserver; do
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
    # shellcheck disable=SC2317 # called through wait_until
    relay_up() {
        [[ -n $(on inet ss -Hlnu 'sport = :3478') && -n $(on inet ss -Hltn 'sport = :3478') ]]
    }
    wait_until 5 relay_up || fail "coturn does not listen"
}

# --- the homes -------------------------------------------------------------------------------

# home NAME KIND: a player's machine, NAME, behind its router NAMEr (and, in a carrier home,
# the carrier's NAT NAMEc), on the internet's bridge; address[NAME] is the machine's IPv4
# address, public_address[NAME] its home's address on the internet. The Nth home is 192.168.N.2
# inside and 203.0.113.(10+N) outside (2001:db8:N::2 and 2001:db8::(10+N) for IPv6 in a v6 home).
declare -A address=() public_address=()
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
    public_address[$name]=203.0.113.$((10 + n))
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

# open_port HOME PORT: the home's router forwards TCP connections to PORT on its outside address
# to the home's machine.
open_port() {
    on "${1}r" nft -f - <<EOF || fail "cannot forward port $2 to $1"
table inet home {
    chain prerouting {
        type nat hook prerouting priority dstnat; policy accept;
        iifname "wan0" tcp dport $2 dnat ip to ${address[$1]}
    }
}
insert rule inet home forward iifname "wan0" ct status dnat accept
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
