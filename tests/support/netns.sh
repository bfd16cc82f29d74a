# shellcheck shell=bash
# Hosts of a small private network for the checks that need more than one machine: a network
# namespace a host, joined by veth pairs. Sourced, not run, after system_check.sh (or
# real_program.sh). Needs root, and skips (77) without it.
#
#   new_hosts TAG HOST...        one namespace a host, named TAG, this check's process id and
#                                the host (skduel123a), in ns[HOST], its loopback up; all are
#                                deleted at exit with whatever still runs in them
#   veth HOST1 IF1 HOST2 IF2     a veth pair from IF1 in HOST1 to IF2 in HOST2
#   link_up HOST IF ADDRESS...   brings IF up with those addresses (a.b.c.d/length)
#   on HOST COMMAND...           runs COMMAND in that host's namespace. (Background jobs call
#                                `ip netns exec` directly, so that their process id is the
#                                command's own.)

((EUID == 0)) || skip "network namespaces need root"
command -v ip >/dev/null || skip "ip is not installed"

declare -A ns=()

new_hosts() {
    local tag=$1 name owner host
    shift
    # Namespaces of runs that were killed outright, and so could not clean up, are named after a
    # process that is gone.
    for name in $(ip netns list 2>/dev/null |
        awk -v tag="$tag" '$1 ~ "^" tag "[0-9]+[a-z]" {print $1}'); do
        owner=${name#"$tag"}
        ended "${owner%%[a-z]*}" && ip netns delete "$name" 2>/dev/null
    done
    ((${#ns[@]})) || at_exit remove_hosts
    for host; do
        ns[$host]=$tag$$$host
        ip netns add "${ns[$host]}" 2>/dev/null ||
            skip "this system does not let us create network namespaces"
        ip -n "${ns[$host]}" link set lo up
    done
}

# Deleting a namespace takes its interfaces, its end of each veth pair and its nftables rules
# with it.
remove_hosts() {
    local host pid
    for host in "${!ns[@]}"; do
        for pid in $(ip netns pids "${ns[$host]}" 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
        ip netns delete "${ns[$host]}" 2>/dev/null
    done
}

# Both ends are made inside the namespaces: the pair never appears on this machine's own network.
veth() {
    ip link add "$2" netns "${ns[$1]}" type veth peer name "$4" netns "${ns[$3]}" 2>/dev/null ||
        skip "cannot create a veth pair between network namespaces"
}

link_up() {
    local host=$1 interface=$2 each
    shift 2
    for each; do ip -n "${ns[$host]}" addr add "$each" dev "$interface"; done
    ip -n "${ns[$host]}" link set "$interface" up
}

on() {
    local host=$1
    shift
    ip netns exec "${ns[$host]}" "$@"
}
