#!/usr/bin/env bash
# Usage: tests/package/wine_installer.sh QUORVANE_EXE SETUP_EXE PORTABLE_ZIP QVDRIVER_EXE
# The Windows installer in a throwaway Wine prefix of its own, inside the loopback-only
# namespace and the Wine session's display: a silent install, its files, shortcuts and
# uninstall entry; the program started as its shortcut starts it, pinging 127.0.0.1 and saving
# its list in the shortcut's working directory; a silent uninstall while it runs, which closes
# it and leaves nothing but the list, nor the Programs folder the install made. Then, driven as
# a user drives them: an upgrade over a custom folder while the program runs (it says it will
# close it, installs into that folder, keeps the Startup shortcut; its finish page's text fits
# and starts the program), a silent upgrade that keeps the Startup shortcut away, and an
# uninstall whose question on the list defaults to No. Then the portable zip's contents.
# QV_SCREENSHOTS=DIR keeps pictures of the finish page and the two questions there (PNG).
set -uo pipefail
quorvane=$(readlink -f "$1")
setup=$(readlink -f "$2")
portable=$(readlink -f "$3")
driver=$(readlink -f "$4")
source "$(dirname "$(readlink -f "$0")")/../harness/harness.sh"
qv_require_session wine_installer

qv_start_script
export WINEPREFIX=$tmp/prefix
qv_on_exit() { timeout 20 wineserver -k 2>/dev/null; }
w() { timeout -k 5 60 wine "$@" </dev/null; }
winvar() { w cmd /c echo "%$1%" 2>/dev/null | tr -d '\r'; }
unix() { winepath -u "$1" 2>/dev/null; }
same_path() { [[ "${1,,}" == "${2,,}" ]]; }
shot() {
    [[ -n "${QV_SCREENSHOTS:-}" ]] || return 0
    timeout 20 import -window root "$QV_SCREENSHOTS/$1.png" 2>/dev/null ||
        echo "wine_installer: no screenshot $1 (ImageMagick's import?)" >&2
}

timeout 180 wineboot -i </dev/null >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
timeout 20 wineserver -p </dev/null >/dev/null 2>&1
# Its desktop stays up between the programs of the test, as the session's does.
qv_hold_desktop

appdata=$(winvar APPDATA)
localappdata=$(winvar LOCALAPPDATA)
[[ -n "$appdata" && -n "$localappdata" ]] || { echo "FAIL: no user folders in the new prefix" >&2; exit 1; }
installdir="$localappdata\\Programs\\Quorvane"
workdir="$appdata\\Quorvane"
startmenu="$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\Quorvane.lnk"
startup="$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\Quorvane.lnk"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane'
programs=$(unix "$localappdata\\Programs")
# The install makes the Programs folder where there is none: the uninstall must remove it.
rmdir "$programs" 2>/dev/null
[[ -e "$programs" ]] && echo "wine_installer: $localappdata\\Programs is not empty: its removal goes unchecked" >&2
made_programs=$([[ -e "$programs" ]] || echo 1)

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
# Without it, the count of echo requests below fails.
qv_capture wine_installer 60 "$tmp/capture" "$tmp/capture.err" || status=1
work=$(unix "$workdir")
(cd "$work" && exec timeout -k 5 60 wine "$installdir\\quorvane.exe" </dev/null >"$tmp/program.log" 2>&1) &
program=$!
pids+=("$program")
qv_drive_with "$driver" 30
if qv_drive wait && qv_drive tray-click && qv_drive wait-visible; then
    qv_drive set-text 1000 3 && qv_drive set-text 1002 127.0.0.1 && qv_drive click 1004 &&
        qv_drive click 1 && qv_drive wait-hidden || fail "could not add 127.0.0.1 and press OK"
    printf '3\r\n0\r\n1\r\n127.0.0.1\r\n' >"$tmp/expected"
    cmp -s "$tmp/expected" "$work/Quorvane.Lst" ||
        fail "OK did not save the list in the working directory: $(od -c "$work/Quorvane.Lst" 2>&1 | head -3)"
    sleep 4  # one tick of the cycle
else
    fail "the installed program's dialog did not open: $(head -c 500 "$tmp/program.log")"
fi
requests=$(awk '$2 == "127.0.0.1" && $3 == 254' "$tmp/capture" | wc -l)
((requests >= 2)) || fail "only $requests echo requests with TTL 254 to 127.0.0.1 (Add, then the cycle)"

# --- Uninstall while it runs -----------------------------------------------------------------
w "$inst/uninstall.exe" /S >/dev/null 2>&1
# The uninstaller runs on from a copy of itself: done once the program and the folder are gone.
for _ in $(seq 200); do
    ! kill -0 "$program" 2>/dev/null && [[ ! -e "$inst" ]] && break
    sleep 0.1
done
ends_with_zero program "$program" "the uninstaller closed it" 0.1
[[ ! -e "$inst" ]] || fail "the uninstaller left $installdir: $(ls "$inst")"
for link in "$startmenu" "$startup"; do
    [[ ! -e "$(unix "$link")" ]] || fail "the uninstaller left $link"
done
timeout 60 wine reg query "$key" </dev/null >/dev/null 2>&1 && fail "the uninstall entry is still there"
left=$(cd "$work" 2>/dev/null && ls -A)
[[ "$left" == "Quorvane.Lst" ]] || fail "after a silent uninstall $workdir holds '$left', not the list alone"
[[ -n "$made_programs" && -e "$programs" ]] &&
    fail "the uninstaller left $localappdata\\Programs, which the install made: $(ls -A "$programs")"

# --- An upgrade over a custom folder, driven as a user drives it, while the program runs --------
# C:\custom is there before: only the folder below it is the installer's to remove.
custom='C:\custom\QuorvaneTest'
cust=$(unix "$custom")
mkdir -p "$(unix 'C:\custom')"
w "$setup" /S "/D=$custom" >/dev/null 2>&1 || fail "the silent install into $custom ended with $?"
[[ -f "$cust/quorvane.exe" && -f "$(unix "$startup")" ]] ||
    fail "the silent install into $custom left no program there or no Startup shortcut"
(cd "$work" && exec timeout -k 5 120 wine "$custom\\quorvane.exe" </dev/null >"$tmp/program2.log" 2>&1) &
program=$!
pids+=("$program")
qv_drive wait || fail "the program in $custom did not start: $(head -c 500 "$tmp/program2.log")"
timeout -k 5 180 wine "$setup" </dev/null >/dev/null 2>&1 &
pids+=("$!")
wizard() { qv_drive --caption "Quorvane Setup*" "$@"; }
page() { wizard --text "$1" wait && wizard wait-enabled 1; }
# Welcome, licence, components: the defaults; then the folder is the installation's own.
for step in "Click Next to continue" "I Agree" "Check the components" "Destination Folder"; do
    if ! page "$step"; then
        fail "the upgrade's wizard did not reach the page showing '$step': $(wizard controls | tr '\r\n' '  ')"
        break
    fi
    if [[ "$step" == "Destination Folder" ]]; then
        wizard controls | tr -d '\r' | grep -qiF "$custom" ||
            fail "the upgrade offers another folder than $custom: $(wizard controls | tr '\r\n' '  ')"
    fi
    wizard click 1 || fail "could not go past the page showing '$step'"
done
box=(--caption "Quorvane Setup" --text "will be closed")
if qv_drive "${box[@]}" wait; then
    shot upgrade-question
    kill -0 "$program" 2>/dev/null || fail "the program was closed before the user said OK"
    qv_drive "${box[@]}" click 1 || fail "could not answer OK"
else
    fail "the upgrade did not say that it closes the running program"
fi
ends_with_zero program "$program" "the upgrade closed it" 10
if page "Quorvane is installed"; then
    shot finish-page
    measure=$(wizard fits "Your settings are kept" | tr -d '\r') ||
        fail "the finish page's text is cut off: it needs and has (pixels) ${measure:-?}"
    # Finish, with "Start Quorvane now" ticked as it is by default.
    wizard click 1 || fail "could not click Finish"
    qv_drive wait || fail "Finish did not start the program"
else
    fail "the upgrade did not finish: $(wizard controls | tr '\r\n' '  ')"
fi
[[ -f "$cust/quorvane.exe" && -f "$cust/uninstall.exe" ]] || fail "the upgrade left no program in $custom"
[[ ! -e "$inst" ]] || fail "the upgrade installed a second copy into $installdir"
entry=$(timeout 60 wine reg query "$key" /v InstallLocation </dev/null 2>/dev/null | tr -d '\r')
grep -qiF "$custom" <<<"$entry" || fail "after the upgrade the uninstall entry says: $entry"
for link in "$startmenu" "$startup"; do
    mapfile -t read < <(w "$driver" shortcut "$link" 2>&1 | tr -d '\r')
    same_path "${read[0]:-}" "$custom\\quorvane.exe" || fail "after the upgrade $link starts '${read[*]}'"
done

# --- A silent upgrade where the user has turned the Startup shortcut off ----------------------
rm -f "$(unix "$startup")"
w "$setup" /S >/dev/null 2>&1 || fail "the silent upgrade ended with $?"
qv_drive wait-gone || fail "the silent upgrade left the program running"
[[ -e "$(unix "$startup")" ]] && fail "the silent upgrade put back the Startup shortcut the user had removed"
[[ -f "$(unix "$startmenu")" ]] || fail "the silent upgrade removed the Start-menu shortcut"
cmp -s "$cust/quorvane.exe" "$quorvane" || fail "the silent upgrade did not go into $custom"
[[ ! -e "$inst" ]] || fail "the silent upgrade installed a second copy into $installdir"

# --- Uninstall, driven: the question on the list defaults to No -----------------------------
timeout -k 5 120 wine "$cust/uninstall.exe" </dev/null >/dev/null 2>&1 &
pids+=("$!")
unwizard() { qv_drive --caption "Quorvane Uninstall*" "$@"; }
box=(--caption "Quorvane Uninstall" --text "Remove your server list")
if unwizard --text "will be uninstalled" wait && unwizard wait-enabled 1 && unwizard click 1 &&
    qv_drive "${box[@]}" wait; then
    shot uninstall-question
    default=$(qv_drive "${box[@]}" default-button | tr -d '\r')
    [[ "$default" == "7 No" ]] || fail "the question on the list defaults to '$default', not No"
    qv_drive "${box[@]}" click 7 || fail "could not answer No"
    unwizard --text "Completed" wait && unwizard wait-enabled 1 && unwizard click 1 ||
        fail "the uninstaller did not complete: $(unwizard controls | tr '\r\n' '  ')"
else
    fail "the uninstaller did not ask about the list: $(unwizard controls | tr '\r\n' '  ')"
fi
for _ in $(seq 100); do [[ ! -e "$cust" ]] && break; sleep 0.1; done
cmp -s "$tmp/expected" "$work/Quorvane.Lst" || fail "answering No did not keep the list"
[[ ! -e "$cust" ]] || fail "the uninstaller left $custom: $(ls -A "$cust")"
[[ -d "$(unix 'C:\custom')" ]] || fail "the uninstaller removed C:\\custom, which was there before"
timeout 60 wine reg query "$key" </dev/null >/dev/null 2>&1 && fail "the uninstall entry is still there"

# --- The portable zip ------------------------------------------------------------------------
contents=$(cmake -E tar tf "$portable" 2>&1 | grep -v '/$' | LC_ALL=C sort | tr '\n' ' ')
[[ "$contents" == "quorvane-1.0.1/LICENSE.txt quorvane-1.0.1/quorvane.exe quorvane-1.0.1/readme.txt " ]] ||
    fail "the portable zip holds: $contents"

((status == 0)) && echo "wine_installer: all checks passed"
exit $status
