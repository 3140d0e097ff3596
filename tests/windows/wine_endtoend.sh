#!/usr/bin/env bash
# Usage: tests/windows/wine_endtoend.sh QUORVANE_EXE QVDRIVER_EXE
# The real Windows program under Wine, watched on lo and driven through its dialog by qvdriver
# as a user would. Runs only inside the Wine session started in the loopback-only namespace
# (scripts/in-netns.sh scripts/wine-session.sh ...): ICMP.DLL's echoes leave from that
# session's own processes, and the capture and nft act on that namespace alone.
#
# Five instances run side by side, each in a directory of its own, and a sixth after them:
#   a (servers 127.0.0.1-3, delay 3): round robin on the wire; a tray click stops the cycle;
#     OK with a new delay rewrites the list file and the cycle goes on with it; Exit ends it.
#   b (servers 127.0.0.11-13, 127.0.0.12 silent): three tries for the silent server, one
#     timeout apart, then the next tick goes on to the next server.
#   c (no ICMP.DLL on the system): the start-up box, then the program ends with 0 once it is
#     closed, its tray icon gone.
#   d (servers 127.0.0.21-23, all silent, Cycle on No Contact): while an echo request of its
#     waits, WM_QUERYENDSESSION is answered at once and taskkill ends it within 1 s with 0,
#     that request the last.
#   e (server 127.0.0.31, silent): a tray click posted while the request waits opens the dialog
#     only once the round's three tries are over, their timing unchanged; then Add's probe of
#     the silent 127.0.0.32: the dialog keeps answering and painting, and Exit clicked
#     meanwhile ends the program once the probe is over.
#   f (servers 127.0.0.41-43, all silent, Cycle on No Contact), alone, as it ends every
#     program of the session: wineboot --end-session during a wait ends it with 0 within 1 s
#     of wineboot's own run (timed apart first), before the wait is over, sending nothing more.
set -uo pipefail

if (($# != 2)); then
    echo "usage: $0 QUORVANE_EXE QVDRIVER_EXE" >&2
    exit 2
fi
quorvane=$(readlink -f "$1")
driver=$(readlink -f "$2")
source "$(dirname "$(readlink -f "$0")")/../harness/harness.sh"
qv_require_session wine_endtoend
for tool in nft wine; do
    command -v "$tool" >/dev/null || { echo "wine_endtoend: $tool is missing" >&2; exit 1; }
done

qv_start_script
qv_on_exit() { qv_silent_servers_remove qvwine; }
now() { date +%s.%N; }

# --- The wire --------------------------------------------------------------------------------

capture_start=$(now)
qv_capture wine_endtoend 150 "$tmp/capture" "$tmp/capture.err" || exit 1

# The echo requests to the given addresses, in order, one a line as the capture writes them:
# TIME DESTINATION TTL PAYLOAD (hex, "-" when empty), all read from the packet's own bytes.
requests_to() {
    awk -v list=" $* " 'index(list, " " $2 " ")' "$tmp/capture"
}

# Waits until COUNT requests to the addresses have been seen after time AFTER, for at most
# SECONDS; true when they have.
wait_requests() {
    local count=$1 after=$2 seconds=$3
    shift 3
    local deadline=$(($(date +%s) + seconds))
    while (($(date +%s) < deadline)); do
        (($(requests_to "$@" | awk -v t="$after" '$1 > t' | wc -l) >= count)) && return 0
        sleep 0.2
    done
    return 1
}

# What was seen, for a failure report: times from the start of the capture.
show() {
    awk -v t0="$capture_start" \
        '{ printf "  +%7.3f %-11s ttl %3d, %d payload bytes\n", $1 - t0, $2, $3,
                  $4 == "-" ? 0 : length($4) / 2 }' >&2
}

# Checks the requests (on stdin) against the expected destinations in order and the allowed
# gaps before each after the first ("LOW-HIGH" seconds each); NAME says which case.
check_sequence() {
    local name=$1 destinations=$2 gaps=$3 seen why
    seen=$(cat)
    why=$(awk -v want="$destinations" -v gaps="$gaps" '
        BEGIN { n = split(want, w, " "); split(gaps, g, " ") }
        NF == 0 || k >= n { next }
        {
            k++
            if ($2 != w[k]) { printf "request %d went to %s, not %s", k, $2, w[k]; done = 1; exit }
            if (k > 1) {
                split(g[k - 1], bounds, "-")
                gap = $1 - last
                if (gap < bounds[1] || gap > bounds[2]) {
                    printf "request %d came %.2f s after the one before, not %s s", k, gap, g[k - 1]
                    done = 1
                    exit
                }
            }
            last = $1
        }
        END { if (!done && k < n) printf "only %d of %d requests seen", k, n }' <<<"$seen")
    if [[ -n "$why" ]]; then
        fail "$name: $why; seen:"
        [[ -z "$seen" ]] || show <<<"$seen"
    fi
}

# Every request to the addresses carries the TTL and the payload given.
check_format() {
    local name=$1 ttl=$2 payload=$3 bad
    shift 3
    bad=$(requests_to "$@" | awk -v ttl="$ttl" -v p="$payload" '$3 != ttl || $4 != p')
    if [[ -n "$bad" ]]; then
        fail "$name: requests without TTL $ttl and the expected payload:"
        show <<<"$bad"
    fi
}

# Before the program: Wine's own ping goes through the same ICMP.DLL, so a capture that sees
# it shows the session and the capture in the same namespace.
timeout -k 5 20 wine ping -n 1 -l 35 127.0.0.9 >/dev/null 2>&1
if ! wait_requests 1 0 5 127.0.0.9; then
    echo "wine_endtoend: Wine's ping to 127.0.0.9 was not seen on lo: is the Wine session" \
        "outside this namespace?" >&2
    exit 1
fi
if ! requests_to 127.0.0.9 | awk '{ exit length($4) != 70 }'; then
    echo "wine_endtoend: Wine's ping to 127.0.0.9 does not read as 35 payload bytes:" >&2
    requests_to 127.0.0.9 | show
    exit 1
fi

# --- The two programs ------------------------------------------------------------------------

# Echo requests to the silent servers are dropped on arrival; the capture still sees them.
servers_d=(127.0.0.21 127.0.0.22 127.0.0.23)
servers_f=(127.0.0.41 127.0.0.42 127.0.0.43)
qv_silent_servers_add qvwine 127.0.0.12 "${servers_d[@]}" 127.0.0.31 127.0.0.32 "${servers_f[@]}" ||
    { echo "wine_endtoend: cannot set the firewall rule for the silent servers" >&2; exit 1; }

mkdir "$tmp/a" "$tmp/b"
printf '3\r\n0\r\n1\r\n127.0.0.1\r\n127.0.0.2\r\n127.0.0.3\r\n' >"$tmp/a/Quorvane.Lst"
printf '3\r\n0\r\n0\r\n127.0.0.11\r\n127.0.0.12\r\n127.0.0.13\r\n' >"$tmp/b/Quorvane.Lst"
# Under another image name, so the driver can tell the two dialogs apart.
cp "$quorvane" "$tmp/b/quorvane-b.exe"
exe_a=$(basename "$quorvane")
exe_b="quorvane-b.exe"

# c finds no ICMP library: Wine's own is switched off for it alone.
mkdir "$tmp/c"
cp "$quorvane" "$tmp/c/quorvane-c.exe"
(cd "$tmp/c" && WINEDLLOVERRIDES="$WINEDLLOVERRIDES;icmp=d" \
    exec timeout -k 5 60 wine "$tmp/c/quorvane-c.exe" </dev/null >"$tmp/c.log" 2>&1) &
pid_c=$!
pids+=("$pid_c")
(cd "$tmp/b" && exec timeout -k 5 120 wine "$tmp/b/$exe_b" </dev/null >"$tmp/b.log" 2>&1) &
pid_b=$!
pids+=("$pid_b")
(cd "$tmp/a" && exec timeout -k 5 120 wine "$quorvane" </dev/null >"$tmp/a.log" 2>&1) &
pid_a=$!
pids+=("$pid_a")

# Starts instance NAME as quorvane-NAME.exe in a directory of its own with the list file LIST
# (printf's format), a copy of which is kept to compare; sets pid_NAME.
start_instance() {
    local name=$1 list=$2
    mkdir "$tmp/$name"
    printf "$list" >"$tmp/$name/Quorvane.Lst"
    cp "$tmp/$name/Quorvane.Lst" "$tmp/$name.lst"
    cp "$quorvane" "$tmp/$name/quorvane-$name.exe"
    (cd "$tmp/$name" && exec timeout -k 5 120 wine "quorvane-$name.exe" </dev/null \
        >"$tmp/$name.log" 2>&1) &
    printf -v "pid_$name" %s "$!"
    pids+=("$!")
}
start_instance d '3\r\n1\r\n0\r\n127.0.0.21\r\n127.0.0.22\r\n127.0.0.23\r\n'
start_instance e '3\r\n0\r\n0\r\n127.0.0.31\r\n'

qv_drive_with "$driver" 30

# Ends a program through its dialog as a user would (tray click, Exit) and checks that it
# ends promptly with exit code 0.
exit_by_dialog() {
    local name=$1 exe=$2 pid=$3
    qv_drive --exe "$exe" tray-click && qv_drive --exe "$exe" wait-visible &&
        qv_drive --exe "$exe" click 2 || { fail "$name: could not click Exit"; return; }
    ends_with_zero "$name" "$pid" Exit
}

payload=$(printf 'Harrowbecks Software, Incorporated' | od -An -v -tx1 | tr -d ' \n')00
servers_a=(127.0.0.1 127.0.0.2 127.0.0.3)
servers_b=(127.0.0.11 127.0.0.12 127.0.0.13)

exe_d=quorvane-d.exe
exe_e=quorvane-e.exe
# Nothing else can be checked without these dialogs.
for name in a b d e; do
    exe=exe_$name pid=pid_$name
    qv_drive --exe "${!exe}" wait && continue
    if kill -0 "${!pid}" 2>/dev/null; then
        echo "FAIL: $name: its dialog never appeared" >&2
    else
        reap "${!pid}"
        echo "FAIL: $name: ended with exit code $? before its dialog appeared $(head -c 500 "$tmp/$name.log")" >&2
    fi
    exit 1
done

# Without ICMP.DLL: one box, with no owner, that says so; closed, it ends the program.
box=(--exe quorvane-c.exe --caption "Sonar Error")
if qv_drive "${box[@]}" wait && qv_drive "${box[@]}" wait-visible; then
    text=$(qv_drive "${box[@]}" get-text 65535 | tr -d "\r")
    [[ "$text" == "Could not load the <ICMP.DLL> library." ]] ||
        fail "c: the start-up box says '$text'"
    qv_drive "${box[@]}" click 1 || fail "c: could not close the start-up box"
    ends_with_zero c "$pid_c" "its start-up box was closed"
else
    fail "c: no \"Sonar Error\" box without ICMP.DLL $(head -c 500 "$tmp/c.log")"
fi

# The list file as the program found it.
list_unchanged() {
    cmp -s "$tmp/$1.lst" "$tmp/$1/Quorvane.Lst" || fail "$1: the list file changed: $(od -c "$tmp/$1/Quorvane.Lst" | head -5)"
}

# e, beside the rest: what the user does while an echo request waits is done after it.
scenario_e() {
    local first third shown added answer ended
    if ! wait_requests 1 0 30 127.0.0.31; then
        fail "e: no echo request to 127.0.0.31"
        return
    fi
    first=$(requests_to 127.0.0.31 | awk 'NR == 1 { print $1 }')
    sleep 1
    qv_drive --exe "$exe_e" tray-post || { fail "e: could not post the tray click"; return; }
    # When the dialog was first seen shown, by one driver watching it (not by one started per
    # look: under qemu's emulation each start costs a second).
    shown=$(qv_drive --exe "$exe_e" --wait 20000 --time wait-visible | tr -d '\r')
    [[ -n "${shown:-}" ]] || { fail "e: the tray click never opened the dialog"; return; }
    # The round's three tries, one timeout apart as without the click; the dialog only after.
    check_sequence "e: the round under a tray click" "127.0.0.31 127.0.0.31 127.0.0.31" \
        "4.5-6.0 4.5-6.0" < <(requests_to 127.0.0.31)
    third=$(requests_to 127.0.0.31 | awk 'NR == 3 { print $1 }')
    awk -v s="$shown" -v t="${third:-0}" 'BEGIN { exit !(t > 0 && s > t + 4.5 && s < t + 8) }' ||
        fail "e: the dialog appeared $(awk -v s="$shown" -v f="$first" 'BEGIN { printf "%.2f", s - f }') s" \
            "after the first of the round's requests, not once its third had timed out"

    # Add's probe of a silent server: the dialog answers and paints meanwhile.
    qv_drive --exe "$exe_e" set-text 1002 127.0.0.32 && qv_drive --exe "$exe_e" post-click 1004 ||
        { fail "e: could not click Add"; return; }
    wait_requests 1 "$shown" 10 127.0.0.32 || { fail "e: Add sent no echo request"; return; }
    added=$(requests_to 127.0.0.32 | awk 'NR == 1 { print $1 }')
    sleep 0.5
    answer=$(qv_drive --exe "$exe_e" --timeout 1000 answer null | tr -d '\r')
    awk -v a="${answer%% *}" 'BEGIN { exit !(a != "" && a < 100) }' ||
        fail "e: WM_NULL during Add's probe was answered in '${answer%% *}' ms, not under 100"
    qv_drive --exe "$exe_e" --timeout 1000 repaint >/dev/null ||
        fail "e: the dialog did not paint itself during Add's probe"
    # Exit clicked now ends the program once the probe is over, not before.
    qv_drive --exe "$exe_e" post-click 2 || { fail "e: could not click Exit"; return; }
    for _ in $(seq 200); do
        kill -0 "$pid_e" 2>/dev/null || break
        sleep 0.05
    done
    ended=$(now)
    kill -0 "$pid_e" 2>/dev/null && { fail "e: still running 10 s after Exit"; return; }
    awk -v e="$ended" -v a="$added" 'BEGIN { exit !(e > a + 4.5 && e < a + 7) }' ||
        fail "e: Exit during Add's probe ended the program" \
            "$(awk -v e="$ended" -v a="$added" 'BEGIN { printf "%.2f", e - a }') s after the probe's request"
    (($(requests_to 127.0.0.31 127.0.0.32 | wc -l) == 4)) ||
        fail "e: echo requests after the tray click stopped the cycle: $(requests_to 127.0.0.31 127.0.0.32 | show 2>&1)"
    list_unchanged e
}
(
    scenario_e
    exit $status
) &
pid_scenario_e=$!
pids+=("$pid_scenario_e")

# d: all three servers silent; while a request waits the session's question is answered at
# once, and taskkill's close request ends the program. Both go out as soon as a new request of
# d's is seen, so that they come during its wait however long the programs that bring them
# take to start (about a second each under qemu's emulation, where the rest of this script
# may have taken longer than d's first wait).
if wait_requests 1 0 30 "${servers_d[@]}" && wait_requests 1 "$(now)" 10 "${servers_d[@]}"; then
    waiting=$(requests_to "${servers_d[@]}" | awk 'END { print $1 }')
    answer=$(qv_drive --exe "$exe_d" answer query-end-session | tr -d '\r')
    [[ "$answer" =~ ^([0-9]+)\ 1$ ]] && ((BASH_REMATCH[1] < 1000)) ||
        fail "d: WM_QUERYENDSESSION during the wait: '$answer' (milliseconds and the answer)"
    timeout -k 5 20 wine taskkill /im "$exe_d" </dev/null >/dev/null 2>&1 || fail "d: taskkill failed"
    killed=$(now)
    ends_with_zero d "$pid_d" "taskkill during a wait" 1
    list_unchanged d
    # The close request came while that request waited (its timeout is 5 s) ...
    awk -v k="$killed" -v w="$waiting" 'BEGIN { exit !(k < w + 5) }' ||
        fail "d: taskkill returned $(awk -v k="$killed" -v w="$waiting" 'BEGIN { printf "%.2f", k - w }') s" \
            "after the request it was to come during, not within its 5 s wait"
    # ... and that request was the last: nothing is sent once the end is asked for.
    after=$(requests_to "${servers_d[@]}" | awk -v w="$waiting" '$1 > w')
    [[ -z "$after" ]] || fail "d: echo requests after taskkill: $(show <<<"$after" 2>&1)"
else
    fail "d: no echo request to ${servers_d[0]}"
fi

# Round robin from the first server, one tick every delay.
wait_requests 4 0 25 "${servers_a[@]}"
check_sequence "round robin" "127.0.0.1 127.0.0.2 127.0.0.3 127.0.0.1" "2.5-4.5 2.5-4.5 2.5-4.5" \
    < <(requests_to "${servers_a[@]}")

# In the tray no control has the focus: a focused edit's caret would keep the program awake.
no_focus() {
    local focus
    focus=$(qv_drive --exe "$exe_a" focus 2>/dev/null | tr -d "\r") &&
        fail "control '$focus' of the hidden dialog has the focus $1"
}
no_focus "from start-up on"

# A tray click opens the dialog and stops the cycle; OK with a new delay saves and goes on.
if qv_drive --exe "$exe_a" tray-click && qv_drive --exe "$exe_a" wait-visible; then
    opened=$(now)
    # The handler that shows the dialog may still be filling it in.
    for _ in $(seq 10); do
        focus=$(qv_drive --exe "$exe_a" focus | tr -d "\r")
        delay=$(qv_drive --exe "$exe_a" get-text 1000 | tr -d "\r")
        selection=$(qv_drive --exe "$exe_a" selection 1000 | tr -d "\r")
        [[ "$focus" == 1000 && "$delay" == 3 && "$selection" == "0 1 1" ]] && break
        sleep 0.1
    done
    [[ "$focus" == 1000 ]] || fail "the dialog opened with the focus on control '$focus', not the Delay edit"
    [[ "$delay" == 3 ]] || fail "the dialog shows delay '$delay', not the file's 3"
    [[ "$selection" == "0 1 1" ]] ||
        fail "the Delay edit's text is not selected whole: '$selection' (start, end, length)"
    # Longer than a tick, so a cycle still running would show on the wire.
    sleep 4
    closing=$(now)
    # When OK's click returned, its handler done: the new delay counts from there.
    qv_drive --exe "$exe_a" set-text 1000 4 &&
        clicked=$(qv_drive --exe "$exe_a" --time click 1 | tr -d '\r') || fail "could not click OK"
    qv_drive --exe "$exe_a" wait-hidden || fail "the dialog stayed open after OK"
    no_focus "after OK"
    open_requests=$(requests_to "${servers_a[@]}" | awk -v a="$opened" -v b="$closing" '$1 > a && $1 < b')
    if [[ -n "$open_requests" ]]; then
        fail "echo requests went out while the dialog was open:"
        show <<<"$open_requests"
    fi
    printf '4\r\n0\r\n1\r\n127.0.0.1\r\n127.0.0.2\r\n127.0.0.3\r\n' >"$tmp/expected.lst"
    if ! cmp -s "$tmp/expected.lst" "$tmp/a/Quorvane.Lst"; then
        fail "OK left the list file as:"
        od -c "$tmp/a/Quorvane.Lst" >&2
    fi
    # The cycle goes on with the new delay, round robin.
    wait_requests 2 "$closing" 15 "${servers_a[@]}"
    after_ok=$(requests_to "${servers_a[@]}" | awk -v t="$closing" '$1 > t' | head -2)
    if [[ -z "$after_ok" ]]; then
        fail "no echo request in 15 s after OK: the cycle did not go on"
    else
        first=$(awk 'NR == 1 { print $2 }' <<<"$after_ok")
        case $first in
            127.0.0.1) successor=127.0.0.2 ;; 127.0.0.2) successor=127.0.0.3 ;; *) successor=127.0.0.1 ;;
        esac
        check_sequence "the cycle after OK" "$first $successor" "3.5-5.5" <<<"$after_ok"
        gap=$(awk -v t="${clicked:-$closing}" 'NR == 1 { printf "%.2f", $1 - t }' <<<"$after_ok")
        awk -v g="$gap" 'BEGIN { exit !(g < 5.5) }' ||
            fail "the first echo request after OK came $gap s after it"
    fi
else
    fail "a tray click did not show the dialog"
fi

# Exit ends the program at once with exit code 0.
exit_by_dialog a "$exe_a" "$pid_a"

# A silent server: three tries one timeout apart, then the next tick goes to the next server.
wait_requests 5 0 40 "${servers_b[@]}"
check_sequence "silent server" \
    "127.0.0.11 127.0.0.12 127.0.0.12 127.0.0.12 127.0.0.13" "2.5-4.5 4.5-6.0 4.5-6.0 7.0-9.5" \
    < <(requests_to "${servers_b[@]}")
exit_by_dialog b "$exe_b" "$pid_b"
reap "$pid_scenario_e" || status=1
ends_with_zero e "$pid_e" "Exit"

# f, alone: the end of the session reaches every program of it. wineboot's own run counts
# apart: measured first with no program of ours left to end (about 0.15 s natively, 1 to 1.5 s
# under qemu's emulation, most of it its start), it is added to the second f has to end in.
boot_start=$(now)
timeout -k 5 60 wineboot --end-session </dev/null >/dev/null 2>&1
boot_cost=$(awk -v s="$boot_start" -v e="$(now)" 'BEGIN { printf "%.2f", e - s }')
echo "wine_endtoend: wineboot --end-session takes $boot_cost s here"
f_start=$(now)
start_instance f '3\r\n1\r\n0\r\n127.0.0.41\r\n127.0.0.42\r\n127.0.0.43\r\n'
if qv_drive --exe quorvane-f.exe wait && wait_requests 1 "$f_start" 20 "${servers_f[@]}"; then
    sleep 1
    waiting=$(requests_to "${servers_f[@]}" | awk 'END { print $1 }')
    timeout -k 5 60 wineboot --end-session </dev/null >/dev/null 2>&1 &
    pid_boot=$!
    pids+=("$pid_boot")
    ends_with_zero f "$pid_f" "wineboot --end-session during a wait (which takes $boot_cost s itself)" \
        "$(awk -v c="$boot_cost" 'BEGIN { print 1 + c }')"
    ended=$(now)
    list_unchanged f
    reap "$pid_boot"
    # During the wait (its timeout is 5 s), and that request was the last.
    awk -v e="$ended" -v w="$waiting" 'BEGIN { exit !(e < w + 5) }' ||
        fail "f: ended $(awk -v e="$ended" -v w="$waiting" 'BEGIN { printf "%.2f", e - w }') s" \
            "after the request under way, not within its 5 s wait"
    after=$(requests_to "${servers_f[@]}" | awk -v w="$waiting" '$1 > w')
    [[ -z "$after" ]] || fail "f: echo requests after the end of the session: $(show <<<"$after" 2>&1)"
else
    fail "f: no dialog or no echo request to ${servers_f[0]}"
fi

check_format "what goes on the wire" 254 "$payload" "${servers_a[@]}" "${servers_b[@]}"

if ((status == 0)); then
    echo "wine_endtoend: all checks passed"
fi
exit $status
