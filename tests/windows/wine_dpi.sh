#!/usr/bin/env bash
# Usage: tests/windows/wine_dpi.sh QUORVANE_EXE TEST_WIN32SHELL_EXE QVDRIVER_EXE
# The program at 96, 144 and 192 dpi, the session's own prefix set to each scale as a user sets
# it (Control Panel\Desktop LogPixels, where winecfg writes it; each Wine process reads it as it
# starts, so no new server is needed), and given back its scale at the end:
# - the real program's window icon as the window manager gets it (Wine puts the window's icons
#   on its X window as _NET_WM_ICON): 32, 48 and 64 pixels;
# - at 144 and 192 dpi, test_win32shell's case at the screen's scale (the suite runs it at 96):
#   the real program's tray picture, the icons after WM_DPICHANGED, the About box's lines.
set -uo pipefail
quorvane=$(readlink -f "$1")
test_exe=$(readlink -f "$2")
driver=$(readlink -f "$3")
source "$(dirname "$(readlink -f "$0")")/../harness/harness.sh"
qv_require_session wine_dpi

qv_start_script
qv_drive_with "$driver" 30
key='HKCU\Control Panel\Desktop'
set_dpi() {
    timeout 60 wine reg add "$key" /v LogPixels /t REG_DWORD /d "$1" /f </dev/null >/dev/null 2>&1
}
before=$(timeout 60 wine reg query "$key" /v LogPixels </dev/null 2>/dev/null |
    awk '/LogPixels/ { print $3 }' | tr -d '\r')
[[ -n "$before" ]] && before=$((before))
qv_on_exit() {
    if [[ -n "$before" ]]; then
        set_dpi "$before"
    else
        timeout 60 wine reg delete "$key" /v LogPixels /f </dev/null >/dev/null 2>&1
    fi
}

# The sizes of the icons on the program's X window (its dialog's: the one that has icons), as
# "W x H" a line each.
window_icons() {
    local id
    for id in $(xwininfo -root -tree | awk -v exe="\"$1\"" 'index($0, exe) { print $1 }'); do
        xprop -id "$id" _NET_WM_ICON 2>/dev/null | grep -oE 'Icon \([0-9]+ x [0-9]+\)' |
            sed -E 's/Icon \((.*)\)/\1/' | grep . && return 0
    done
    return 1
}

for dpi in 96 144 192; do
    set_dpi "$dpi" || { fail "$dpi dpi: the prefix's scale could not be set"; continue; }
    echo "--- at $dpi dpi"
    exe=quorvane-$dpi.exe
    mkdir -p "$tmp/$dpi"
    cp "$quorvane" "$tmp/$dpi/$exe"
    printf '3600\r\n0\r\n0\r\n' >"$tmp/$dpi/Quorvane.Lst"
    (cd "$tmp/$dpi" && exec timeout -k 5 60 wine "$exe" </dev/null >/dev/null 2>&1) &
    pids+=($!)
    if qv_drive --exe "$exe" wait; then
        icon=$(window_icons "$exe" | head -1)
        size=$((32 * dpi / 96))
        echo "the program's window icon at $dpi dpi: ${icon:-none}"
        [[ "$icon" == "$size x $size" ]] ||
            fail "$dpi dpi: the window's icon is ${icon:-missing}, not $size pixels"
        qv_drive --exe "$exe" post-close || fail "$dpi dpi: could not close the program"
        reap "${pids[-1]}" || fail "$dpi dpi: the program did not end cleanly"
    else
        fail "$dpi dpi: the program's dialog never came"
    fi
    ((dpi == 96)) && continue
    timeout -k 5 120 wine "$test_exe" --test-case='at the screen*' </dev/null
    case $? in
        0) ;;
        77) skip "$dpi dpi: the case at the screen's scale cannot run here (it says why above)" ;;
        *) fail "$dpi dpi: the case at the screen's scale failed" ;;
    esac
done
qv_exit
