#!/usr/bin/env bash
# Usage: scripts/in-netns.sh scripts/wine-session.sh bench/wine_biglist.sh [QUORVANE_EXE [QVDRIVER_EXE [COUNT]]]
#   (after scripts/build.sh win32; the programs default to the win32 build's, COUNT to 200000)
# How long the Windows program under Wine is blocked loading a long server list: from its
# start until its dialog first answers a message, with a list file of COUNT servers in no
# order and with one of 3, three runs each; the load is the difference of the medians. Goal:
# 200,000 servers under 2 s. The delay is an hour, so no echo request goes out meanwhile; it
# still runs only in the Wine session inside the loopback-only namespace.
set -uo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
quorvane=$(readlink -f "${1:-build/win32/app/quorvane.exe}")
driver=$(readlink -f "${2:-build/win32/tests/qvdriver.exe}")
count=${3:-200000}
source tests/harness/harness.sh
qv_require_session wine_biglist

work=$(mktemp -d)
pid=
cleanup() {
    [[ -z "$pid" ]] || kill "$pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

now_ms() { date +%s%3N; }
qv_drive_with "$driver" 30

# A list of N loopback addresses in a scrambled order (a fixed permutation, so runs compare).
make_list() {
    awk -v n="$1" 'BEGIN {
        printf "3600\r\n0\r\n0\r\n"
        for (i = 0; i < n; i++) {
            k = (i * 7919 + 13) % n
            printf "127.%d.%d.%d\r\n", int(k / 65536) % 256, int(k / 256) % 256, k % 256
        }
    }'
}

# Sets result to the milliseconds from the program's start until its dialog answers WM_NULL,
# with the list file LIST; "-" when that takes more than 120 s.
# Each run under an image name of its own: a window of the run before that is still going
# away cannot answer for it.
runs=0
time_start() {
    local list=$1 start exe
    runs=$((runs + 1))
    exe=quorvane-$runs.exe
    rm -rf "$work/run" && mkdir "$work/run"
    cp "$list" "$work/run/Quorvane.Lst"
    cp "$quorvane" "$work/run/$exe"
    start=$(now_ms)
    (cd "$work/run" && exec timeout -k 5 150 wine "$exe" </dev/null >/dev/null 2>&1) &
    pid=$!
    result="-"
    while (($(now_ms) - start < 120000)); do
        if qv_drive --exe "$exe" --timeout 100 answer null >/dev/null 2>&1; then
            result=$(($(now_ms) - start))
            break
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    pid=
}

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

make_list 3 >"$work/small.lst"
make_list "$count" >"$work/large.lst"
small=() large=()
for _ in 1 2 3; do
    time_start "$work/small.lst"
    small+=("$result")
    time_start "$work/large.lst"
    large+=("$result")
done
if [[ " ${small[*]} ${large[*]} " == *" - "* ]]; then
    echo "wine_biglist: the dialog did not answer within 120 s (small: ${small[*]}, large: ${large[*]})" >&2
    exit 1
fi
m_small=$(median "${small[@]}")
m_large=$(median "${large[@]}")
printf 'start until the dialog answers, 3 servers:       %6d ms  (runs: %s)\n' "$m_small" "${small[*]}"
printf 'start until the dialog answers, %6d servers:  %6d ms  (runs: %s)\n' "$count" "$m_large" "${large[*]}"
printf 'the list load:                                   %6d ms  (goal: under 2000)\n' \
    $((m_large - m_small))
