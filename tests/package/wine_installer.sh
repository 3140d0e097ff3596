#!/usr/bin/env bash
# Usage: tests/package/wine_installer.sh QUORVANE_EXE SETUP_EXE PORTABLE_ZIP QVDRIVER_EXE
# The Windows installer in a throwaway Wine prefix of its own, inside the loopback-only
# namespace and the Wine session's display: a silent install, its files, shortcuts and
# uninstall entry; the program started as its shortcut starts it, pinging 127.0.0.1 and saving
# its list in the shortcut's working directory; a silent uninstall while it runs, which closes
# it and leaves nothing but the list, nor the Programs folder the install made.
# Then the copies a user may have running: the installed program started from two folders and
# a portable copy, each pinging its own loopback address from its own list. An install over
# them, driven as a user drives it and then silent, closes exactly the two installed ones (the
# question says how many, and Cancel leaves them all running), starts each again in the
# folder it ran in (its list's address is pinged again), leaves the portable one alone and
# says so on the finish page; a silent uninstall closes the installed ones only.
# Then an install into a folder where a portable copy runs (the question says "installed"),
# driven upgrades over it at 96, 144 and 192 dpi (it says "updated", goes into that folder,
# keeps the Startup shortcut), a silent upgrade that keeps the Startup shortcut away, and an
# uninstall whose question on the list defaults to No. Every page of the installer and the
# uninstaller is measured: no text is cut off. Then the portable zip's contents.
# QV_SCREENSHOTS=DIR keeps pictures of every page and question there (PNG).
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

# --- The wizard, driven as a user drives it ------------------------------------------------
wizard() { qv_drive --caption "Quorvane Setup*" "$@"; }
page() { wizard --text "$1" wait && wizard wait-enabled 1; }
# Every text of the page showing TEXT fits its control; the page photographed as NAME.
measure() {
    local out
    shot "$2"
    out=$(qv_drive --caption "$3*" --text "$1" fits-all 2>&1 | tr -d '\r') ||
        fail "$2: a text of the page is cut off: $(tr '\n' ' ' <<<"$out")"
}
# Walks the install wizard from its welcome page to the folder page (photographs NAME-*):
# its texts and that each page's texts fit. Stops on the folder page with Next to click.
to_folder_page() {
    local name=$1 step i=0 pages=(welcome licence components folder)
    for step in "Setup installs it for you alone" "there is nothing to accept" \
        "always installed" "Destination Folder"; do
        if ! page "$step"; then
            fail "$name: the wizard did not reach the page showing '$step': $(wizard controls | tr '\r\n' '  ')"
            return 1
        fi
        measure "$step" "$name-${pages[i]}" "Quorvane Setup"
        [[ "$step" == "Destination Folder" ]] && return 0
        wizard click 1 || { fail "$name: could not go past the page showing '$step'"; return 1; }
        i=$((i + 1))
    done
}
# The question before copies are closed, with its text; answers it with button ID (1 OK).
question=(--caption "Quorvane Setup" --text "will be closed now")
answer_question() {
    local name=$1 id=$2 text
    if ! qv_drive "${question[@]}" wait; then
        fail "$name: no question before closing the running copies"
        return 1
    fi
    shot "$name-question"
    text=$(qv_drive "${question[@]}" controls | tr -d '\r' | tr '\n' ' ')
    for want in "${@:3}"; do
        grep -qF -- "$want" <<<"$text" || fail "$name: the question does not say '$want': $text"
    done
    qv_drive "${question[@]}" click "$id" || fail "$name: could not answer the question with $id"
}
# The finish page: its texts fit and say WANT...; Finish clicked as it stands.
finish_page() {
    local name=$1 text
    if ! page "Quorvane runs in the notification area"; then
        fail "$name: the wizard did not finish: $(wizard controls | tr '\r\n' '  ')"
        return 1
    fi
    measure "Quorvane runs in the notification area" "$name-finish" "Quorvane Setup"
    text=$(wizard controls | tr -d '\r' | tr '\n' ' ')
    for want in "${@:2}"; do
        grep -qF -- "$want" <<<"$text" || fail "$name: the finish page does not say '$want': $text"
    done
    wizard click 1 || fail "$name: could not click Finish"
}
# The process ids of the copies whose image is the file, a line each, sorted.
copies() { qv_drive --exe "$1" processes 2>/dev/null | tr -d '\r' | sort; }
# Waits up to 60 s until N copies of the file run, none of them one of BEFORE (a program
# started again takes a while to show its window): $after holds them, as copies gives them.
started_again() {
    local _
    for _ in $(seq 120); do
        after=$(copies "$1")
        [[ $(grep -c . <<<"$after") == "$2" && -z "$(comm -12 <(echo "$3") <(echo "$after"))" ]] &&
            return 0
        sleep 0.5
    done
    return 1
}
# Waits up to 30 s until the capture shows an echo request to each address sent after TIME:
# the program that pings it runs (its list is the one in its folder).
pinged_after() {
    local time=$1 address _
    for address in "${@:2}"; do
        for _ in $(seq 300); do
            awk -v t="$time" -v a="$address" '$1 > t && $2 == a { found = 1 } END { exit !found }' \
                "$tmp/copies" && continue 2
            sleep 0.1
        done
        return 1
    done
}
set_dpi() {
    timeout 60 wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
        </dev/null >/dev/null 2>&1 || fail "the prefix's scale could not be set to $1 dpi"
}

# --- The copies a user may have running --------------------------------------------------
# The installed program started from its shortcut's folder and from another, and a portable
# copy from its own: each pings its own address every 2 s, from the list in its folder.
w "$setup" /S >/dev/null 2>&1 || fail "the silent install ended with $?"
second='C:\second'
portdir='C:\portable\quorvane-1.0.1'
installed="$installdir\\quorvane.exe"
mkdir -p "$(unix "$second")" "$(unix 'C:\portable')"
(cd "$(unix 'C:\portable')" && cmake -E tar xf "$portable") || fail "could not unpack the portable zip"
printf '2\r\n0\r\n0\r\n127.0.0.2\r\n' >"$work/Quorvane.Lst"
printf '2\r\n0\r\n0\r\n127.0.0.3\r\n' >"$(unix "$second")/Quorvane.Lst"
printf '2\r\n0\r\n0\r\n127.0.0.4\r\n' >"$(unix "$portdir")/Quorvane.Lst"
cp "$work/Quorvane.Lst" "$tmp/expected"
qv_capture wine_installer 400 "$tmp/copies" "$tmp/copies.err" || status=1
start_copy() {  # NAME FOLDER IMAGE: the copy's pid in $copy
    (cd "$(unix "$2")" && exec timeout -k 5 300 wine "$3" </dev/null >"$tmp/$1.log" 2>&1) &
    copy=$!
    pids+=("$copy")
}
start_copy first "$workdir" "$installed"
first=$copy
start_copy second "$second" "$installed"
second_pid=$copy
start_copy portable "$portdir" "$portdir\\quorvane.exe"
portable_pid=$copy
for _ in $(seq 150); do
    [[ $(copies "$installed" | wc -l) == 2 && $(copies "$portdir\\quorvane.exe" | wc -l) == 1 ]] &&
        break
    sleep 0.2
done
before=$(copies "$installed")
[[ $(wc -l <<<"$before") == 2 ]] || fail "the two installed copies did not start: '$before'"
pinged_after 0 127.0.0.2 127.0.0.3 127.0.0.4 || fail "the three copies do not ping their addresses"

# Driven: Cancel on the question leaves all three running, on the folder page; OK goes on.
timeout -k 5 180 wine "$setup" </dev/null >/dev/null 2>&1 &
pids+=("$!")
if to_folder_page copies; then
    # Its question is a modal box: the click returns once it is answered.
    wizard post-click 1 || fail "could not click Next on the folder page"
    answer_question copies-cancel 2 "2 copies of Quorvane" "can be updated" "$installdir"
    page "Destination Folder" || fail "Cancel on the question left the folder page"
    for pid in "$first" "$second_pid" "$portable_pid"; do
        kill -0 "$pid" 2>/dev/null || fail "Cancel on the question did not leave every copy running"
    done
    [[ "$(copies "$installed")" == "$before" ]] || fail "Cancel on the question closed a copy"
    wizard post-click 1 || fail "could not click Next on the folder page again"
    answer_question copies 1 "2 copies of Quorvane"
    ends_with_zero first "$first" "the install closed the copy in $workdir" 10
    ends_with_zero second "$second_pid" "the install closed the copy in $second" 10
    finish_page copies "Quorvane is updated" "The 2 copies of Quorvane that Setup closed are running again"
    done_at=$(date +%s.%N)
    kill -0 "$portable_pid" 2>/dev/null || fail "the install closed the portable copy"
    started_again "$installed" 2 "$before" ||
        fail "the install did not start again the two copies it closed (before '$before', after '$after')"
    pinged_after "$done_at" 127.0.0.2 127.0.0.3 ||
        fail "the copies started again do not ping their addresses: they run in other folders"
    # Finish, with "Start Quorvane now" as the page left it: the copies run again already.
    # (A program started takes a few seconds to show its window under emulation.)
    sleep 6
    [[ $(copies "$installed" | wc -l) == 2 ]] || fail "Finish started another copy: $(copies "$installed" | tr '\n' ' ')"
fi

# Silent: the same, without a word.
before=$(copies "$installed")
w "$setup" /S >/dev/null 2>&1 || fail "the silent upgrade ended with $?"
done_at=$(date +%s.%N)
kill -0 "$portable_pid" 2>/dev/null || fail "the silent upgrade closed the portable copy"
started_again "$installed" 2 "$before" ||
    fail "the silent upgrade did not close and start again the two copies (before '$before', after '$after')"
pinged_after "$done_at" 127.0.0.2 127.0.0.3 ||
    fail "the copies the silent upgrade started again do not ping their addresses"

# The uninstaller closes the installed copies and no other.
w "$inst/uninstall.exe" /S >/dev/null 2>&1
for _ in $(seq 100); do [[ -z "$(copies "$installed")" && ! -e "$inst" ]] && break; sleep 0.1; done
[[ -z "$(copies "$installed")" ]] || fail "the uninstaller left installed copies running"
kill -0 "$portable_pid" 2>/dev/null || fail "the uninstaller closed the portable copy"
qv_drive --exe "$portdir\\quorvane.exe" post-close || fail "could not close the portable copy"
ends_with_zero portable "$portable_pid" "it was asked to close" 10

# --- Installed where a portable copy runs, then driven upgrades at three scales -------------
# C:\custom is there before: only the folder below it is the installer's to remove.
custom='C:\custom\QuorvaneTest'
cust=$(unix "$custom")
mkdir -p "$(unix 'C:\custom')" "$cust"
cp "$(unix "$portdir")/quorvane.exe" "$cust/"
(cd "$cust" && exec timeout -k 5 120 wine "$custom\\quorvane.exe" </dev/null >"$tmp/program2.log" 2>&1) &
program=$!
pids+=("$program")
qv_drive --exe "$custom\\quorvane.exe" wait || fail "the copy in $custom did not start: $(head -c 500 "$tmp/program2.log")"
timeout -k 5 180 wine "$setup" "/D=$custom" </dev/null >/dev/null 2>&1 &
pids+=("$!")
if to_folder_page install; then
    wizard controls | tr -d '\r' | grep -qiF "$custom" ||
        fail "the install offers another folder than $custom: $(wizard controls | tr '\r\n' '  ')"
    wizard post-click 1 || fail "could not click Next on the folder page"
    answer_question install 1 "1 copy of Quorvane" "can be installed"
    ends_with_zero program "$program" "the install closed it" 10
    finish_page install "Quorvane is installed" "The copy of Quorvane that Setup closed is running again"
fi
[[ -f "$cust/quorvane.exe" && -f "$cust/uninstall.exe" ]] || fail "the install left no program in $custom"
cmp -s "$cust/quorvane.exe" "$quorvane" || fail "the install did not replace the portable copy in $custom"
started_again "$custom\\quorvane.exe" 1 "" || fail "the copy in $custom was not started again"
rm -f "$(unix "$startup")"
# Driven upgrades over it at each scale: with the copy running (closed and started again),
# then with none (the finish page says where the settings are, and Finish starts one).
for dpi in 96 144 192; do
    set_dpi "$dpi"
    for running in 1 0; do
        name=upgrade-$dpi$( ((running)) || echo -alone)
        before=$(copies "$custom\\quorvane.exe")
        if ((!running)); then
            qv_drive --exe "$custom\\quorvane.exe" post-close || fail "$name: could not close the copy"
            qv_drive --exe "$custom\\quorvane.exe" wait-gone || fail "$name: the copy did not close"
        fi
        timeout -k 5 180 wine "$setup" </dev/null >/dev/null 2>&1 &
        pids+=("$!")
        to_folder_page "$name" || continue
        wizard controls | tr -d '\r' | grep -qiF "$custom" ||
            fail "$name: the upgrade offers another folder than $custom: $(wizard controls | tr '\r\n' '  ')"
        if ((running)); then
            wizard post-click 1 || fail "$name: could not click Next on the folder page"
            answer_question "$name" 1 "1 copy of Quorvane" "can be updated"
            finish_page "$name" "Quorvane is updated" "The copy of Quorvane that Setup closed is running again"
            started_again "$custom\\quorvane.exe" 1 "$before" ||
                fail "$name: the upgrade did not close and start again the copy (before '$before', after '$after')"
        else
            wizard click 1 || fail "$name: could not click Next on the folder page"
            finish_page "$name" "Quorvane is updated" "Your settings are kept in $workdir\\Quorvane.Lst"
            qv_drive --exe "$custom\\quorvane.exe" wait || fail "$name: Finish did not start the program"
        fi
    done
    # The uninstaller's first page, then Cancel.
    timeout -k 5 60 wine "$cust/uninstall.exe" </dev/null >/dev/null 2>&1 &
    pids+=("$!")
    if qv_drive --caption "Quorvane Uninstall*" --text "will be uninstalled" wait; then
        measure "will be uninstalled" "uninstall-$dpi-confirm" "Quorvane Uninstall"
        qv_drive --caption "Quorvane Uninstall*" click 2 || fail "$dpi dpi: could not cancel the uninstaller"
    else
        fail "$dpi dpi: the uninstaller showed no first page"
    fi
    qv_drive --caption "Quorvane Uninstall*" wait-gone || fail "$dpi dpi: Cancel did not end the uninstaller"
done
set_dpi 96
entry=$(timeout 60 wine reg query "$key" /v InstallLocation </dev/null 2>/dev/null | tr -d '\r')
grep -qiF "$custom" <<<"$entry" || fail "after the upgrade the uninstall entry says: $entry"
[[ ! -e "$inst" ]] || fail "the upgrade installed a second copy into $installdir"
for link in "$startmenu"; do
    mapfile -t read < <(w "$driver" shortcut "$link" 2>&1 | tr -d '\r')
    same_path "${read[0]:-}" "$custom\\quorvane.exe" || fail "after the upgrade $link starts '${read[*]}'"
done
[[ -e "$(unix "$startup")" ]] && fail "the driven upgrades put back the Startup shortcut the user had removed"

# --- A silent upgrade where the user has turned the Startup shortcut off ----------------------
before=$(copies "$custom\\quorvane.exe")
w "$setup" /S >/dev/null 2>&1 || fail "the silent upgrade ended with $?"
started_again "$custom\\quorvane.exe" 1 "$before" ||
    fail "the silent upgrade did not close and start again the copy (before '$before', after '$after')"
[[ -e "$(unix "$startup")" ]] && fail "the silent upgrade put back the Startup shortcut the user had removed"
[[ -f "$(unix "$startmenu")" ]] || fail "the silent upgrade removed the Start-menu shortcut"
cmp -s "$cust/quorvane.exe" "$quorvane" || fail "the silent upgrade did not go into $custom"
[[ ! -e "$inst" ]] || fail "the silent upgrade installed a second copy into $installdir"

# --- Uninstall, driven: it closes the copy; the question on the list defaults to No ----------
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
    if unwizard --text "Completed" wait && unwizard wait-enabled 1; then
        measure "Completed" uninstall-completed "Quorvane Uninstall"
        unwizard click 1 || fail "could not close the uninstaller"
    else
        fail "the uninstaller did not complete: $(unwizard controls | tr '\r\n' '  ')"
    fi
else
    fail "the uninstaller did not ask about the list: $(unwizard controls | tr '\r\n' '  ')"
fi
for _ in $(seq 100); do [[ ! -e "$cust" ]] && break; sleep 0.1; done
[[ -z "$(copies "$custom\\quorvane.exe")" ]] || fail "the uninstaller left the program running"
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
