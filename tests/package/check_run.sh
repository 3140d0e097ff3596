#!/usr/bin/env bash
# Usage: check_run.sh SOURCE_DIR
# The run command as a user calls it, from a folder of their own (the release tree is built by
# then, so it only checks it), on an X display with a session bus of the test's own:
# - what it installs: scripts/install-deps.sh's run-only set holds none of the tools only the
#   tests use, which the test command's set does hold;
# - it builds the release tree as it is configured: it leaves the tests there;
# - the program it starts works in the folder the user called it from: its working directory
#   is that folder, it reads the list there and keeps it there (OK in its dialog saves it
#   there), and no list appears in the checkout.
# It starts the program, so it runs in the loopback-only namespace; the list's one server is
# 127.0.0.1.
set -uo pipefail
source "$(dirname "$(readlink -f "$0")")/../harness/harness.sh"

root=$(readlink -f "$1")
program=$root/build/release/app/quorvane
caption='Quorvane by Harrowbecks Software, Inc.'

qv_start_script

# --- The packages ----------------------------------------------------------------------------

run_set=$("$root/scripts/install-deps.sh" --list --run-only release) || fail "install-deps --list --run-only failed"
full_set=$("$root/scripts/install-deps.sh" --list release) || fail "install-deps --list failed"
win32_set=$("$root/scripts/install-deps.sh" --list win32) || fail "install-deps --list win32 failed"
# The heavy ones: desktops, panels, compositors, their drivers and watchers, the fuzzers'
# compiler, the package checkers.
for pkg in sway waybar grim gnome-shell plasma-workspace kwin-x11 xfce4-panel lxqt-panel icewm \
    trayer xvfb xdotool at-spi2-core strace nftables clang libclang-rt-14-dev doctest-dev \
    libbenchmark-dev libwayland-dev lintian appstream desktop-file-utils dpkg-dev fakeroot; do
    grep -Fqx "$pkg" <<<"$run_set" && fail "the run command would install $pkg, which only the tests use"
    grep -Fqx "$pkg" <<<"$full_set" || fail "the test command would not install $pkg"
done
for pkg in cmake g++ qt6-base-dev qt6-multimedia-dev libxcb1-dev fonts-dejavu-core; do
    grep -Fqx "$pkg" <<<"$run_set" || fail "the run command would not install $pkg"
done
# Every package of the run command's set is the test command's too, and the Windows build's
# extras come with the latter.
while read -r pkg; do
    grep -Fqx "$pkg" <<<"$full_set" || fail "the test command would not install $pkg of the run set"
done <<<"$run_set"
for pkg in g++-mingw-w64-i686 wine32:i386 nsis xvfb lintian; do
    grep -Fqx "$pkg" <<<"$win32_set" || fail "the win32 set lacks $pkg"
done

# --- The program from the run command ------------------------------------------------------

others=$(qv_interfaces_besides_lo 2>/dev/null)
if ! ip -o link show lo >/dev/null 2>&1 || [[ -n "$others" ]]; then
    fail "refusing to start the program outside the loopback-only namespace (interfaces: ${others:-?})"
    qv_exit
fi

qv_xvfb 1024x768 || { fail "no X display"; qv_exit; }
pids+=("$qv_xvfb_pid")
qv_session_bus || { fail "no session bus"; qv_exit; }
pids+=("$qv_bus_pid")
runtime=$tmp/runtime
mkdir -m 700 "$runtime"
session=(env DISPLAY="$qv_display" DBUS_SESSION_BUS_ADDRESS="$qv_bus" XDG_RUNTIME_DIR="$runtime"
         QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1)

# The user's folder, with a list of an hour's delay and one server (without it the program
# would start with the shortest delay and no server).
here=$tmp/user
mkdir "$here"
here=$(readlink -f "$here")
printf '3600\r\n0\r\n0\r\n127.0.0.1\r\n' >"$here/Quorvane.Lst"
# A list the checkout already had (a run before the run command kept to the caller's folder)
# must stay as it is.
root_list_before=$(stat -c '%i %Y %s' "$root/Quorvane.Lst" 2>/dev/null)

# The test command runs this in the release tree with its tests, which the run command must
# leave there.
tests_before=$(grep '^QV_TESTS:' "$root/build/release/CMakeCache.txt")

# A process group of its own, so that whatever the run command leaves running (a build cut
# short by a failure here) ends with the script.
(cd "$here" && exec setsid "${session[@]}" "$root/scripts/run.sh") >"$tmp/run.log" 2>&1 </dev/null &
pid=$!
pids+=("$pid")
# shellcheck disable=SC2317 # called by the harness as the script ends
qv_on_exit() { kill -- -"$pid" 2>/dev/null; }

# The run command builds (nothing is left to do) and then becomes the program.
for _ in $(seq 1200); do
    [[ "$(readlink "/proc/$pid/exe" 2>/dev/null)" == "$program" ]] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if [[ "$(readlink "/proc/$pid/exe" 2>/dev/null)" != "$program" ]]; then
    fail "the run command did not start $program: $(tail -c 800 "$tmp/run.log")"
    qv_exit
fi
tests_after=$(grep '^QV_TESTS:' "$root/build/release/CMakeCache.txt")
[[ "$tests_after" == "$tests_before" ]] ||
    fail "the run command changed the release tree's $tests_before to $tests_after"
cwd=$(readlink "/proc/$pid/cwd")
[[ "$cwd" == "$here" ]] || fail "the program runs in '$cwd', not in the folder the run command was called from ($here)"

# A second start in that folder finds the first holding the list there and has it show its
# dialog; one that found no holder would stay and hold the list itself.
(cd "$here" && exec "${session[@]}" timeout -k 5 20 "$program") >"$tmp/second.log" 2>&1 </dev/null &
second=$!
pids+=("$second")
ends_with_zero second "$second" "asking the first to show its dialog" 15 ||
    fail "a second start in $here did not hand over to the program of the run command"

dialog=$(timeout 10 "${session[@]}" xdotool search --sync --onlyvisible --name "^$caption\$" 2>/dev/null | head -1)
if [[ -z "$dialog" ]]; then
    fail "no dialog after the second start $(qv_program_state run "$pid")"
    qv_exit
fi
# The Delay edit has the focus, its text selected: 45 s, then OK.
if ! "${session[@]}" xdotool windowfocus --sync "$dialog" ||
    ! "${session[@]}" xdotool key --clearmodifiers --delay 50 4 5 Return; then
    fail "xdotool could not type into the dialog"
fi

# The list the program read there (its server), with the delay typed, saved there.
want=$(printf '45\r\n0\r\n0\r\n127.0.0.1\r\n' | od -An -c)
for _ in $(seq 100); do
    [[ "$(od -An -c "$here/Quorvane.Lst")" == "$want" ]] && break
    sleep 0.1
done
got=$(od -An -c "$here/Quorvane.Lst")
[[ "$got" == "$want" ]] ||
    fail "OK did not save the list read in $here with the new delay: it holds$got $(qv_program_state run "$pid")"

# Nowhere else.
if [[ -z "$root_list_before" ]]; then
    [[ -e "$root/Quorvane.Lst" ]] && fail "a Quorvane.Lst appeared in the checkout ($root)"
else
    [[ "$(stat -c '%i %Y %s' "$root/Quorvane.Lst" 2>/dev/null)" == "$root_list_before" ]] ||
        fail "the checkout's Quorvane.Lst changed"
fi
strays=$(find "$tmp" -name Quorvane.Lst ! -path "$here/Quorvane.Lst")
[[ -z "$strays" ]] || fail "lists outside the user's folder: $strays"

kill -TERM "$pid"
ends_with_zero run "$pid" "SIGTERM"
qv_exit
