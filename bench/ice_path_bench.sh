#!/usr/bin/env bash
# A keystroke's path between two homes: what the path over UDP that two copies find when
# neither router opens a port costs, beside the plain TCP connection of a port that is open.
# Three pairs of homes on the namespace bed of tests/support/ice_bed.sh, each two copies of the
# link stack without windows (ice_peer), linked one pair after the other, with no shaping, so
# that each figure is the path's own cost:
#
#   direct_tcp       the host's router forwards its port; the invitation names the router and
#                    the joiner dials it (the baseline)
#   through_routers  two cone routers, neither port open: "direct through both routers"
#   through_relay    a symmetric router on the host's side: "through relay ..." (coturn)
#
# Then each joiner in turn, over five rounds, sends zone texts (about 35 bytes each, as a key
# typed into a zone sends) one at a time, each once the host's echo of the one before came back,
# and times each round trip: ROUND_TRIPS (300) in all per path. Half of one is a keystroke's way
# to the other copy. The time to "Connected" is, for a path over UDP, the host's from acting on
# the pasted reply to taking the seat; for the open port, which needs no reply, the joiner's from
# dialling to the seat.
#
# Targets: through both routers, the median round trip at most 1.5 x the direct TCP path's, and
# the link up within a second of the paste; the relay's figures are reported only.
#
# usage: ice_path_bench.sh ICE_PEER [ROUND_TRIPS]
# Prints its figures as result lines (bench/BenchReport.h). Exits 0 whether or not targets are
# met, 1 when a pair could not be linked or timed, 77 without root, network namespaces, nft, tc
# or coturn. KEEP_WORK=1 keeps the copies' output.
set -uo pipefail

peer_tool=$1
round_trips=${2:-300}
rounds=5
batch=$(((round_trips + rounds - 1) / rounds))

# shellcheck source=SCRIPTDIR/../tests/support/system_check.sh
source "$(dirname "$0")/../tests/support/system_check.sh"
# shellcheck source=SCRIPTDIR/../tests/support/ice_bed.sh
source "$(dirname "$0")/../tests/support/ice_bed.sh"

home direct_tcpa cone
open_port direct_tcpa 4123
home direct_tcpb cone
home through_routersa cone
home through_routersb cone
home through_relaya sym
home through_relayb cone
start_relay --user=through_relayh:p --user=through_relayj:p

pairs=(direct_tcp through_routers through_relay)
declare -A connect_ms=()

# event OUTPUT EVENT: the fields after the milliseconds of the peer's last such event; at
# OUTPUT EVENT: its milliseconds.
event() { sed -n "s/^$2 [0-9]* //p" "$1" | tail -1; }
at() { awk -v event="$2" '$1 == event {print $2}' "$1" | tail -1; }
linked() { grep -q '^linked ' "$1"; }
batches() { (($(grep -c '^round_trips ' "$1") >= $2)); }

# link PAIR PATH [HOST OPTIONS...]: links the pair's copies, the host in PAIRa and the joiner in
# PAIRb (on a path "through relay", both use the relay as PAIRh and PAIRj), checks that the
# path's name begins with PATH, and keeps its time to "Connected" in connect_ms[PAIR].
link() {
    local pair=$1 path=$2 dir=$work/$1 turn=""
    shift 2
    mkdir -p "$dir"
    [[ $path == "through relay" ]] && turn=${pair}h:p@203.0.113.1:3478
    SKARNET_STUN=203.0.113.1:3478 SKARNET_TURN=$turn ip netns exec "${ns[${pair}a]}" \
        "$peer_tool" host "$dir" --address "${public_address[${pair}a]}" "$@" >"$dir/host.out" 2>&1 &
    pids+=("$!")
    SKARNET_STUN=203.0.113.1:3478 SKARNET_TURN=${turn/h:/j:} ip netns exec "${ns[${pair}b]}" \
        "$peer_tool" join "$dir" --ping "$batch" >"$dir/join.out" 2>&1 &
    pids+=("$!")
    wait_until 30 linked "$dir/join.out" || fail "$pair: the copies did not link (logs in $dir)"
    [[ $(event "$dir/join.out" linked) == "$path"* ]] ||
        fail "$pair: linked on \"$(event "$dir/join.out" linked)\", not \"$path ...\""
    if [[ $pair == direct_tcp ]]; then
        connect_ms[$pair]=$(($(at "$dir/join.out" linked) - $(at "$dir/join.out" dial)))
    else
        connect_ms[$pair]=$(($(at "$dir/host.out" linked) - $(at "$dir/host.out" pasted)))
    fi
    echo "$pair: linked \"$(event "$dir/join.out" linked)\" in ${connect_ms[$pair]} ms" >&2
}

# ping PAIR ROUND: the pair's joiner times its batch of that round.
ping() {
    echo "$2" >"$work/$1/ping"
    wait_until 30 batches "$work/$1/join.out" "$2" || fail "$1: round $2 was not timed"
}

# rank PAIR SHARE: the round trip of the pair that SHARE of them take at most (nearest rank).
rank() {
    sed -n 's/^round_trips [0-9]* //p' "$work/$1/join.out" | tr ' ' '\n' | sort -n |
        awk -v share="$2" '{value[NR] = $1} END {i = int(share * NR); print value[i < share * NR ? i + 1 : i]}'
}

# result BENCHMARK FIGURE VALUE UNIT BASELINE TARGET MET: one result line, its ratio worked out.
result() {
    local ratio=""
    [[ -n $5 ]] && ratio=$(awk "BEGIN {printf \"%.4g\", $3 / $5}")
    printf 'RESULT\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4" "$5" "$ratio" "$6" "$7"
}
yes_no() { awk "BEGIN {exit !($1)}" && echo yes || echo no; }

link direct_tcp direct --direct
link through_routers "direct through both routers"
link through_relay "through relay"
# The paths take turns, in an order that changes each round, so that load from elsewhere on the
# machine weighs on all three alike.
for ((round = 1; round <= rounds; round++)); do
    for ((each = 0; each < 3; each++)); do ping "${pairs[(round + each) % 3]}" "$round"; done
done

declare -A median=() p99=()
for pair in "${pairs[@]}"; do
    median[$pair]=$(rank "$pair" 0.5)
    p99[$pair]=$(rank "$pair" 0.99)
    echo "$pair: round trips: median ${median[$pair]} us, p99 ${p99[$pair]} us" >&2
done

base=direct_tcp
result ice_path_direct_tcp round_trip_median "${median[$base]}" us "" "" ""
result ice_path_direct_tcp round_trip_p99 "${p99[$base]}" us "" "" ""
result ice_path_direct_tcp dial_to_connected "${connect_ms[$base]}" ms "" "" ""
result ice_path_direct_tcp samples $((rounds * batch)) "round trips" "" "" ""
pair=through_routers
result ice_path_$pair round_trip_median "${median[$pair]}" us "${median[$base]}" \
    "≤ 1.5x direct TCP" "$(yes_no "${median[$pair]} <= 1.5 * ${median[$base]}")"
result ice_path_$pair round_trip_p99 "${p99[$pair]}" us "${p99[$base]}" "" ""
result ice_path_$pair paste_to_connected "${connect_ms[$pair]}" ms "${connect_ms[$base]}" \
    "≤ 1000 ms" "$(yes_no "${connect_ms[$pair]} <= 1000")"
pair=through_relay
result ice_path_$pair round_trip_median "${median[$pair]}" us "${median[$base]}" "" ""
result ice_path_$pair round_trip_p99 "${p99[$pair]}" us "${p99[$base]}" "" ""
result ice_path_$pair paste_to_connected "${connect_ms[$pair]}" ms "${connect_ms[$base]}" "" ""

printf 'NOTE\t%s\n' "The ice_path figures are round trips of one zone text and its echo: a \
keystroke's own way to the other copy is about half. Their time to \"Connected\" counts from the \
paste of the reply; the direct TCP path's, which needs no reply, from the dial."
