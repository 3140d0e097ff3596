#!/usr/bin/env bash
# Usage: tests/windows/wine_lists.sh QUORVANE_EXE QVDRIVER_EXE QVHOLDFILE_EXE
# The real Windows program under Wine and its list file, watched on lo and driven through its
# dialog by qvdriver as a user would. Runs only inside the Wine session started in the
# loopback-only namespace (scripts/in-netns.sh scripts/wine-session.sh ...).
#   l: the list held open with no sharing by another program at start-up: one box names the
#      file and the cause, and the program runs on.
#   s: the list held so while OK saves: the box, then the rest of OK (hidden, the cycle with
#      the new delay, the icon's clicks), the old file whole, no temporary file; once let go,
#      the next OK saves.
#   f: OK on a file system that is full: the temporary file is made but cannot be written;
#      the box, then the rest of OK, the old file whole, the temporary file gone.
#   i, j: a second start in i's folder opens i's dialog and ends with 0; j's folder runs beside
#      it; after i is killed, the next start in its folder runs.
set -uo pipefail

if (($# != 3)); then
    echo "usage: $0 QUORVANE_EXE QVDRIVER_EXE QVHOLDFILE_EXE" >&2
    exit 2
fi
quorvane=$(readlink -f "$1")
driver=$(readlink -f "$2")
holder=$(readlink -f "$3")
source "$(dirname "$(readlink -f "$0")")/../harness/harness.sh"
qv_require_session wine_lists
for tool in wine winepath; do
    command -v "$tool" >/dev/null || { echo "wine_lists: $tool is missing" >&2; exit 1; }
done

qv_start_script
qv_on_exit() {
    touch "$tmp"/release-* 2>/dev/null
    mountpoint -q "$tmp/f" && umount -l "$tmp/f"
}
now() { date +%s.%N; }
qv_drive_with "$driver" 30

qv_capture wine_lists 170 "$tmp/capture" "$tmp/capture.err" || exit 1

# Echo requests to ADDRESS seen after time AFTER, one time a line.
requests_to() {
    awk -v a="$1" -v t="$2" '$2 == a && $1 > t { print $1 }' "$tmp/capture"
}
# Waits up to SECONDS for a request to ADDRESS after time AFTER.
wait_request() {
    local deadline=$(($(date +%s) + $3))
    while (($(date +%s) < deadline)); do
        [[ -n "$(requests_to "$1" "$2")" ]] && return 0
        sleep 0.2
    done
    return 1
}

# Starts quorvane-NAME.exe in the folder DIR (made, with the list LIST when given); sets
# pid_NAME.
start() {
    local name=$1 dir=$2 list=${3:-}
    mkdir -p "$tmp/$dir"
    [[ -n "$list" ]] && printf "$list" >"$tmp/$dir/Quorvane.Lst"
    cp "$quorvane" "$tmp/$dir/quorvane-$name.exe"
    (cd "$tmp/$dir" && exec timeout -k 5 150 wine "quorvane-$name.exe" </dev/null \
        >"$tmp/$name.log" 2>&1) &
    printf -v "pid_$name" %s "$!"
    pids+=("$!")
}
# Holds FILE open with no sharing until release NAME; true once it holds it.
hold() {
    local file=$1 name=$2
    (exec timeout -k 5 150 wine "$holder" "$(winepath -w "$file")" "$(winepath -w "$tmp/release-$name")" \
        </dev/null >"$tmp/hold-$name.log" 2>&1) &
    pids+=("$!")
    for _ in $(seq 200); do
        grep -qs held "$tmp/hold-$name.log" && return 0
        sleep 0.05
    done
    return 1
}
release() {
    touch "$tmp/release-$1"
    sleep 0.3
}
exit_by_dialog() {
    qv_drive --exe "quorvane-$1.exe" tray-click && qv_drive --exe "quorvane-$1.exe" wait-visible &&
        qv_drive --exe "quorvane-$1.exe" click 2 || { fail "$1: could not click Exit"; return; }
    ends_with_zero "$1" "$2" Exit
}
# The file-error box of quorvane-NAME.exe: its text, once shown.
box_text() {
    local box=(--exe "quorvane-$1.exe" --caption "quorvane-$1")
    qv_drive "${box[@]}" wait >/dev/null && qv_drive "${box[@]}" wait-visible >/dev/null &&
        qv_drive "${box[@]}" get-text 65535 | tr -d "\r"
}
close_box() { qv_drive --exe "quorvane-$1.exe" --caption "quorvane-$1" click 1; }

hour_list='3600\r\n0\r\n0\r\n127.0.0.51\r\n'

# --- l: held at start-up -------------------------------------------------------------------
mkdir "$tmp/l"
printf "$hour_list" >"$tmp/l/Quorvane.Lst"
hold "$tmp/l/Quorvane.Lst" l || fail "l: the list could not be held: $(cat "$tmp/hold-l.log")"
start l l
list_l=$(winepath -w "$tmp/l/Quorvane.Lst")
text=$(box_text l)
echo "l: held at start-up: '$text'"
[[ "$text" == "A sharing violation occurred while accessing $list_l." ]] ||
    fail "l: the box at start-up says '$text'"
close_box l || fail "l: could not close the box"
qv_drive --exe quorvane-l.exe --caption quorvane-l wait-hidden >/dev/null 2>&1
release l
sleep 1
kill -0 "$pid_l" 2>/dev/null || fail "l: the program ended after the box"
exit_by_dialog l "$pid_l"

# --- s: held while OK saves ----------------------------------------------------------------
start s s "$hour_list"
cp "$tmp/s/Quorvane.Lst" "$tmp/s.lst"
list_s=$(winepath -w "$tmp/s/Quorvane.Lst")
qv_drive --exe quorvane-s.exe wait || fail "s: no dialog"
hold "$tmp/s/Quorvane.Lst" s || fail "s: the list could not be held: $(cat "$tmp/hold-s.log")"
if qv_drive --exe quorvane-s.exe tray-click && qv_drive --exe quorvane-s.exe wait-visible; then
    # Posted: the click returns only once its box is closed.
    qv_drive --exe quorvane-s.exe set-text 1000 3 && qv_drive --exe quorvane-s.exe post-click 1 ||
        fail "s: could not click OK"
    text=$(box_text s)
    echo "s: held while OK saves: '$text'"
    [[ "$text" == *"$list_s"* ]] || fail "s: the box of the failed save says '$text'"
    closed=$(now)
    close_box s || fail "s: could not close the box"
    qv_drive --exe quorvane-s.exe wait-hidden || fail "s: the dialog stayed open after the box"
    if wait_request 127.0.0.51 "$closed" 8; then
        first=$(requests_to 127.0.0.51 "$closed" | head -1)
        echo "s: the first echo request $(awk -v a="$first" -v b="$closed" 'BEGIN { printf "%.2f", a - b }') s after the box closed"
    else
        fail "s: no echo request in 8 s after the failed save: the cycle did not go on"
    fi
    cmp -s "$tmp/s.lst" "$tmp/s/Quorvane.Lst" || fail "s: the failed save changed the list file"
    left=$(cd "$tmp/s" && ls -A | grep -v -x -e Quorvane.Lst -e quorvane-s.exe)
    [[ -z "$left" ]] || fail "s: the failed save left: $left"
    # The icon takes clicks again, and once the other program lets go the next OK saves.
    if qv_drive --exe quorvane-s.exe tray-click && qv_drive --exe quorvane-s.exe wait-visible; then
        release s
        qv_drive --exe quorvane-s.exe set-text 1000 4 && qv_drive --exe quorvane-s.exe click 1 ||
            fail "s: could not click OK again"
        qv_drive --exe quorvane-s.exe wait-hidden || fail "s: the dialog stayed open after OK"
        [[ "$(cat "$tmp/s/Quorvane.Lst")" == "$(printf '4\r\n0\r\n0\r\n127.0.0.51\r\n')" ]] ||
            fail "s: the next OK left the list as: $(od -c "$tmp/s/Quorvane.Lst" | head -3)"
    else
        fail "s: a tray click after the failed save did not show the dialog"
    fi
else
    fail "s: a tray click did not show the dialog"
fi
exit_by_dialog s "$pid_s"

# --- f: OK on a full file system -------------------------------------------------------------
mkdir "$tmp/f"
if mount -t tmpfs -o size=2m,mode=0755 qvfull "$tmp/f" 2>/dev/null; then
    start f f "$hour_list"
    cp "$tmp/f/Quorvane.Lst" "$tmp/f.lst"
    list_f=$(winepath -w "$tmp/f/Quorvane.Lst")
    qv_drive --exe quorvane-f.exe wait || fail "f: no dialog"
    # Every block taken; a new file can still be made, but nothing written to it.
    dd if=/dev/zero of="$tmp/f/filler" bs=4k 2>/dev/null
    if qv_drive --exe quorvane-f.exe tray-click && qv_drive --exe quorvane-f.exe wait-visible; then
        qv_drive --exe quorvane-f.exe set-text 1000 3 && qv_drive --exe quorvane-f.exe post-click 1 ||
            fail "f: could not click OK"
        text=$(box_text f)
        echo "f: OK on a full file system: '$text'"
        [[ "$text" == "Disk full while accessing $list_f." ]] ||
            fail "f: the box of the failed save says '$text'"
        closed=$(now)
        close_box f || fail "f: could not close the box"
        qv_drive --exe quorvane-f.exe wait-hidden || fail "f: the dialog stayed open after the box"
        wait_request 127.0.0.51 "$closed" 8 ||
            fail "f: no echo request in 8 s after the failed save: the cycle did not go on"
        cmp -s "$tmp/f.lst" "$tmp/f/Quorvane.Lst" || fail "f: the failed save changed the list file"
        left=$(cd "$tmp/f" && ls -A | grep -v -x -e Quorvane.Lst -e quorvane-f.exe -e filler)
        [[ -z "$left" ]] || fail "f: the failed save left: $left"
    else
        fail "f: a tray click did not show the dialog"
    fi
    rm -f "$tmp/f/filler"
    exit_by_dialog f "$pid_f"
else
    skip "f: no tmpfs could be mounted here (needs root in a mount namespace)"
fi

# --- i, j: one instance per folder ---------------------------------------------------------
start i i '3\r\n0\r\n0\r\n127.0.0.52\r\n'
qv_drive --exe quorvane-i.exe wait || fail "i: no dialog"
started=$(now)
start i2 i
ends_with_zero i2 "$pid_i2" "a second start in the same folder" 10 &&
    echo "i2: a second start in i's folder: exit code 0 after $(awk -v a="$(now)" -v b="$started" 'BEGIN { printf "%.2f", a - b }') s"
qv_drive --exe quorvane-i.exe wait-visible || fail "i: the second start did not open the first one's dialog"
qv_drive --exe quorvane-i.exe click 1 || fail "i: could not click OK"
start j j '3\r\n0\r\n0\r\n127.0.0.53\r\n'
since=$(now)
wait_request 127.0.0.53 "$since" 10 || fail "j: another folder does not cycle beside i"
wait_request 127.0.0.52 "$since" 10 || fail "i: no longer cycles"
kill -0 "$pid_j" 2>/dev/null || fail "j: ended"
# A holder killed leaves nothing that stops the next start in its folder.
timeout -k 5 20 wine taskkill /f /im quorvane-i.exe </dev/null >/dev/null 2>&1 || fail "i: taskkill /f failed"
wait "$pid_i" 2>/dev/null
start i3 i
qv_drive --exe quorvane-i3.exe wait || fail "i3: no dialog after the holder was killed"
since=$(now)
wait_request 127.0.0.52 "$since" 10 || fail "i3: does not cycle after the holder was killed"
exit_by_dialog i3 "$pid_i3"
exit_by_dialog j "$pid_j"

qv_exit
