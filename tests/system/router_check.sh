#!/usr/bin/env bash
# shellcheck disable=SC2317 # the small predicates are called through check and wait_until
# The real program asks a real home router to open its port, and the other player, out on the
# internet, gets in through the address the program shows.
#
# Four network namespaces make a small internet: `home` (this player, 192.168.77.10) and `lan2`
# (a second machine, .11) sit on the LAN bridge of `router`, which masquerades them out of its
# WAN side 203.0.113.1 and lets nothing in unless told to; `wan` is the other player
# (203.0.113.50 and .51) and runs a STUN server, from which the router learns that its WAN
# address is reachable. IPv6 runs beside it without translation: the LAN is 2001:db8:77::/64,
# the WAN 2001:db8:113::/64, and the router forwards between them. The router runs Debian's miniupnpd (UPnP IGD and NAT-PMP) on an
# nftables ruleset made here. The program runs in `home` on a virtual display; the internet line
# of its connections window is read through the accessibility bus, as a screen reader reads it,
# and the other player is a bare TCP client in `wan`.
#
#   1. The router allows every port: the line shows 203.0.113.1:123; the player in `wan` is
#      greeted through it, and a zone typed on the board (and then the copied address, pasted
#      into it) reaches them. Once the program has ended the router forwards nothing and holds
#      no mapping.
#   2. No router daemon: the line says so within 10 seconds, and a LAN peer still links.
#   3. The router allows only ports 1024 and up: the line shows another port, >= 1024, that
#      works.
#   4. Port 123 is already mapped to the second LAN machine: the line shows another port that
#      works, and the second machine keeps its mapping.
#   5. --no-port-mapping: the line says the router was not asked, and the router saw nothing.
#   6. A router that speaks only NAT-PMP: the line shows an address that works.
#   7. The router refuses every port: the line says so, and the router holds no mapping.
#   8. The router's own WAN address is in the carriers' shared space (100.64.0.1): the line says
#      the router is itself behind another network, and nothing is mapped.
#   9. SIGINT, SIGTERM and SIGHUP each end the program as closing its window does: the player in
#      `wan` reads "18Disconnected" and then the end of the stream, the router holds no mapping,
#      no recovery copy is left, and the next start asks nothing.
#  10. IPv6 behind that same carrier's network: the router (miniupnpd with IPv6, UPnP IGD 2) opens
#      its IPv6 firewall to the stable address of `home` (not its temporary one, which `home`
#      dials out from, nor its deprecated one). The line shows that address, the player in `wan`
#      is greeted through it, the pinhole is renewed before its short lease runs out, and it is
#      gone once SIGTERM has ended the program.
#
# usage: router_check.sh PROGRAM X11_CLOSE_TOOL [TCP_RECORD_TOOL]
# With ROUTER_CHECK_TOOLS=1 the same routers are tried with upnpc and natpmpc, and tcp_record
# listening in `home`, in place of the program: to tell a fault of this machine's router set-up
# from one of the program. The recording tool defaults to tcp_record beside the close tool.
# Exits 77 (skipped) without root, network namespaces or a tool it needs.
set -uo pipefail

program=$1
close_tool=$2
recorder=${3:-$(dirname "$close_tool")/tcp_record}
port=123
budget=150 # seconds; stays below the test's timeout so that cleaning up always gets to run

# shellcheck source=../support/real_program.sh
source "$(dirname "$0")/../support/real_program.sh"
# shellcheck source=../support/accessibility_bus.sh
source "$(dirname "$0")/../support/accessibility_bus.sh"
# shellcheck source=../support/netns.sh
source "$(dirname "$0")/../support/netns.sh"
for tool in nft ss miniupnpd stund upnpc natpmpc; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

# --- the network -----------------------------------------------------------------------------

new_hosts skr home lan2 router wan
prefix=skr$$
lan_if=${prefix}br wan_if=${prefix}wr # the router's sides
veth home "${prefix}h" router "${prefix}hb"
veth lan2 "${prefix}l" router "${prefix}lb"
veth wan "${prefix}w" router "$wan_if"
ip -n "${ns[router]}" -batch - <<EOF
link add $lan_if type bridge
link set ${prefix}hb master $lan_if up
link set ${prefix}lb master $lan_if up
EOF
link_up router "$lan_if" 192.168.77.1/24
link_up router "$wan_if" 203.0.113.1/24
# A default route on the LAN machines carries the routers' discovery multicast and names the
# gateway that NAT-PMP asks.
link_up home "${prefix}h" 192.168.77.10/24
link_up lan2 "${prefix}l" 192.168.77.11/24
for host in home lan2; do ip -n "${ns[$host]}" route add default via 192.168.77.1; done
link_up wan "${prefix}w" 203.0.113.50/24 203.0.113.51/24 100.64.0.50/24 100.64.0.51/24
ip -n "${ns[router]}" addr add 2001:db8:77::1/64 dev "$lan_if" nodad
ip -n "${ns[router]}" addr add 2001:db8:113::1/64 dev "$wan_if" nodad
ip -n "${ns[wan]}" addr add 2001:db8:113::50/64 dev "${prefix}w" nodad
ip -n "${ns[wan]}" -6 route add default via 2001:db8:113::1
# The router forwards and masquerades; its LAN bridge switches between LAN machines without
# passing their frames through the firewall (as it would if this host loads br_netfilter).
on router sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1
on router sysctl -qw net.bridge.bridge-nf-call-iptables=0 2>/dev/null
# The table and chain names are miniupnpd's defaults for its nftables backend. Nothing comes in
# from the WAN side but answers, the STUN server's replies (from both its addresses and both its
# ports, which the router's STUN test needs), and what miniupnpd forwards. The "asked" counter
# counts what LAN machines send to the router's UPnP and NAT-PMP ports. Neighbour discovery
# comes in from the WAN side too, as IPv6 needs it to reach the other player at all.
on router nft -f - <<EOF || skip "cannot load the router's nftables ruleset"
table inet filter {
    counter asked {
    }
    chain miniupnpd {
    }
    chain prerouting_miniupnpd {
    }
    chain postrouting_miniupnpd {
    }
    chain input {
        type filter hook input priority 0; policy accept;
        iifname "$lan_if" udp dport { 1900, 5351 } counter name "asked"
        iifname "$lan_if" tcp dport 5000 counter name "asked"
        iifname "$wan_if" ct state established,related accept
        iifname "$wan_if" icmpv6 type { nd-neighbor-solicit, nd-neighbor-advert } accept
        iifname "$wan_if" ip saddr { 203.0.113.50-203.0.113.51, 100.64.0.50-100.64.0.51 } \
            udp sport { 3478, 3479 } accept
        iifname "$wan_if" drop
    }
    chain forward {
        type filter hook forward priority 0; policy drop;
        ct state established,related accept
        iifname "$lan_if" oifname "$wan_if" accept
        jump miniupnpd
    }
    chain prerouting {
        type nat hook prerouting priority -100; policy accept;
        jump prerouting_miniupnpd
    }
    chain postrouting {
        type nat hook postrouting priority 100; policy accept;
        jump postrouting_miniupnpd
        oifname "$wan_if" masquerade
    }
}
EOF
# One STUN server for each network the router's WAN side may be on.
for net in 203.0.113 100.64.0; do
    ip netns exec "${ns[wan]}" stund -h $net.50 -a $net.51 >"$work/stund_$net.log" 2>&1 &
    pids+=("$!")
done
# Each listens on both its addresses and both its ports.
stun_up() { [[ $(on wan ss -Hlnu '( sport = :3478 or sport = :3479 )' | wc -l) -eq 8 ]]; }
wait_until 5 stun_up || fail "the STUN server does not listen"

# --- the router daemon -----------------------------------------------------------------------

router_conf=$work/miniupnpd.conf leases=$work/leases router_pid=$work/miniupnpd.pid
router_up() {
    [[ -n $(on router ss -Hlnu 'sport = :5351') ]] &&
        { [[ $1 == natpmp ]] || [[ -n $(on router ss -Hltn 'sport = :5000') ]]; }
}
# start_router all|high|none|natpmp|cgnat [ipv6]: miniupnpd allowing every port, only 1024 and
# up, or none; every port over NAT-PMP alone; or every port on a WAN side in the shared address
# space that carriers number their customers' routers from when they are behind the carrier's
# own NAT (100.64.0.1; miniupnpd takes that for its external address, as routers there do).
# With "ipv6" it also answers on the LAN over IPv6 and opens pinholes in its IPv6 firewall. It
# starts without mappings, and without the rules a stopped one left.
start_router() {
    local allow="allow 1-65535 192.168.77.0/24 1-65535" upnp=yes wan=203.0.113 chain
    local ipv6_disable=yes ipv6_side=()
    [[ ${2:-} == ipv6 ]] && ipv6_disable=no ipv6_side=(-I "$wan_if")
    case $1 in
    high) allow="allow 1024-65535 192.168.77.0/24 1-65535" ;;
    none) allow="" ;;
    natpmp) upnp=no ;;
    cgnat) wan=100.64.0 ;;
    esac
    if [[ $(on router ip -4 -o addr show dev "$wan_if") != *" $wan.1/24 "* ]]; then
        ip -n "${ns[router]}" -4 addr flush dev "$wan_if"
        ip -n "${ns[router]}" addr add "$wan.1/24" dev "$wan_if"
    fi
    for chain in miniupnpd prerouting_miniupnpd postrouting_miniupnpd; do
        on router nft flush chain inet filter $chain
    done
    on router nft reset counter inet filter asked >/dev/null
    rm -f "$leases"
    cat >"$router_conf" <<EOF
ext_ifname=$wan_if
listening_ip=$lan_if
http_port=5000
enable_upnp=$upnp
enable_natpmp=yes
ipv6_disable=$ipv6_disable
secure_mode=yes
min_lifetime=2
ext_perform_stun=yes
ext_stun_host=$wan.50
lease_file=$leases
$allow
deny 0-65535 0.0.0.0/0 0-65535
EOF
    # Without -d: in debug mode it logs each port it tries before one it may give, which stalls
    # its answers for many seconds.
    on router miniupnpd -f "$router_conf" -P "$router_pid" "${ipv6_side[@]}" ||
        { flunk "miniupnpd did not start"; return 1; }
    if ! wait_until 5 router_up "$1"; then
        flunk "miniupnpd does not listen 5 seconds after it started"
        return 1
    fi
}
stop_router() {
    [[ -s $router_pid ]] || return 0
    local pid
    pid=$(cat "$router_pid")
    kill "$pid" 2>/dev/null && wait_until 3 ended "$pid"
    rm -f "$router_pid"
}

# mappings: what the router forwards now, one "PROTOCOL:EXTERNAL_PORT:ADDRESS:PORT" a line,
# from its lease file; followed by any forwarding rule in its chains.
mappings() {
    [[ -s $leases ]] && cut -d: -f1-4 "$leases"
    on router nft list chain inet filter prerouting_miniupnpd | grep -E 'dnat|redirect'
    on router nft list chain inet filter miniupnpd | grep accept
}
no_mappings() { [[ -z $(mappings) ]]; }
# lease_left PORT: the seconds left on the lease of the router's mapping of that TCP port.
lease_left() {
    awk -F: -v port="$1" -v now="$(date +%s)" '$1 == "TCP" && $2 == port {print $5 - now}' "$leases"
}
asked() { on router nft list counter inet filter asked | awk '$1 == "packets" {print $2}'; }

# --- the other player ------------------------------------------------------------------------

# dial HOST ADDRESS PORT OUTPUT SECONDS: a bare TCP client on that host, in the background,
# writing what it receives to OUTPUT as it arrives, for at most SECONDS; $peer is its id.
peer=""
dial() {
    ip netns exec "${ns[$1]}" timeout "$5" \
        bash -c 'exec 3<>"/dev/tcp/$1/$2" && exec cat <&3' _ "$2" "$3" >"$4" 2>"$4.err" &
    peer=$!
    pids+=("$peer")
}
holds() { [[ -e $1 && $(cat -v "$1") == "$2" ]]; }
# greeted HOST ADDRESS PORT: a client there is greeted with "18Connected" within 3 seconds.
greeted() {
    local out=$work/greeting_$1
    dial "$@" "$out" 5
    wait_until 3 holds "$out" 18Connected
    local status=$?
    kill "$peer" 2>/dev/null
    ((status == 0)) || echo "      received '$(cat -v "$out")' $(cat "$out.err")"
    return "$status"
}
# unanswered ADDRESS PORT: a client in `wan` hears nothing back within 2 seconds, neither a
# connection nor a refusal: the router dropped the attempt instead of forwarding it.
unanswered() {
    on wan timeout 2 bash -c 'exec 3<>"/dev/tcp/$1/$2"' _ "$1" "$2" 2>/dev/null
    [[ $? -eq 124 ]]
}

# --- the routers tried with upnpc and natpmpc --------------------------------------------------

upnp() { on home upnpc -i -u http://192.168.77.1:5000/rootDesc.xml "$@" 2>&1; }
natpmp() { on home natpmpc -g 192.168.77.1 "$@" 2>&1; }
natpmp_answers() { natpmp >/dev/null; }
upnp_answers() { grep -q 'ExternalIPAddress = ' <(upnp -s); }
not() { ! "$@"; }
# serve: a listener on port 123 in `home` that greets one client with "18Connected".
serve() {
    ip netns exec "${ns[home]}" "$recorder" 192.168.77.10 "$port" "$work/served" 10 18Connected \
        >"$work/serve.out" &
    pids+=("$!")
    wait_until 3 grep -qs listening "$work/serve.out"
}
# natpmp_port OUTPUT: the public port natpmpc reports mapped.
natpmp_port() { sed -n 's/^Mapped public port \([0-9]*\) protocol TCP.*/\1/p' <<<"$1"; }

tools_open_router() {
    echo "== a router that allows every port (upnpc)"
    start_router all || return
    local found
    found=$(on home upnpc -i -l 2>&1)
    check "upnpc finds the router by discovery, and its WAN address" \
        grep -q 'ExternalIPAddress = 203.0.113.1' <<<"$found" || echo "$found"
    upnp -e skarnet -a 192.168.77.10 "$port" "$port" TCP 3600 >/dev/null
    check "upnpc maps port $port" grep -qx "TCP:$port:192.168.77.10:$port" <(mappings)
    serve && check "the other player is greeted through 203.0.113.1:$port" \
        greeted wan 203.0.113.1 "$port"
    upnp -d "$port" TCP >/dev/null
    check "upnpc removes the mapping" no_mappings
    check "the router then drops attempts on 203.0.113.1:$port" unanswered 203.0.113.1 "$port"
    stop_router
}

tools_no_router() {
    echo "== no router daemon (upnpc, natpmpc)"
    check "nothing answers UPnP on the router" not upnp_answers
    check "nothing answers NAT-PMP on the router" not natpmp_answers
    serve && check "a peer on the LAN (lan2) links on 192.168.77.10:$port" \
        greeted lan2 192.168.77.10 "$port"
}

tools_high_ports() {
    echo "== a router that allows only ports 1024 and up (upnpc, natpmpc)"
    start_router high || return
    check "UPnP refuses port $port (606)" grep -q 'failed with code 606' \
        <(upnp -a 192.168.77.10 "$port" "$port" TCP 3600)
    local given
    given=$(natpmp_port "$(natpmp -a "$port" "$port" tcp 3600)")
    check "NAT-PMP gives another port, >= 1024" test "${given:-0}" -ge 1024 &&
        serve && check "the other player gets in through 203.0.113.1:$given" \
            greeted wan 203.0.113.1 "$given"
    natpmp -a "$given" "$port" tcp 0 >/dev/null
    check "natpmpc removes the mapping" no_mappings
    stop_router
}

tools_port_taken() {
    echo "== port $port already forwarded to the second LAN machine (upnpc, natpmpc)"
    start_router all || return
    on lan2 upnpc -i -u http://192.168.77.1:5000/rootDesc.xml -e "lan2's game" \
        -a 192.168.77.11 "$port" "$port" TCP >/dev/null 2>&1
    check "UPnP refuses port $port to home (718)" grep -q 'failed with code 718' \
        <(upnp -a 192.168.77.10 "$port" "$port" TCP 3600)
    local given
    given=$(natpmp_port "$(natpmp -a "$port" "$port" tcp 3600)")
    check "NAT-PMP gives another port" test -n "$given" -a "$given" != "$port" &&
        serve && check "the other player gets in through 203.0.113.1:$given" \
            greeted wan 203.0.113.1 "$given"
    stop_router
}

tools_natpmp_only() {
    echo "== a router that speaks NAT-PMP only (upnpc, natpmpc)"
    start_router natpmp || return
    check "nothing answers UPnP on the router" not upnp_answers
    local given
    given=$(natpmp_port "$(natpmp -a "$port" "$port" tcp 3600)")
    check "NAT-PMP maps port $port" test "$given" == "$port" &&
        serve && check "the other player gets in through 203.0.113.1:$port" \
            greeted wan 203.0.113.1 "$port"
    stop_router
}

if [[ -n ${ROUTER_CHECK_TOOLS:-} ]]; then
    [[ -x $recorder ]] || skip "no TCP recording tool at $recorder"
    tools_open_router
    tools_no_router
    tools_high_ports
    tools_port_taken
    tools_natpmp_only
    finish
fi

# --- the program -----------------------------------------------------------------------------

# The program and the screen reader share a session bus in `home`.
start_display
start_session_bus "${ns[home]}"

# run_program ARGS...: the program in `home`, past the splash; $main is its main window and
# $started (milliseconds) when it was launched.
main="" started=0
now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }
run_program() {
    started=$(now_ms)
    # Each launch afresh, whatever the one before left behind.
    fresh_home
    QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 program_netns=${ns[home]} launch "$@"
    main=$(wait_for_window Skarnet)
}

# read_line SECONDS [copy]: the connections window's internet line once the router answered,
# in $line; "copy" presses "Copy internet address" afterwards.
line=""
read_line() {
    line=$(read_atspi $(($1 + 30)) internet "$@" 2>"$work/reader.log")
    local status=$?
    sed 's/^/      /' "$work/reader.log" # what it read first
    echo "      then: $line ($(($(now_ms) - started)) ms after the start)"
    return "$status"
}
# opened_port: the external port in $line when it reads as an opened address on the router's
# WAN side, or nothing.
opened_port() {
    [[ $line =~ ^"On the internet: "([0-9.]+):([0-9]+)" (opened on your router)"$ ]] &&
        [[ ${BASH_REMATCH[1]} == 203.0.113.1 ]] && echo "${BASH_REMATCH[2]}"
}

# end_program: closes the main window as its close button would; the program must end.
closed_at=0
end_program() {
    closed_at=$(now_ms)
    timeout 5 "$close_tool" Skarnet
    check "the program ends once its main window is closed" wait_until 5 ended "$app" ||
        kill "$app" 2>/dev/null
}
# released: the mapping the program asked for went with it.
released() {
    if wait_until 1 no_mappings; then
        pass "the router holds no mapping once the program has ended" \
            "($(($(now_ms) - closed_at)) ms after the close)"
    else
        flunk "the router still holds a mapping a second after the program ended:"
        mappings | sed 's/^/      /'
    fi
}

# type_zone TEXT: types into "Your Monster Card Zone 3" as the player would.
type_zone() {
    click_on "$main" txtP1Monster3
    xdotool sleep 0.2 type --delay 20 "$1"
}

# --- the cases -------------------------------------------------------------------------------

case_open_router() {
    echo "== a router that allows every port"
    start_router all || return
    run_program
    read_line 15 copy
    check "the internet line shows 203.0.113.1:$port" test "$(opened_port)" == "$port"
    check "the router forwards TCP $port to this machine's port $port" \
        grep -qx "TCP:$port:192.168.77.10:$port" <(mappings)
    local left
    left=$(lease_left "$port")
    check "the mapping is leased for an hour (${left:-no} seconds left)" \
        test "${left:-0}" -gt 3500 -a "${left:-0}" -le 3600
    # What makes "the router heard nothing" mean something with --no-port-mapping.
    check "the router counted the program's requests ($(asked) packets)" test "$(asked)" -gt 0

    local stream=$work/stream
    dial wan 203.0.113.1 "$port" "$stream" 30
    check "the other player, in wan, is greeted through 203.0.113.1:$port" \
        wait_until 3 holds "$stream" 18Connected
    # The connections window lies over the board.
    timeout 5 "$close_tool" Connections
    # A peer that never greets gets the plain form: every key sends the zone's whole text.
    type_zone Wall
    check "a zone typed on the board reaches the other player" \
        wait_until 5 holds "$stream" 18Connected13W13Wa13Wal13Wall ||
        echo "      the stream is: $(cat -v "$stream")"
    # (Qt 6.4 crashes on a paste while nothing holds the clipboard.)
    xdotool key ctrl+a ctrl+v
    pasted() { [[ $(cat -v "$stream") == *"13203.0.113.1:$port" ]]; }
    check "\"Copy internet address\" copied 203.0.113.1:$port (pasted into the zone)" \
        wait_until 5 pasted || echo "      the stream is: $(cat -v "$stream")"
    ended "$app" && flunk "the program ended on the paste"

    end_program
    released
    check "the other player's link ends with the program" wait_until 5 ended "$peer"
    check "the router drops a new attempt on 203.0.113.1:$port instead of forwarding it" \
        unanswered 203.0.113.1 "$port"
    stop_router
}

case_no_router() {
    echo "== no router daemon"
    run_program
    read_line 10
    local took=$(($(now_ms) - started))
    no_answer() { [[ $line == "On the internet: no router answered"* ]] && ((took <= 10000)); }
    check "the line says no router answered, within 10 s of the start (took $took ms)" no_answer
    check "a peer on the LAN (lan2) still links on 192.168.77.10:$port" \
        greeted lan2 192.168.77.10 "$port"
    end_program
}

case_high_ports() {
    echo "== a router that allows only ports 1024 and up"
    start_router high || return
    run_program
    read_line 15
    local opened
    opened=$(opened_port)
    check "the line shows 203.0.113.1 with a port >= 1024" test "${opened:-0}" -ge 1024 &&
        check "the other player gets in through 203.0.113.1:$opened" \
            greeted wan 203.0.113.1 "$opened"
    end_program
    released
    stop_router
}

case_port_taken() {
    echo "== port $port already forwarded to the second LAN machine"
    start_router all || return
    local theirs="TCP:$port:192.168.77.11:$port"
    on lan2 upnpc -i -u http://192.168.77.1:5000/rootDesc.xml -e "lan2's game" \
        -a 192.168.77.11 "$port" "$port" TCP >"$work/upnpc_lan2.log" 2>&1
    local before
    before=$(mappings)
    grep -qx "$theirs" <<<"$before" || { flunk "lan2 could not map port $port"; return; }
    run_program
    read_line 15
    local opened
    opened=$(opened_port)
    check "the line shows 203.0.113.1 with a port other than $port" \
        test -n "$opened" -a "$opened" != "$port" &&
        check "the other player gets in through 203.0.113.1:$opened" \
            greeted wan 203.0.113.1 "$opened"
    end_program
    as_before() { [[ $(mappings) == "$before" ]]; }
    check "once the program has ended the router holds lan2's mapping alone" \
        wait_until 1 as_before || mappings | sed 's/^/      /'
    stop_router
}

case_mapping_off() {
    echo "== --no-port-mapping"
    start_router all || return
    run_program --no-port-mapping
    read_line 5
    check "the line says the router was not asked" \
        test "$line" == "On the internet: not asked (port mapping is off)"
    local left=$((3000 - ($(now_ms) - started)))
    ((left > 0)) && sleep "$((left / 1000)).$(printf %03d $((left % 1000)))"
    check "three seconds in, the router has heard nothing from the LAN and holds no mapping" \
        test "$(asked)" == 0 -a -z "$(mappings)"
    end_program
    stop_router
}

case_natpmp_only() {
    echo "== a router that speaks NAT-PMP only"
    start_router natpmp || return
    run_program
    read_line 15
    local opened
    opened=$(opened_port)
    check "the line shows 203.0.113.1 and a port" test -n "$opened" &&
        check "the other player gets in through 203.0.113.1:$opened" \
            greeted wan 203.0.113.1 "$opened"
    end_program
    released
    stop_router
}

case_refused() {
    echo "== a router that refuses every port to this machine"
    start_router none || return
    run_program
    read_line 15 no-copy
    refused() { [[ $line == "On the internet: your router refused"* ]]; }
    check "the line says the router refused, and there is no address to copy" refused
    check "the router holds no mapping" no_mappings
    end_program
    stop_router
}

case_behind_carrier() {
    echo "== a router that is itself behind its carrier's network (its WAN side is 100.64.0.1)"
    start_router cgnat || return
    run_program
    read_line 15 no-copy
    local says="On the internet: your router is itself behind another network"
    behind() { [[ $line == "$says (its address there is 100.64.0.1)"* ]]; }
    check "the line says so, with that address, and there is no address to copy" behind
    check "the router holds no mapping, which would be of no use" no_mappings
    end_program
    stop_router
}

case_signals() {
    local name number status stream=$work/signal_stream recovery
    start_router all || return
    for name in INT TERM HUP; do
        echo "== SIG$name"
        run_program
        recovery=$XDG_DATA_HOME/skarnet/recovery-$port.json
        mapped() { grep -qx "TCP:$port:192.168.77.10:$port" <(mappings); }
        check "the router forwards port $port" wait_until 15 mapped
        dial wan 203.0.113.1 "$port" "$stream" 30
        wait_until 3 holds "$stream" 18Connected
        type_zone Wall
        check "a recovery copy is kept of the typed zone" wait_until 3 grep -qs Wall "$recovery"
        closed_at=$(now_ms)
        kill -s "$name" "$app"
        wait_until 5 ended "$app"
        wait "$app"
        status=$? number=$(kill -l "$name")
        check "the program ends with status $((128 + number))" test "$status" -eq $((128 + number))
        said_goodbye() { [[ $(cat -v "$stream") == *18Disconnected ]] && ended "$peer"; }
        check "the other player reads \"18Disconnected\", then the end of the stream" \
            wait_until 5 said_goodbye || echo "      the stream is: $(cat -v "$stream")"
        released
        check "no recovery copy is left" test ! -e "$recovery"
    done
    # The last start's folders, again: nothing to restore, so the board comes straight up.
    program_netns=${ns[home]} launch --no-port-mapping
    check "the next start asks nothing before the board" sized "$(wait_for_window Skarnet)" 1018x714
    end_program
    stop_router
}

case_pinhole() {
    echo "== IPv6 behind the carrier's network: a pinhole in the router's firewall"
    local home_if=${prefix}h stable=2001:db8:77::10 v6port=1123 first source
    # The stable address, hexadecimal as the router's rule matches it.
    local stable_hex=0x20010db8007700000000000000000010
    # As with privacy extensions: the system makes a temporary address beside the stable one
    # and dials out from it. A deprecated address sits beside them.
    on home sysctl -qw "net.ipv6.conf.$home_if.accept_dad=0" "net.ipv6.conf.$home_if.use_tempaddr=2"
    ip -n "${ns[home]}" addr add "$stable/64" dev "$home_if" nodad mngtmpaddr
    ip -n "${ns[home]}" addr add 2001:db8:77::99/64 dev "$home_if" nodad preferred_lft 0
    ip -n "${ns[home]}" -6 route add default via 2001:db8:77::1
    source=$(on home ip -6 route get 2001:db8:113::50 | sed -n 's/.* src \([^ ]*\).*/\1/p')
    check "home dials out from a temporary address ($source), not from $stable" \
        test -n "$source" -a "$source" != "$stable"
    # pinhole_rule: the handle of the router's rule that lets TCP $v6port in to $stable; a
    # renewal replaces the rule, and so changes its handle.
    pinhole_rule() {
        on router nft -a list chain inet filter miniupnpd |
            awk -v port="dport $v6port " -v to="$stable_hex" \
                'index($0, port) && index($0, to) {print $NF}'
    }
    start_router cgnat ipv6 || return
    # A lease of 4 seconds, renewed every 2.
    SKARNET_PORT_MAPPING_LEASE=4 run_program --port "$v6port"
    read_line 15 copy
    local says=". IPv6: [$stable]:$v6port (opened in your router's firewall)"
    pinholed() { [[ $line == "On the internet: your router is itself behind another network"*"$says" ]]; }
    check "the line shows [$stable]:$v6port opened in the firewall, to copy" pinholed
    first=$(pinhole_rule)
    check "the router's firewall lets TCP $v6port in to $stable (rule ${first:-missing})" \
        test -n "$first"
    check "the other player, in wan, is greeted through [$stable]:$v6port" \
        greeted wan "$stable" "$v6port"
    renewed() { [[ -n $(pinhole_rule) && $(pinhole_rule) != "$first" ]]; }
    check "the pinhole is renewed before its lease of 4 seconds runs out" wait_until 4 renewed
    closed_at=$(now_ms)
    kill -s TERM "$app"
    check "the program ends on SIGTERM" wait_until 5 ended "$app"
    released
    check "the router then drops a new attempt on [$stable]:$v6port" unanswered "$stable" "$v6port"
    stop_router
    ip -n "${ns[home]}" -6 addr flush dev "$home_if" scope global
    ip -n "${ns[home]}" -6 route del default
}

case_open_router
case_signals
case_no_router
case_high_ports
case_port_taken
case_mapping_off
case_natpmp_only
case_refused
case_behind_carrier
case_pinhole
finish
