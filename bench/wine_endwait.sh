#!/usr/bin/env bash
# Usage: scripts/in-netns.sh scripts/wine-session.sh bench/wine_endwait.sh [QUORVANE_EXE [QVDRIVER_EXE]]
#   (after scripts/build.sh win32; the programs default to the win32 build's)
# How the Windows program under Wine answers the session while its echo request waits for a
# silent server: the answer to WM_QUERYENDSESSION, and the end after a close request (taskkill)
# and after wineboot --end-session, with one and with three silent servers (Cycle on No
# Contact), each from a moment well inside the wait. Goal: every figure under 1 s. Runs only in
# the Wine session inside the loopback-only namespace; ends every Wine program of the session.
set -uo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
quorvane=$(readlink -f "${1:-build/win32/app/quorvane.exe}")
driver=$(readlink -f "${2:-build/win32/tests/qvdriver.exe}")
source tests/harness/harness.sh
qv_require_session wine_endwait

work=$(mktemp -d)
pid=
cleanup() {
    [[ -z "$pid" ]] || kill "$pid" 2>/dev/null
    qv_silent_servers_remove qvbench
    rm -rf "$work"
}
trap cleanup EXIT
silent=(127.0.0.41 127.0.0.42 127.0.0.43)
qv_silent_servers_add qvbench "${silent[@]}" ||
    { echo "wine_endwait: cannot make the servers silent" >&2; exit 1; }

now_ms() { date +%s%3N; }
qv_drive_with "$driver" 90 --exe quorvane.exe

# Starts the program with COUNT silent servers and returns once its first echo request has
# waited for about a second and a half (the first tick comes 3 s after the dialog).
start() {
    local count=$1
    rm -rf "$work/run" && mkdir "$work/run"
    { printf '3\r\n1\r\n0\r\n'; printf '%s\r\n' "${silent[@]:0:count}"; } >"$work/run/Quorvane.Lst"
    cp "$work/run/Quorvane.Lst" "$work/list.before"
    cp "$quorvane" "$work/run/quorvane.exe"
    (cd "$work/run" && exec timeout -k 5 120 wine quorvane.exe </dev/null >/dev/null 2>&1) &
    pid=$!
    qv_drive wait || { echo "wine_endwait: the program did not start" >&2; exit 1; }
    sleep 4.5
}

# Sets result to the milliseconds from START (ms) until the program has ended, at most 60 s;
# "-" past that.
ended_after() {
    local start=$1
    for _ in $(seq 1200); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        pid=
        result="-"
        return
    fi
    wait "$pid"
    local code=$? end
    end=$(now_ms)
    pid=
    cmp -s "$work/list.before" "$work/run/Quorvane.Lst" || code="$code, list changed"
    result="$((end - start)) ms (exit $code)"
}

printf '%-40s %20s %20s\n' "" "1 silent server" "3 silent servers"
declare -A figure
for count in 1 3; do
    start "$count"
    answer=$(qv_drive --timeout 60000 answer query-end-session) || answer="-"
    figure[query,$count]="${answer%% *} ms"
    # Ended for the next start, not timed: a program that did not answer meanwhile ends only
    # once its round is over.
    qv_drive post-close
    ended_after "$(now_ms)"

    start "$count"
    t0=$(now_ms)
    timeout -k 5 60 wine taskkill /im quorvane.exe >/dev/null 2>&1 </dev/null
    ended_after "$t0"
    figure[taskkill,$count]=$result

    start "$count"
    t0=$(now_ms)
    timeout -k 5 90 wineboot --end-session </dev/null >/dev/null 2>&1 &
    boot=$!
    ended_after "$t0"
    figure[wineboot,$count]=$result
    wait "$boot"
done
for row in "query:WM_QUERYENDSESSION answered" "taskkill:ended after taskkill" "wineboot:ended after wineboot --end-session"; do
    printf '%-40s %20s %20s\n' "${row#*:}" "${figure[${row%%:*},1]}" "${figure[${row%%:*},3]}"
done
