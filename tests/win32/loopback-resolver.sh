#!/usr/bin/env bash
# Usage: tests/win32/loopback-resolver.sh CMD [ARGS...]
# Runs CMD with a resolver that asks only loopback, where nothing answers: a name the hosts
# file lacks is then refused at once, and no lookup ever addresses a name server off this
# machine, not even one the namespace could not reach. Under Wine a program's lookups are
# the host's own, so this is where they are kept in. It needs a mount namespace of its own
# (root, or inside scripts/in-netns.sh); without one CMD runs as it is, and the test skips
# the lookups that would reach the system's resolver. QV_RESOLVER_ON_LOOPBACK=1 tells CMD it
# runs with ours: a Wine program cannot look itself, as its files are opened by the Wine
# server, which sees the system's /etc.
set -euo pipefail

if [[ "${QV_RESOLVER_CONF:-}" != "" ]]; then
    # Inner half: our own mount namespace, whose /etc/resolv.conf nobody else sees.
    mount --bind "$QV_RESOLVER_CONF" /etc/resolv.conf
    unset QV_RESOLVER_CONF
    QV_RESOLVER_ON_LOOPBACK=1 exec "$@"
fi

conf=$(mktemp)
trap 'rm -f "$conf"' EXIT
echo "nameserver 127.0.0.1" >"$conf"
unset QV_RESOLVER_ON_LOOPBACK
status=0
if unshare -m true 2>/dev/null; then
    QV_RESOLVER_CONF=$conf unshare -m -- "$(readlink -f "$0")" "$@" || status=$?
else
    "$@" || status=$?
fi
exit $status
