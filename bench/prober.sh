#!/usr/bin/env bash
# Usage: bench/prober.sh [BEFORE_BUILD] [ROUNDS]   (after scripts/build.sh release)
# The probe's cost in one run, inside one loopback-only network namespace: bench_prober of this
# build (QV_BUILD, by default build/release) and, when given, of another build to compare with
# (an earlier release build), one after the other; then the system calls of 1,000 probes of
# this build, counted by strace, per probe.
set -euo pipefail
cd "$(dirname "$0")/.."
before=${1:-}
rounds=${2:-20}
build=$(readlink -f "${QV_BUILD:-build/release}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source bench/trayhost.sh
qv_bench_need strace
[[ -x "$build/bench/bench_prober" ]] ||
    qv_bench_fail "no release build in $build: run scripts/build.sh release first"
if [[ -n "$before" ]]; then
    before=$(readlink -f "$before")
    [[ -x "$before/bench/bench_prober" ]] || qv_bench_fail "no bench_prober in $before"
fi

# One namespace for all, so every figure comes from the same network and the same machine.
cat >"$work/run.sh" <<'EOF'
set -euo pipefail
build=$1 before=$2 rounds=$3 work=$4
if [[ -n "$before" ]]; then
    echo "== before: $before"
    "$before/bench/bench_prober" "$rounds"
    echo
fi
echo "== this build: $build"
"$build/bench/bench_prober" "$rounds"
echo
probes=1000
strace -f -c -o "$work/strace" "$build/bench/bench_prober" --probes "$probes" >/dev/null
# The calls of start-up are counted once: those of a run with one probe are taken off.
strace -f -c -o "$work/strace1" "$build/bench/bench_prober" --probes 1 >/dev/null
calls() { awk '$NF == "total" {print $4}' "$1"; }
awk -v n="$(calls "$work/strace")" -v one="$(calls "$work/strace1")" -v p="$probes" 'BEGIN {
    printf "system calls per probe (strace, %d probes, start-up taken off): %.1f\n", p, (n - one) / (p - 1) }'
echo "by call, over $probes probes and one start-up:"
awk 'NR > 2 && $NF != "total" && $1 !~ /^-/ {printf "  %-16s %s\n", $NF, $4}' "$work/strace" |
    head -20
EOF
scripts/in-netns.sh bash "$work/run.sh" "$build" "$before" "$rounds" "$work"
