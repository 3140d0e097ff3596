#!/usr/bin/env bash
# Usage: tests/windows/wine_dpi.sh QUORVANE_EXE TEST_WIN32SHELL_EXE
# The program at 144 and 192 dpi (test_win32shell runs the same case at the prefix's 96): the
# session's own prefix set to each scale as a user sets it (Control Panel\Desktop LogPixels,
# where winecfg writes it; each Wine process reads it as it starts, so no new server is
# needed), the case at the screen's scale run there, and the prefix given back its scale.
set -uo pipefail
test_exe=$(readlink -f "$2")
source "$(dirname "$(readlink -f "$0")")/../harness/harness.sh"
qv_require_session wine_dpi

qv_start_script
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

for dpi in 144 192; do
    set_dpi "$dpi" || { fail "$dpi dpi: the prefix's scale could not be set"; continue; }
    echo "--- at $dpi dpi"
    timeout -k 5 120 wine "$test_exe" --test-case='at the screen*' </dev/null
    case $? in
        0) ;;
        77) skip "$dpi dpi: the case at the screen's scale cannot run here (it says why above)" ;;
        *) fail "$dpi dpi: the case at the screen's scale failed" ;;
    esac
done
qv_exit
