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
# result ($status, which fail sets while the script goes on to the next check; $skipped, which
# skip sets).
qv_start_script() {
    tmp=$(mktemp -d)
    pids=()
    status=0
    skipped=0
    trap qv_end_script EXIT
}
qv_end_script() {
    # Named apart from the scripts' own $pid, which qv_on_exit may use.
    local child
    if declare -F qv_on_exit >/dev/null; then qv_on_exit; fi
    for child in "${pids[@]}"; do kill "$child" 2>/dev/null; done
    for child in "${pids[@]}"; do wait "$child" 2>/dev/null; done
    rm -rf "$tmp"
}
fail() {
    echo "FAIL: $*" >&2
    status=1
}
# A check that cannot run here: says why, and the script ends with 77, which CTest reports as
# skipped, unless another check failed.
skip() {
    echo "skipped: $*"
    skipped=1
}
qv_exit() {
    if ((status == 0 && skipped)); then exit 77; fi
    exit $status
}

# Waits for PID, a program of the script's, and takes it off $pids; returns its exit code.
reap() {
    local pid code keep=()
    wait "$1"
    code=$?
    for pid in "${pids[@]}"; do [[ "$pid" == "$1" ]] || keep+=("$pid"); done
    pids=("${keep[@]}")
    return $code
}

# Checks that program NAME (process PID) ends promptly, within SECONDS (5 by default), with
# exit code 0 after what WHAT says; its log, $tmp/NAME.log, is shown when it does not.
ends_with_zero() {
    local name=$1 pid=$2 what=$3 seconds=${4:-5} code _
    for _ in $(seq "$(awk -v s="$seconds" 'BEGIN { print int(s * 20) }')"); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    if kill -0 "$pid" 2>/dev/null; then
        fail "$name: still running $seconds s after $what"
        return 1
    fi
    reap "$pid"
    code=$?
    ((code == 0)) && return 0
    fail "$name: exit code $code after $what, not 0 $(head -c 500 "$tmp/$name.log" 2>/dev/null)"
    return 1
}

# What a failed step shows of program NAME (process PID): whether it still runs, and the end of
# its log, $tmp/NAME.log, where Wine reports a crash.
qv_program_state() {
    local name=$1 pid=$2 state=ended
    if kill -0 "$pid" 2>/dev/null; then state="still running"; fi
    echo "(the program: $state; its log: '$(tail -c 300 "$tmp/$name.log" 2>/dev/null | tr '\n' ' ')')"
}
