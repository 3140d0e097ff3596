# Sourced by the Windows end-to-end scripts: Wine's environment, and a refusal to go on
# anywhere but inside the Wine session started in the loopback-only namespace, the only place
# their real echo requests may go out.
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../../scripts/wine-env.sh"
export PATH="$PATH:/usr/sbin:/sbin"

qv_require_session() {
    local name=$1 others
    others=$(ip -o link show 2>/dev/null |
        awk -F': ' '{ sub(/@.*/, "", $2); if ($2 != "lo") printf "%s ", $2 }')
    if ! ip -o link show lo >/dev/null 2>&1 || [[ -n "$others" ]]; then
        echo "$name: refusing to run outside the loopback-only namespace (interfaces: ${others:-?})" >&2
        exit 1
    fi
    if [[ -z "${DISPLAY:-}" ]]; then
        echo "$name: no Wine session: run under scripts/wine-session.sh" >&2
        exit 1
    fi
}

# What every such script keeps: a scratch directory ($tmp), the processes it started in the
# background ($pids, ended when it exits, once qv_on_exit has run if the script has one), and its
# result ($status, which fail sets while the script goes on to the next check).
qv_start_script() {
    tmp=$(mktemp -d)
    pids=()
    status=0
    trap qv_end_script EXIT
}
qv_end_script() {
    local pid
    if declare -F qv_on_exit >/dev/null; then qv_on_exit; fi
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$tmp"
}
fail() {
    echo "FAIL: $*" >&2
    status=1
}
