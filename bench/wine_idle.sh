#!/usr/bin/env bash
# Usage: scripts/in-netns.sh scripts/wine-session.sh bench/wine_idle.sh [BUILD_DIR [SECONDS]]
#   (after scripts/build.sh win32, or win64 with WINEARCH=win64 where no 32-bit code runs;
#   BUILD_DIR defaults to build/$WINEARCH, SECONDS to 30)
# Idle cost of the Windows program under Wine while it sits in the tray: the system calls of
# its process (every thread) counted by strace over SECONDS, against the smallest Win32 tray
# program (bench/minimal_tray_win32.cpp) measured in the same session. Quorvane is measured
# twice: from start-up on (its dialog never shown), and after its dialog was opened from the
# tray and closed with OK. The list's delay is an hour, so no tick comes; start-up is left
# out. Goal: as few as the minimal program (0 measured) in both. Runs only in the Wine session
# inside the loopback-only namespace.
set -uo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
source tests/harness/harness.sh
qv_require_session wine_idle
build=$(readlink -f "${1:-build/$WINEARCH}")
seconds=${2:-30}
quorvane=$build/app/quorvane.exe
minimal=$build/bench/minimal_tray_win32.exe
driver=$build/tests/qvdriver.exe

die() {
    echo "wine_idle: $*" >&2
    exit 1
}

# What it needs, or nothing is measured at all.
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || die "SECONDS must be a whole number of seconds: '$seconds'"
command -v strace >/dev/null || die "strace is missing (apt-get install strace)"
command -v wine >/dev/null || die "wine is missing (scripts/build.sh $WINEARCH installs it)"
for exe in "$quorvane" "$minimal" "$driver"; do
    [[ -f "$exe" ]] || die "$exe is missing (scripts/build.sh $WINEARCH builds it)"
done
# The machine the programs were built for must be the one the prefix runs (PE header).
machine() {
    local offset
    offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' '
}
case "$WINEARCH:$(machine "$quorvane"):$(machine "$minimal")" in
    win32:014c:014c | win64:8664:8664) ;;
    *) die "the programs in $build are not built for WINEARCH=$WINEARCH (win32 build: WINEARCH=win32; win64 build: WINEARCH=win64)" ;;
esac

work=$(mktemp -d)
started=()
cleanup() {
    local pid
    for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${started[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

qv_drive_with "$driver" 60 --exe quorvane-idle.exe

# Starts the program EXE under the image name NAME in a folder of its own, holding a list
# whose delay is an hour; sets pid to its Wine process (the one that runs the program's code).
start() {
    local exe=$1 name=$2 runner child=
    mkdir -p "$work/$name"
    printf '3600\r\n0\r\n0\r\n127.0.0.1\r\n127.0.0.2\r\n' >"$work/$name/Quorvane.Lst"
    cp "$exe" "$work/$name/$name"
    (cd "$work/$name" && exec timeout -k 5 $((seconds * 3 + 300)) wine "$name" </dev/null >/dev/null 2>&1) &
    runner=$!
    started+=("$runner")
    for _ in $(seq 100); do
        child=$(cat "/proc/$runner/task/$runner/children" 2>/dev/null | awk '{print $1}')
        [[ -n "$child" ]] && break
        sleep 0.1
    done
    [[ -n "$child" ]] || die "$name did not start under Wine"
    tr '\0' ' ' <"/proc/$child/cmdline" | grep -qiF "$name" ||
        die "process $child runs '$(tr '\0' ' ' <"/proc/$child/cmdline")', not $name"
    pid=$child
}

# Counts the system calls of every thread of process PID over SECONDS; prints a row under
# the label LABEL, with its three most frequent calls.
measure() {
    local pid=$1 label=$2 out=$work/strace.$RANDOM tracer calls top
    kill -0 "$pid" 2>/dev/null || die "$label: the process ended before it was measured"
    strace -f -c -S calls -U calls,name -o "$out" -p "$pid" 2>"$out.err" &
    tracer=$!
    sleep "$seconds"
    kill -INT "$tracer" 2>/dev/null
    wait "$tracer" 2>/dev/null
    grep -q "attached" "$out.err" ||
        die "$label: strace could not attach to process $pid: $(head -c 300 "$out.err")"
    kill -0 "$pid" 2>/dev/null || die "$label: the process ended while it was measured"
    calls=$(awk '$NF == "total" {print $1}' "$out")
    top=$(awk '$NF != "total" && $1 ~ /^[0-9]+$/ {printf "%s %s, ", $2, $1}' "$out" | cut -d, -f1-3)
    printf '%-44s %6d system calls in %ss%s\n' "$label" "${calls:-0}" "$seconds" \
        "${top:+   ($top)}"
}

start "$minimal" minimal-idle.exe
sleep 3 # start-up is not idle
measure "$pid" "minimal Win32 tray program"

start "$quorvane" quorvane-idle.exe
qv_drive wait >/dev/null || die "Quorvane's dialog did not appear"
qv_drive visible
(($? == 1)) || die "Quorvane's dialog is not hidden in the tray"
sleep 3
measure "$pid" "quorvane.exe in the tray from start-up on"

# Opened from the tray and closed with OK: the cycle starts again, the dialog is hidden.
qv_drive tray-click && qv_drive wait-visible && qv_drive click 1 && qv_drive wait-hidden ||
    die "could not open Quorvane's dialog from the tray and close it with OK"
sleep 3
measure "$pid" "quorvane.exe in the tray after OK"
