#!/usr/bin/env bash
# Usage: tests/windows/wine_dlls.sh QUORVANE_EXE QVDRIVER_EXE PLANTED_DLL TEST_WIN32DLLS_EXE
# The Windows program run from a folder where ICMP.DLL, winmm.dll and ws2_32.dll have been
# planted (PLANTED_DLL under each name: loaded, it leaves NAME.loaded beside itself and refuses
# to attach), with Wine told to take DLLs from the program's folder first, as Windows does for
# every DLL outside KnownDLLs. Runs only inside the Wine session started in the loopback-only
# namespace (scripts/in-netns.sh scripts/wine-session.sh ...).
#   1. Control: a bare LoadLibrary of each name gets the planted DLL (else nothing below
#      would prove anything).
#   2. The platform's services there: Winsock, ICMP.DLL and the sound (PlaySound gives TRUE)
#      from the system directory, and no planted DLL loaded (test_win32dlls).
#   3. The real program there, its sound on: no planted DLL loaded, every system DLL it loads
#      is Wine's own from the system directory, its echo requests to 127.0.0.51 are on the
#      wire one delay apart, and Exit ends it with 0.
set -uo pipefail

if (($# != 4)); then
    echo "usage: $0 QUORVANE_EXE QVDRIVER_EXE PLANTED_DLL TEST_WIN32DLLS_EXE" >&2
    exit 2
fi
quorvane=$(readlink -f "$1")
driver=$(readlink -f "$2")
planted=$(readlink -f "$3")
helper=$(readlink -f "$4")
source "$(dirname "$(readlink -f "$0")")/../harness/harness.sh"
qv_require_session wine_dlls
for tool in wine; do
    command -v "$tool" >/dev/null || { echo "wine_dlls: $tool is missing" >&2; exit 1; }
done

qv_start_script

server=127.0.0.51
run=$tmp/run
mkdir "$run"
names=(ICMP.DLL winmm.dll ws2_32.dll)
for name in "${names[@]}"; do cp "$planted" "$run/$name"; done
cp "$quorvane" "$run/quorvane-dll.exe"
cp "$helper" "$run/test_win32dlls.exe"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;icmp,winmm,ws2_32=n,b"

# The planted DLLs that were loaded, their markers removed. A marker takes the name the DLL
# was loaded by, in whatever case that was.
loaded() {
    local name marker seen=()
    for name in "${names[@]}"; do
        marker=$(find "$run" -maxdepth 1 -iname "$name.loaded" | head -1)
        [[ -n "$marker" ]] && seen+=("$name")
    done
    find "$run" -maxdepth 1 -iname '*.loaded' -delete
    echo "${seen[*]}"
}

# 1 and 2: the services, each run in a process of its own.
(cd "$run" && timeout -k 5 60 wine test_win32dlls.exe --test-case="control*" </dev/null \
    >"$tmp/control.log" 2>&1)
if (($? != 0)); then
    echo "wine_dlls: the planted DLLs are not what a bare name loads here; nothing to check:" >&2
    grep -E 'ERROR|CHECK|with' "$tmp/control.log" | head -20 >&2
    exit 1
fi
loaded >/dev/null
(cd "$run" && timeout -k 5 60 wine test_win32dlls.exe --test-case-exclude="control*" \
    </dev/null >"$tmp/services.log" 2>&1) ||
    fail "the platform's services beside planted DLLs: $(grep -vE '^\s*$|^\[doctest\] (doctest|run)' "$tmp/services.log" | head -30)"
seen=$(loaded)
[[ -z "$seen" ]] || fail "the platform's services loaded the planted $seen"

# 3: the real program, watched on the wire.
qv_capture wine_dlls 60 "$tmp/capture" "$tmp/capture.err" || exit 1
# The times of the echo requests to the server.
times_to_server() { awk -v s="$server" '$2 == s { print $1 }' "$tmp/capture"; }

printf '3\r\n0\r\n1\r\n%s\r\n' "$server" >"$run/Quorvane.Lst"
# Every DLL the program loads, where from and whose (native or Wine's builtin), on stderr.
(cd "$run" && WINEDEBUG=+loaddll exec timeout -k 5 60 wine quorvane-dll.exe </dev/null \
    >/dev/null 2>"$tmp/program.log") &
pid=$!
pids+=("$pid")
qv_drive_with "$driver" 30 --exe quorvane-dll.exe

if qv_drive wait; then
    # The first tick comes a delay after the start, the second a delay later.
    for _ in $(seq 150); do
        (($(times_to_server | wc -l) >= 2)) && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    times=$(times_to_server)
    if (($(wc -w <<<"$times") < 2)); then
        fail "the program sent $(wc -w <<<"$times") echo requests to $server in 15 s, not 2 $(grep -v loaddll "$tmp/program.log" | head -c 500)"
    else
        gap=$(awk 'NR == 1 { a = $1 } NR == 2 { printf "%.2f", $1 - a }' <<<"$times")
        awk -v g="$gap" 'BEGIN { exit !(g > 2.5 && g < 4.5) }' ||
            fail "the program's echo requests came $gap s apart, not its delay of 3 s"
    fi
    if qv_drive tray-click && qv_drive wait-visible && qv_drive click 2; then
        ends_with_zero program "$pid" Exit
    else
        fail "could not click the program's Exit"
    fi
else
    fail "the program's dialog never appeared $(grep -v loaddll "$tmp/program.log" | head -c 500)"
fi
seen=$(loaded)
[[ -z "$seen" ]] || fail "the program loaded the planted $seen"
# Wine's trace line of each load: Loaded L"PATH" at ADDRESS: builtin|native.
loads=$(grep -i 'loaddll' "$tmp/program.log" | grep -iE '\\(icmp|winmm|ws2_32)\.dll"')
for name in icmp winmm ws2_32; do
    line=$(grep -iE "\\\\$name\.dll\"" <<<"$loads" | head -1)
    if [[ -z "$line" ]]; then
        fail "the program never loaded $name.dll (the sound or the probe did not run)"
    elif ! grep -qiE "L\"C:\\\\\\\\windows\\\\\\\\system32\\\\\\\\$name\.dll\" at [0-9a-f]+: builtin" <<<"$line"; then
        fail "the program's $name.dll is not the system's: $line"
    fi
done

# Nor any other DLL from outside Wine's own folders.
foreign=$(grep -i 'loaddll' "$tmp/program.log" | grep -iE 'L"Z:.*\.dll"')
[[ -z "$foreign" ]] || fail "the program loaded DLLs from beside it: $foreign"

if ((status == 0)); then
    echo "wine_dlls: all checks passed"
fi
exit $status
