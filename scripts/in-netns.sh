#!/usr/bin/env bash
# Usage: scripts/in-netns.sh CMD [ARGS...]
# Runs CMD inside a new, private network namespace that holds only loopback,
# so nothing it does can send a packet off this machine.
#   root:     unshare -n -m   (new network and mount namespaces)
#   non-root: unshare -r -n -m  (a user namespace mapping us to root, plus the same)
# The mount namespace carries a resolver configuration that asks only loopback, so no name
# lookup ever addresses a name server off this machine either (it finds none there, and a
# name the hosts file lacks is refused at once). QV_RESOLVER_ON_LOOPBACK=1 says so to tests.
#
# QV_I386_EMULATOR=PATH (a static qemu-i386, see scripts/i386-emulation.sh): CMD's i386
# programs run through it, registered for i386 ELF in binfmt_misc. Where the kernel gives a
# user namespace a binfmt_misc of its own (6.7 and later), the registration lives in the
# namespace alone, and ends with it:
#   root:     unshare -U -m -n, root's own ids mapped inside (0 0 65536, written from outside:
#             only the parent namespace may map more than one id)
#   non-root: unshare -r -n -m, as without it
# Elsewhere (root only) it goes into the machine's own binfmt_misc for as long as CMD runs,
# under a name of this run's, and is removed when it ends, however it ends. That one is seen by
# every program on the machine: a 64-bit Wine prefix made meanwhile gets the 32-bit side
# assemblies (and its programs the wrong common controls), so keep such runs apart.
set -euo pipefail

# ip lives in /usr/sbin, which is not on an ordinary user's PATH on Debian.
export PATH="$PATH:/usr/sbin:/sbin"

if (($# == 0)); then
    echo "usage: $0 CMD [ARGS...]" >&2
    exit 2
fi

self=$(readlink -f "$0")
# The test harness, for its loopback check below; sourcing it exports nothing.
source "$(dirname "$self")/../tests/harness/harness.sh"
binfmt_dir=/proc/sys/fs/binfmt_misc
mount_binfmt="mount -t binfmt_misc binfmt_misc $binfmt_dir"

if [[ "${QV_NETNS_INNER:-}" != 1 ]]; then
    # Outer half: re-invoke this script inside the new namespace.
    if ((EUID == 0)); then unshare_flags=(-n -m); else unshare_flags=(-r -n -m); fi
    if [[ -n "${QV_I386_EMULATOR:-}" ]]; then
        if [[ ! -x "$QV_I386_EMULATOR" ]]; then
            echo "in-netns: no emulator at $QV_I386_EMULATOR (scripts/install-deps.sh win32 fetches it)" >&2
            exit 1
        fi
        QV_I386_EMULATOR=$(readlink -f "$QV_I386_EMULATOR")
        if unshare -U -r -m sh -c "$mount_binfmt" 2>/dev/null; then
            export QV_NETNS_BINFMT=own
            if ((EUID == 0)); then unshare_flags=(-U -m -n --propagation private); fi
        elif ((EUID == 0)); then
            echo "in-netns: this kernel gives a namespace no binfmt_misc of its own:" \
                "qemu-i386 is registered for the whole machine while the command runs" >&2
            export QV_NETNS_BINFMT=machine
        else
            echo "in-netns: this kernel gives a namespace no binfmt_misc of its own, and only" \
                "root may register qemu-i386 for the whole machine" >&2
            exit 1
        fi
    fi
    if ! unshare "${unshare_flags[@]}" true 2>/dev/null; then
        echo "in-netns: cannot create a network namespace with 'unshare ${unshare_flags[*]}'" >&2
        echo "in-netns: (unprivileged user namespaces may be disabled; try as root)" >&2
        exit 1
    fi
    if [[ "${unshare_flags[0]}" != -U ]]; then
        QV_NETNS_INNER=1 exec unshare "${unshare_flags[@]}" -- "$self" "$@"
    fi
    # Root in a user namespace of its own. Its ids can only be mapped from outside: a helper
    # does it once this process (the same one after exec) is in the new namespace, while the
    # inner half waits for them.
    own=$(readlink /proc/self/ns/user)
    (
        for _ in $(seq 500); do
            if [[ "$(readlink "/proc/$$/ns/user" 2>/dev/null)" != "$own" ]]; then
                echo "0 0 65536" >"/proc/$$/uid_map" && echo "0 0 65536" >"/proc/$$/gid_map" ||
                    echo "in-netns: cannot map root's ids into the new user namespace" >&2
                exit
            fi
            sleep 0.01
        done
    ) &
    QV_NETNS_INNER=1 QV_NETNS_IDS=wait exec unshare "${unshare_flags[@]}" -- "$self" "$@"
fi

# Inner half: we are inside the namespace now.
if [[ "${QV_NETNS_IDS:-}" == wait ]]; then
    # Until the ids are mapped this process is nobody here, and the program it was started as
    # lost its capabilities: wait for them, then start again as root of the namespace.
    ids=
    for _ in $(seq 500); do
        read -r ids </proc/self/uid_map || true
        [[ -n "$ids" ]] && QV_NETNS_IDS=mapped exec "$self" "$@"
        sleep 0.01
    done
    echo "in-netns: no ids mapped into the new user namespace" >&2
    exit 1
fi
unset QV_NETNS_INNER QV_NETNS_IDS

# Safety net: the whole point is that only loopback exists. If anything else is
# visible (e.g. QV_NETNS_INNER was set by hand in the host namespace), refuse
# before touching anything.
others=$(qv_interfaces_besides_lo)
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

if [[ -z "${QV_NETNS_BINFMT:-}" ]]; then
    exec "$@"
fi

# i386 programs through the emulator: qemu's own binfmt entry for them (the ELF header of an
# i386 executable or shared object), with F, so the kernel opens the interpreter now and any
# program of the namespace can use it whatever it sees of the file system.
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# Our namespace's own, empty instance; else the machine's, mounted here where it is not yet.
if { [[ "$QV_NETNS_BINFMT" == own ]] || ! mountpoint -q "$binfmt_dir"; } && ! $mount_binfmt; then
    echo "in-netns: cannot mount binfmt_misc" >&2
    exit 1
fi
if [[ "$QV_NETNS_BINFMT" == own ]]; then
    name=qemu-i386
else
    # The machine's: named after this run, removed however it ends; one left by a run that
    # was killed outright (its process gone) goes first.
    name=quorvane-i386-$$
    for entry in "$binfmt_dir"/quorvane-i386-*; do
        [[ -e "$entry" ]] || continue
        kill -0 "${entry##*-}" 2>/dev/null || echo -1 >"$entry" || true
    done
    unregister() { echo -1 >"$binfmt_dir/$name" 2>/dev/null || true; }
    trap unregister EXIT
    # A signal ends this shell (and with it the registration) once CMD has ended: Ctrl+C
    # reaches CMD too.
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP
fi
if ! echo ":$name:M::$i386_magic:$i386_mask:$QV_I386_EMULATOR:F" >"$binfmt_dir/register"; then
    echo "in-netns: cannot register $QV_I386_EMULATOR in binfmt_misc" >&2
    exit 1
fi
echo "in-netns: i386 programs run through $("$QV_I386_EMULATOR" --version | head -1)," \
    "registered in $([[ "$QV_NETNS_BINFMT" == own ]] && echo "this namespace's own binfmt_misc" ||
        echo "the machine's binfmt_misc as $name until the command ends")" >&2
unset QV_NETNS_BINFMT
if [[ "$name" == qemu-i386 ]]; then
    exec "$@"
fi
# Not exec: this shell removes the registration when CMD ends.
status=0
"$@" || status=$?
exit $status
