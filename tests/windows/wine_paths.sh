#!/usr/bin/env bash
# Usage: tests/windows/wine_paths.sh QUORVANE_EXE QVDRIVER_EXE
# The real Windows program under Wine keeping its list file where a user's may be, driven
# through its dialog by qvdriver: a working directory named in Japanese and one in Greek
# (outside the ANSI code page), the longest one Wine takes (258 characters, as Windows without
# long paths switched on: the list's path is then past the system's 260), a list file that is a
# symbolic link, a read-only one, and a hidden one. Each case loads the list (the dialog shows
# its delay), saves a new delay with OK and checks the file on disk. Runs inside the Wine
# session started in the loopback-only namespace (scripts/in-netns.sh scripts/wine-session.sh).
set -uo pipefail

if (($# != 2)); then
    echo "usage: $0 QUORVANE_EXE QVDRIVER_EXE" >&2
    exit 2
fi
quorvane=$(readlink -f "$1")
driver=$(readlink -f "$2")
source "$(dirname "$(readlink -f "$0")")/../harness/harness.sh"
qv_require_session wine_paths

qv_start_script
pid=
qv_on_exit() {
    [[ -z "$pid" ]] || { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }
    chmod -R u+w "$tmp" 2>/dev/null
}
qv_drive_with "$driver" 30

# Delays of an hour: the cycle sends nothing while a case runs.
before='3600\r\n0\r\n1\r\n127.0.0.1\r\n'
after='3599\r\n0\r\n1\r\n127.0.0.1\r\n'
printf "$after" >"$tmp/after.lst"

# Starts the program as quorvane-NAME.exe with DIR as its working directory; true once its
# dialog exists.
start() {
    local name=$1 dir=$2
    cp "$quorvane" "$tmp/quorvane-$name.exe"
    (cd "$dir" && exec timeout -k 5 60 wine "$tmp/quorvane-$name.exe" </dev/null \
        >"$tmp/$name.log" 2>&1) &
    pid=$!
    qv_drive --exe "quorvane-$name.exe" wait && return 0
    fail "$name: its dialog never appeared (the driver's exit code $?)" \
        "$(qv_program_state "$name" "$pid")"
    stop "$name"
    return 1
}
# Exit from the dialog, and the program's end; a close request instead with "close" (after a
# failed save, which leaves the icon's clicks off).
stop() {
    local name=$1 exe=quorvane-$1.exe
    if kill -0 "$pid" 2>/dev/null && [[ "${2:-}" == close ]]; then
        qv_drive --exe "$exe" post-close || fail "$name: could not post the close request"
        for _ in $(seq 100); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
    elif kill -0 "$pid" 2>/dev/null; then
        if ! qv_drive --exe "$exe" visible; then
            qv_drive --exe "$exe" tray-click && qv_drive --exe "$exe" wait-visible
        fi
        qv_drive --exe "$exe" click 2 || fail "$name: could not click Exit"
        for _ in $(seq 100); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
    fi
    kill "$pid" 2>/dev/null && fail "$name: still running after Exit"
    wait "$pid" 2>/dev/null
    pid=
}
# Opens the dialog, checks it shows the delay the list file gave, and clicks OK with
# another one (posts the click when a box is to follow, which holds the click till it closes).
load_and_save() {
    local name=$1 exe=quorvane-$1.exe click=${2:-click}
    if ! qv_drive --exe "$exe" tray-click || ! qv_drive --exe "$exe" wait-visible; then
        fail "$name: a tray click did not show the dialog $(qv_program_state "$name" "$pid")"
        return 1
    fi
    qv_drive --exe "$exe" wait-text 1000 3600 ||
        fail "$name: the dialog does not show the list's delay: the list was not loaded"
    qv_drive --exe "$exe" set-text 1000 3599 && qv_drive --exe "$exe" "$click" 1 && return 0
    fail "$name: could not click OK; a box says:" \
        "'$(qv_drive --exe "$exe" --caption "quorvane-$name" get-text 65535 2>&1 | tr -d '\r')'"
    return 1
}
# Nothing but the list file (and what the case put there) is left in the directory.
only() {
    local name=$1 dir=$2 want=$3 seen
    seen=$(cd "$dir" && ls -A | sort | tr '\n' ' ')
    [[ "$seen" == "$want" ]] || fail "$name: the directory holds '$seen', not '$want'"
}

# --- Working directories the ANSI code page cannot name, and a long one ----------------------

# Wine's name for it is Z: and the Unix path: a longer one would start the program in
# C:\windows instead.
long=$tmp/long
while ((${#long} < 256)); do long+=/abcdefghijklmnopqrstuvwxyz0123456789; done
long=${long:0:256}
[[ "$long" != */ ]] || long=${long:0:255}x
for case in "jp:$tmp/日本語" "el:$tmp/Ελληνικά" "long:$long"; do
    name=${case%%:*} dir=${case#*:}
    mkdir -p "$dir"
    printf "$before" >"$dir/Quorvane.Lst"
    # Wine keeps a file's rights as its Unix permissions: a save keeps these, a private list's
    # and one others may read.
    mode=644
    [[ $name != el ]] || mode=600
    chmod "$mode" "$dir/Quorvane.Lst"
    start "$name" "$dir" || continue
    if load_and_save "$name"; then
        qv_drive --exe "quorvane-$name.exe" wait-hidden || fail "$name: the dialog stayed open after OK"
        cmp -s "$tmp/after.lst" "$dir/Quorvane.Lst" ||
            fail "$name: OK left the list file as: $(od -c "$dir/Quorvane.Lst" | head -3)"
        only "$name" "$dir" "Quorvane.Lst "
        # Wine's ReplaceFileW keeps the new file's rights rather than the old one's (Windows
        # keeps the old ones): the private ones it was written under, which Wine's Unix form
        # opens to the group for reading. What must hold anyway: the group gains no write, the
        # others nothing.
        now=$(stat -c %a "$dir/Quorvane.Lst")
        [[ "$now" == "$mode" ]] || note+=" $name: $mode to $now;"
        ((((8#$now & ~8#$mode) & 8#027) == 0)) ||
            fail "$name: the list's permissions went from $mode to $now"
    fi
    stop "$name"
done

# --- A list file that is a link ---------------------------------------------------------------

# A relative link, as a user keeps one list for several folders; Wine shows a Unix link
# beneath a drive as the file it leads to.
mkdir -p "$tmp/link/store"
printf "$before" >"$tmp/link/store/shared.lst"
ln -s store/shared.lst "$tmp/link/Quorvane.Lst"
if start link "$tmp/link"; then
    if load_and_save link; then
        qv_drive --exe quorvane-link.exe wait-hidden || fail "link: the dialog stayed open after OK"
        [[ -L "$tmp/link/Quorvane.Lst" && "$(readlink "$tmp/link/Quorvane.Lst")" == store/shared.lst ]] ||
            fail "link: the list file is no longer the link to store/shared.lst"
        cmp -s "$tmp/after.lst" "$tmp/link/store/shared.lst" ||
            fail "link: the file the link leads to holds: $(od -c "$tmp/link/store/shared.lst" | head -3)"
        only link "$tmp/link/store" "shared.lst "
    fi
    stop link
fi

# --- A read-only list file --------------------------------------------------------------------

# No write permission is what Wine shows as the read-only attribute.
mkdir "$tmp/ro"
printf "$before" >"$tmp/ro/Quorvane.Lst"
chmod a-w "$tmp/ro/Quorvane.Lst"
if start ro "$tmp/ro"; then
    if load_and_save ro post-click; then
        box=(--exe quorvane-ro.exe --caption quorvane-ro)
        if qv_drive "${box[@]}" wait && qv_drive "${box[@]}" wait-visible; then
            text=$(qv_drive "${box[@]}" get-text 65535 | tr -d '\r')
            want="Access to Z:${tmp//\//\\}\\ro\\Quorvane.Lst was denied."
            [[ "$text" == "$want" ]] || fail "ro: the box says '$text', not '$want'"
            qv_drive "${box[@]}" click 1 || fail "ro: could not close the box"
        else
            fail "ro: no box when the read-only list could not be saved"
        fi
        printf "$before" | cmp -s - "$tmp/ro/Quorvane.Lst" ||
            fail "ro: the read-only list changed: $(od -c "$tmp/ro/Quorvane.Lst" | head -3)"
        [[ ! -w "$tmp/ro/Quorvane.Lst" || $(id -u) == 0 ]] || fail "ro: the list is writable now"
        stat -c %A "$tmp/ro/Quorvane.Lst" | grep -q '^-r--r--r--$' ||
            fail "ro: the list's permissions are now $(stat -c %A "$tmp/ro/Quorvane.Lst")"
        only ro "$tmp/ro" "Quorvane.Lst "
    fi
    stop ro close
fi

# --- A hidden list file keeps its attribute ---------------------------------------------------

attributes() { (cd "$1" && timeout -k 5 20 wine cmd /c attrib Quorvane.Lst </dev/null | tr -d '\r'); }
mkdir "$tmp/hidden"
printf "$before" >"$tmp/hidden/Quorvane.Lst"
(cd "$tmp/hidden" && timeout -k 5 20 wine cmd /c attrib +h Quorvane.Lst </dev/null >/dev/null 2>&1)
if [[ "$(attributes "$tmp/hidden")" != *H*Quorvane.Lst* ]]; then
    skip "wine_paths: the hidden list: this file system keeps no attributes for Wine" \
        "($(attributes "$tmp/hidden"))"
elif start hidden "$tmp/hidden"; then
    if load_and_save hidden; then
        qv_drive --exe quorvane-hidden.exe wait-hidden || fail "hidden: the dialog stayed open after OK"
        cmp -s "$tmp/after.lst" "$tmp/hidden/Quorvane.Lst" || fail "hidden: OK did not save the list"
        seen=$(attributes "$tmp/hidden")
        [[ "$seen" == *A*H*Quorvane.Lst* ]] ||
            fail "hidden: after the save the list's attributes read '$seen', not archive and hidden"
    fi
    stop hidden
fi

[[ -z "${note:-}" ]] || echo "wine_paths: note: Wine did not carry the list's permissions over:$note"
if ((status == 0 && !skipped)); then
    echo "wine_paths: all checks passed"
fi
qv_exit
