#!/usr/bin/env bash
# Usage: tests/wine_installer.sh SETUP_EXE PORTABLE_ZIP QUORVANE_EXE QVDRIVER_EXE
# The Windows installer in a throwaway Wine prefix of its own, inside the loopback-only
# namespace and the Wine session's display: a silent install, its files, shortcuts and
# uninstall entry; the program started as its shortcut starts it, pinging 127.0.0.1 and saving
# its list in the shortcut's working directory; a silent uninstall while it runs, which closes
# it and leaves nothing but the list. Then the portable zip's contents.
set -uo pipefail
setup=$(readlink -f "$1")
portable=$(readlink -f "$2")
quorvane=$(readlink -f "$3")
driver=$(readlink -f "$4")
source "$(dirname "$(readlink -f "$0")")/win32/session.sh"
qv_require_session wine_installer

qv_start_script
export WINEPREFIX=$tmp/prefix
qv_on_exit() { timeout 20 wineserver -k 2>/dev/null; }
w() { timeout -k 5 60 wine "$@" </dev/null; }
winvar() { w cmd /c echo "%$1%" 2>/dev/null | tr -d '\r'; }
unix() { winepath -u "$1" 2>/dev/null; }
same_path() { [[ "${1,,}" == "${2,,}" ]]; }

timeout 180 wineboot -i </dev/null >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
timeout 20 wineserver -p </dev/null >/dev/null 2>&1

appdata=$(winvar APPDATA)
localappdata=$(winvar LOCALAPPDATA)
[[ -n "$appdata" && -n "$localappdata" ]] || { echo "FAIL: no user folders in the new prefix" >&2; exit 1; }
installdir="$localappdata\\Programs\\Quorvane"
workdir="$appdata\\Quorvane"
startmenu="$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\Quorvane.lnk"
startup="$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\Quorvane.lnk"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane'

# --- Install ---------------------------------------------------------------------------------
w "$setup" /S >/dev/null 2>&1 || fail "the silent install ended with $?"
inst=$(unix "$installdir")
for file in quorvane.exe LICENSE.txt uninstall.exe; do
    [[ -f "$inst/$file" ]] || fail "no $file in $installdir"
done
cmp -s "$inst/quorvane.exe" "$quorvane" || fail "the installed quorvane.exe is not the one built"
for link in "$startmenu" "$startup"; do
    if [[ ! -f "$(unix "$link")" ]]; then
        fail "no shortcut $link"
        continue
    fi
    mapfile -t read < <(w "$driver" shortcut "$link" | tr -d '\r')
    same_path "${read[0]:-}" "$installdir\\quorvane.exe" || fail "$link starts '${read[0]:-}'"
    same_path "${read[1]:-}" "$workdir" || fail "$link starts in '${read[1]:-}', not $workdir"
done
[[ -d "$(unix "$workdir")" ]] || fail "the installer did not make $workdir"
entry=$(timeout 60 wine reg query "$key" </dev/null 2>/dev/null | tr -d '\r')
for value in "DisplayName.*Quorvane" "DisplayVersion.*1\.0\.1" "UninstallString.*uninstall\.exe" \
    "Publisher.*Harrowbecks"; do
    grep -qE "$value" <<<"$entry" || fail "the uninstall entry lacks $value: $entry"
done
timeout 60 wine reg query 'HKCU\Software\Quorvane' </dev/null >/dev/null 2>&1 &&
    fail "the installer wrote settings of its own to the registry"

# --- The program as its shortcut starts it -------------------------------------------------
timeout -k 5 60 tcpdump -i lo -n -v -l 'icmp[icmptype] == icmp-echo and dst host 127.0.0.1' \
    >"$tmp/capture" 2>"$tmp/tcpdump.err" &
pids+=("$!")
for _ in $(seq 100); do grep -q "listening on" "$tmp/tcpdump.err" && break; sleep 0.1; done
work=$(unix "$workdir")
(cd "$work" && exec timeout -k 5 60 wine "$installdir\\quorvane.exe" </dev/null >"$tmp/program.log" 2>&1) &
program=$!
pids+=("$program")
drive() { timeout -k 5 30 wine "$driver" "$@" </dev/null; }
if drive wait && drive tray-click && drive wait-visible; then
    drive set-text 1000 3 && drive set-text 1002 127.0.0.1 && drive click 1004 &&
        drive click 1 && drive wait-hidden || fail "could not add 127.0.0.1 and press OK"
    printf '3\r\n0\r\n1\r\n127.0.0.1\r\n' >"$tmp/expected"
    cmp -s "$tmp/expected" "$work/Quorvane.Lst" ||
        fail "OK did not save the list in the working directory: $(od -c "$work/Quorvane.Lst" 2>&1 | head -3)"
    sleep 4  # one tick of the cycle
else
    fail "the installed program's dialog did not open: $(head -c 500 "$tmp/program.log")"
fi
requests=$(grep -c "ttl 254," "$tmp/capture")
((requests >= 2)) || fail "only $requests echo requests with TTL 254 to 127.0.0.1 (Add, then the cycle)"

# --- Uninstall while it runs -----------------------------------------------------------------
w "$inst/uninstall.exe" /S >/dev/null 2>&1
# The uninstaller runs on from a copy of itself: done once the program and the folder are gone.
for _ in $(seq 200); do
    ! kill -0 "$program" 2>/dev/null && [[ ! -e "$inst" ]] && break
    sleep 0.1
done
if kill -0 "$program" 2>/dev/null; then
    fail "the uninstaller left the program running"
else
    wait "$program"
    code=$?
    ((code == 0)) || fail "the program closed by the uninstaller ended with $code, not 0"
fi
[[ ! -e "$inst" ]] || fail "the uninstaller left $installdir: $(ls "$inst")"
for link in "$startmenu" "$startup"; do
    [[ ! -e "$(unix "$link")" ]] || fail "the uninstaller left $link"
done
timeout 60 wine reg query "$key" </dev/null >/dev/null 2>&1 && fail "the uninstall entry is still there"
left=$(cd "$work" 2>/dev/null && ls -A)
[[ "$left" == "Quorvane.Lst" ]] || fail "after a silent uninstall $workdir holds '$left', not the list alone"

# --- The portable zip ------------------------------------------------------------------------
contents=$(cmake -E tar tf "$portable" 2>&1 | grep -v '/$' | LC_ALL=C sort | tr '\n' ' ')
[[ "$contents" == "quorvane-1.0.1/LICENSE.txt quorvane-1.0.1/quorvane.exe quorvane-1.0.1/readme.txt " ]] ||
    fail "the portable zip holds: $contents"

((status == 0)) && echo "wine_installer: all checks passed"
exit $status
