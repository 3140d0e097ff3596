#!/usr/bin/env bash
# Usage: [QV_BUILD=DIR[:DIR...]] bench/tick.sh [TICKS]   (after scripts/build.sh release)
# What one keep-alive tick (delay 3 s, one server, 127.0.0.1, answering at once) costs the
# release program: headless (QT_QPA_PLATFORM=offscreen), under an XEmbed tray host (trayer) and
# under one that reads the icon from the session bus (LXQt's panel, with a bus of its own), each
# under an Xvfb of its own. For each: the CPU time (user and system) per tick over TICKS ticks
# (default 10), start-up left out, and its ratio to the headless figure (goal: at most 2 under
# either host); then the system calls per tick, counted by strace -f -c over TICKS more ticks.
# The anchor is the smallest Qt tray program changing its icon twice every 3 s the same way
# (bench/minimal_tray, of this tree's release build or QV_MINIMAL_TRAY), under both hosts.
# QV_BUILD lists the builds to compare in one run, before and after a change say (default
# build/release); the program runs inside a loopback-only network namespace.
set -euo pipefail
cd "$(dirname "$0")/.."
ticks=${1:-10}
IFS=: read -r -a builds <<<"${QV_BUILD:-build/release}"
minimal=$(readlink -f "${QV_MINIMAL_TRAY:-build/release/bench/minimal_tray}")
root=$PWD
work=$(mktemp -d)

source bench/trayhost.sh
qv_bench_need strace
for i in "${!builds[@]}"; do
    builds[i]=$(readlink -f "${builds[i]}")
    [[ -x "${builds[i]}/app/quorvane" ]] ||
        qv_bench_fail "no release build in ${builds[i]}: run scripts/build.sh release first"
done
[[ -x "$minimal" ]] || qv_bench_fail "no minimal tray program at $minimal"

# The process's CPU time, from a control group of its own where one can be made (to the
# nanosecond, threads that have ended included), else from /proc in the kernel's 10 ms steps.
cgroup=
for dir in /sys/fs/cgroup/cpuacct /sys/fs/cgroup/unified /sys/fs/cgroup; do
    if [[ -w "$dir" ]] && mkdir "$dir/qvbench.$$" 2>/dev/null; then
        cgroup=$dir/qvbench.$$
        break
    fi
done
[[ -n "$cgroup" ]] || echo "no control group of our own: CPU time in 10 ms steps" >&2
trap 'kill $(jobs -p) "${qv_bench_pids[@]}" 2>/dev/null || true; wait; [[ -z "$cgroup" ]] || rmdir "$cgroup"; rm -rf "$work"' EXIT
cpu_ms() {  # pid: its user and system time so far, in milliseconds
    if [[ -f "$cgroup/cpuacct.usage" ]]; then
        awk '{printf "%.3f", $1 / 1e6}' "$cgroup/cpuacct.usage"
    elif [[ -f "$cgroup/cpu.stat" ]]; then
        awk '$1 == "usage_usec" {printf "%.3f", $2 / 1e3}' "$cgroup/cpu.stat"
    else
        awk -v hz="$(getconf CLK_TCK)" '{print ($14 + $15) * 1000 / hz}' "/proc/$1/stat"
    fi
}

# The process below pid (itself included) that runs exe: the program under its wrappers.
process_running() {
    local pid=$1 exe=$2 child found
    [[ "$(readlink "/proc/$pid/exe" 2>/dev/null)" == "$exe" ]] && { echo "$pid"; return 0; }
    for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do
        found=$(process_running "$child" "$exe") && { echo "$found"; return 0; }
    done
    return 1
}

# measure NAME HOST EXE CMD...: runs CMD (which runs EXE) in a session with HOST (none, xembed or
# bus) and sets $per_tick (CPU milliseconds) and $calls_per_tick. The session ends with it.
measure() {
    local name=$1 host=$2 exe=$3 dir=$work/$1 pid target before after tracer calls
    shift 3
    mkdir -p "$dir"
    printf '3\r\n0\r\n0\r\n127.0.0.1\r\n' >"$dir/Quorvane.Lst"
    qv_bench_pids=()
    qv_bench_session "$host"
    [[ "$host" != none ]] || session+=(QT_QPA_PLATFORM=offscreen)
    (
        [[ -z "$cgroup" ]] || echo "$BASHPID" >"$cgroup/cgroup.procs"
        cd "$dir" && exec "${session[@]}" "$@"
    ) >"$dir/log" 2>&1 &
    pid=$!
    sleep 4.5  # start-up and the first tick are left out
    target=$(process_running "$pid" "$exe") || qv_bench_fail "$name did not start: $(head -c 300 "$dir/log")"
    before=$(cpu_ms "$target")
    sleep "$((ticks * 3))"
    after=$(cpu_ms "$target")
    strace -f -c -o "$dir/strace" -p "$target" >/dev/null 2>&1 &
    tracer=$!
    sleep "$((ticks * 3))"
    kill -INT "$tracer" 2>/dev/null || true
    wait "$tracer" 2>/dev/null || true
    kill -0 "$target" 2>/dev/null || qv_bench_fail "$name ended early: $(head -c 300 "$dir/log")"
    kill -TERM "$pid" "$target" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    kill "${qv_bench_pids[@]}" "${qv_tray_host_pid:-}" 2>/dev/null || true
    qv_tray_host_pid=
    per_tick=$(awk -v a="$after" -v b="$before" -v n="$ticks" 'BEGIN {printf "%.3f", (a - b) / n}')
    calls=$(awk '$NF == "total" {print $4}' "$dir/strace")
    calls_per_tick=$(awk -v c="${calls:-0}" -v n="$ticks" 'BEGIN {printf "%.1f", c / n}')
}

declare -A cpu calls
for build in "${builds[@]}"; do
    exe=$build/app/quorvane
    for host in none xembed bus; do
        echo "measuring $exe ($host)..." >&2
        measure "$host" "$host" "$exe" "$root/scripts/in-netns.sh" "$exe"
        cpu[$build,$host]=$per_tick calls[$build,$host]=$calls_per_tick
    done
done
for host in xembed bus; do
    echo "measuring $minimal 3 ($host)..." >&2
    measure "minimal-$host" "$host" "$minimal" "$minimal" 3
    cpu[minimal,$host]=$per_tick calls[minimal,$host]=$calls_per_tick
done

# One row: label, CPU per tick, the headless figure it is compared with (none: no ratio), the
# minimal program's under the same host, system calls per tick.
row() {
    awk -v l="$1" -v t="$2" -v h="$3" -v m="$4" -v c="$5" 'BEGIN {
        r = h > 0 ? sprintf("%.2f", t / h) : "-"
        q = m > 0 ? sprintf("%.2f", t / m) : "-"
        printf "  %-24s %8.3f ms %9s %10s %10s\n", l, t, r, q, c }'
}
header() {
    printf '  %-24s %11s %9s %10s %10s\n' "" "CPU/tick" "/headless" "/minimal" "calls/tick"
}
declare -A labels=([none]="headless" [xembed]="XEmbed tray (trayer)" [bus]="bus tray (lxqt-panel)")
echo "CPU and system calls per tick over $ticks ticks each (goal: at most 2 x headless)"
for build in "${builds[@]}"; do
    echo "$build/app/quorvane"
    header
    for host in none xembed bus; do
        row "${labels[$host]}" "${cpu[$build,$host]}" "${cpu[$build,none]}" \
            "${cpu[minimal,$host]:-0}" "${calls[$build,$host]}"
    done
done
echo "$minimal 3 (the smallest tray program, changing its icon as a tick does)"
header
for host in xembed bus; do
    row "${labels[$host]}" "${cpu[minimal,$host]}" 0 0 "${calls[minimal,$host]}"
done
