#!/usr/bin/env bash
# Usage: bench/tick.sh [TICKS] [xembed|bus]   (after scripts/build.sh release)
# The CPU one keep-alive tick costs the release program (delay 3 s, one server, 127.0.0.1,
# answering at once) with no tray host and under a real one (trayer's XEmbed tray, the
# default, or LXQt's panel, which reads the icon from the session bus), in one run: user and
# system time of the process over TICKS ticks (default 10), start-up left out, per tick, and
# the ratio of the two. The program runs inside a loopback-only network namespace.
set -euo pipefail
cd "$(dirname "$0")/.."
ticks=${1:-10}
host=${2:-xembed}
build=$(readlink -f "${QV_BUILD:-build/release}")
root=$PWD
work=$(mktemp -d)

source bench/trayhost.sh
[[ -x "$build/app/quorvane" ]] || qv_bench_fail "no release build in $build: run scripts/build.sh release first"
[[ "$host" == none ]] && qv_bench_fail "the tick is compared under a tray host: xembed or bus"

# The process's CPU time, from a control group of its own where one can be made (to the
# nanosecond, threads that have ended included), else from /proc in the kernel's 10 ms steps.
cgroup=
for dir in /sys/fs/cgroup/cpuacct /sys/fs/cgroup/unified /sys/fs/cgroup; do
    if [[ -w "$dir" ]] && mkdir "$dir/qvbench.$$" 2>/dev/null; then
        cgroup=$dir/qvbench.$$
        break
    fi
done
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

measure() {  # name host [ENV...]: sets $per_tick, the CPU milliseconds per tick there
    local dir=$work/$1 pid before after
    mkdir -p "$dir"
    printf '3\r\n0\r\n0\r\n127.0.0.1\r\n' >"$dir/Quorvane.Lst"
    qv_bench_session "$2"
    session+=("${@:3}")
    (
        [[ -z "$cgroup" ]] || echo "$BASHPID" >"$cgroup/cgroup.procs"
        cd "$dir" && exec "${session[@]}" "$root/scripts/in-netns.sh" "$build/app/quorvane"
    ) >"$dir/log" 2>&1 &
    pid=$!
    sleep 4.5  # start-up and the first tick are left out
    before=$(cpu_ms "$pid")
    sleep "$((ticks * 3))"
    after=$(cpu_ms "$pid")
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    per_tick=$(awk -v a="$after" -v b="$before" -v n="$ticks" 'BEGIN {printf "%.2f", (a - b) / n}')
}

measure headless none QT_QPA_PLATFORM=offscreen
headless=$per_tick
measure display none
display_only=$per_tick
measure tray "$host"
tray=$per_tick
printf 'CPU per tick, headless (no display):        %5s ms\n' "$headless"
printf 'CPU per tick, X display without a tray host: %5s ms\n' "$display_only"
printf 'CPU per tick, X display with a %-6s tray:   %5s ms\n' "$host" "$tray"
awk -v a="$tray" -v b="$headless" 'BEGIN {
    if (b > 0) printf "ratio tray / headless: %.2f\n", a / b; else print "ratio: no CPU measured headless" }'
