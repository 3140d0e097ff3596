#!/usr/bin/env bash
# Usage: scripts/in-netns.sh CMD [ARGS...]
# Runs CMD inside a new, private network namespace that holds only loopback,
# so nothing it does can send a packet off this machine.
#   root:     unshare -n -m   (new network and mount namespaces)
#   non-root: unshare -r -n -m  (a user namespace mapping us to root, plus the same)
# The mount namespace carries a resolver configuration that asks only loopback, so no name
# lookup ever addresses a name server off this machine either (it finds none there, and a
# name the hosts file lacks is refused at once). QV_RESOLVER_ON_LOOPBACK=1 says so to tests.
set -euo pipefail

# ip lives in /usr/sbin, which is not on an ordinary user's PATH on Debian.
export PATH="$PATH:/usr/sbin:/sbin"

if (($# == 0)); then
    echo "usage: $0 CMD [ARGS...]" >&2
    exit 2
fi

self=$(readlink -f "$0")

if [[ "${QV_NETNS_INNER:-}" != 1 ]]; then
    # Outer half: re-invoke this script inside the new namespace.
    if ((EUID == 0)); then unshare_flags=(-n -m); else unshare_flags=(-r -n -m); fi
    if ! unshare "${unshare_flags[@]}" true 2>/dev/null; then
        echo "in-netns: cannot create a network namespace with 'unshare ${unshare_flags[*]}'" >&2
        echo "in-netns: (unprivileged user namespaces may be disabled; try as root)" >&2
        exit 1
    fi
    QV_NETNS_INNER=1 exec unshare "${unshare_flags[@]}" -- "$self" "$@"
fi

# Inner half: we are inside the namespace now.
unset QV_NETNS_INNER

# Safety net: the whole point is that only loopback exists. If anything else is
# visible (e.g. QV_NETNS_INNER was set by hand in the host namespace), refuse
# before touching anything.
others=$(ip -o link show | awk -F': ' '{ sub(/@.*/, "", $2); if ($2 != "lo") printf "%s ", $2 }')
if [[ -n "$others" ]]; then
    echo "in-netns: refusing to run: interfaces other than lo are present: ${others% }" >&2
    exit 1
fi

ip link set lo up

# Name lookups stay on loopback: our own resolv.conf, seen only inside this namespace.
resolver_conf=$(mktemp)
echo "nameserver 127.0.0.1" >"$resolver_conf"
mount --bind "$resolver_conf" /etc/resolv.conf
export QV_RESOLVER_ON_LOOPBACK=1

# A fresh namespace starts with ping_group_range "1 0" (unprivileged ICMP echo
# sockets disabled). Allow them here, as the Debian/systemd default does on the
# host, so the unprivileged code path can be exercised. This only affects this
# namespace; best effort, the raw-socket path still works without it.
{
    echo "0 2147483647" >/proc/sys/net/ipv4/ping_group_range ||
        echo "$(id -g) $(id -g)" >/proc/sys/net/ipv4/ping_group_range
} 2>/dev/null || true

exec "$@"
