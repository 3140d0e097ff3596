#!/usr/bin/env bash
# Usage: bench/idle.sh [SECONDS] [xembed|bus]   (after scripts/build.sh release)
# Idle cost and memory of Quorvane waiting between ticks (delay 3600, so no tick comes),
# against the smallest Qt tray program: system calls counted by strace over SECONDS
# (default 30) and peak resident memory. Both run under one Xvfb with a tray host: an XEmbed
# one (trayer, the default) or one that reads the icon from the session bus (LXQt's panel,
# with a session bus of its own). Quorvane runs inside a loopback-only network namespace, so
# it reaches X and the bus by their socket files.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
host=${2:-xembed}
build=$(readlink -f "${QV_BUILD:-build/release}")
work=$(mktemp -d)
trap 'kill $(jobs -p) "${qv_bench_pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT

source bench/trayhost.sh
qv_bench_need strace
[[ -x "$build/app/quorvane" && -x "$build/bench/minimal_tray" ]] ||
    qv_bench_fail "no release build in $build: run scripts/build.sh release first"
[[ "$host" == none ]] && qv_bench_fail "the idle cost is measured under a tray host: xembed or bus"
printf '3600\r\n0\r\n0\r\n127.0.0.1\r\n127.0.0.2\r\n' >"$work/Quorvane.Lst"
qv_bench_session "$host"

measure() {  # name command...
    local name=$1
    shift
    (cd "$work" && exec "${session[@]}" "$@") >/dev/null 2>&1 &
    local pid=$!
    sleep 3  # start-up is not idle
    strace -f -c -o "$work/$name.strace" -p "$pid" >/dev/null 2>&1 &
    local tracer=$!
    sleep "$seconds"
    kill -INT "$tracer" 2>/dev/null || true
    wait "$tracer" 2>/dev/null || true
    local calls rss
    calls=$(awk '$NF == "total" {print $4}' "$work/$name.strace")
    rss=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    printf '%-14s system calls in %ss: %6s   peak RSS: %6s kB\n' "$name" "$seconds" \
        "${calls:-0}" "$rss"
    echo "$rss" >"$work/$name.rss"
}

measure quorvane "$PWD/scripts/in-netns.sh" "$build/app/quorvane"
measure minimal-tray "$build/bench/minimal_tray"
awk -v a="$(cat "$work/quorvane.rss")" -v b="$(cat "$work/minimal-tray.rss")" \
    'BEGIN {printf "peak RSS ratio quorvane / minimal tray: %.2f\n", a / b}'
