# Sourced by the test scripts, the benchmarks and scripts/in-netns.sh: each piece of the test
# environments' setup, written once. Sourcing it defines functions (and qv_harness_dir) and
# exports nothing, so in-netns.sh takes the loopback check from here without Wine's environment
# coming along; qv_require_session loads that environment for the scripts of the Wine session.

qv_harness_dir=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")

# --- The loopback-only namespace ---------------------------------------------------------------

# The network interfaces other than lo, each followed by a space; nothing inside the
# loopback-only namespace. Fails when ip cannot list them (its message on stderr).
qv_interfaces_besides_lo() {
    ip -o link show | awk -F': ' '{ sub(/@.*/, "", $2); if ($2 != "lo") printf "%s ", $2 }'
}

# --- A desktop session ----------------------------------------------------------------------------

# Usage: qv_serving SECONDS CMD [ARGS...]
# Starts CMD, whose first line on stdout says it serves (an X display's number, a bus's
# address), and waits up to SECONDS for that line: $qv_served holds it, $qv_served_pid the
# process, which the caller ends. Fails when no line comes.
qv_serving() {
    local seconds=$1 fd line _
    qv_served='' qv_served_pid=''
    exec {fd}< <("${@:2}" & echo "pid $!"; wait)
    for _ in 1 2; do
        read -r -t "$seconds" line <&"$fd" || break
        case $line in
        pid\ *) qv_served_pid=${line#pid } ;;
        *) qv_served=$line ;;
        esac
    done
    [[ -n "$qv_served" ]]
}

# Usage: qv_xvfb WIDTHxHEIGHT
# An X server of its own on the display number it picks itself: $qv_display (":N") once it
# serves, $qv_xvfb_pid. Fails, saying so, when it does not within 15 s.
qv_xvfb() {
    if ! qv_serving 15 Xvfb -displayfd 1 -screen 0 "${1}x24" -nolisten tcp 2>/dev/null; then
        echo "Xvfb did not start" >&2
        return 1
    fi
    qv_display=:$qv_served qv_xvfb_pid=$qv_served_pid
}

# Usage: qv_session_bus
# A session bus of its own: $qv_bus (its address) once it listens, $qv_bus_pid.
qv_session_bus() {
    if ! qv_serving 15 dbus-daemon --session --nofork --nopidfile --print-address 2>/dev/null; then
        echo "dbus-daemon did not start" >&2
        return 1
    fi
    qv_bus=$qv_served qv_bus_pid=$qv_served_pid
}

# Usage: qv_tray_host HOST HOME
# Starts a notification area in the session "${session[@]}" (DISPLAY and the bus), with HOME
# as its user's home, and waits until it is up: trayer (XEmbed), up once its window is there;
# lxqt-panel (the items on the session bus), with the settings of hosts/, up once its watcher
# is on the bus. Its pid is $qv_tray_host_pid. Fails, saying so, when it is not up in 10 s.
qv_tray_host() {
    local host=$1 home=$2 up _
    case $host in
    trayer)
        "${session[@]}" trayer --edge top --align right >/dev/null 2>&1 &
        up() { "${session[@]}" xdotool search --classname trayer >/dev/null 2>&1; }
        ;;
    lxqt-panel)
        mkdir -p "$home/.config/lxqt"
        cp "$qv_harness_dir/hosts/lxqt-panel.conf" "$home/.config/lxqt/panel.conf"
        HOME=$home XDG_CONFIG_HOME=$home/.config NO_AT_BRIDGE=1 "${session[@]}" \
            lxqt-panel >/dev/null 2>&1 &
        up() {
            "${session[@]}" dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
                org.freedesktop.DBus.NameHasOwner string:org.kde.StatusNotifierWatcher 2>/dev/null |
                grep -q 'boolean true'
        }
        ;;
    *)
        echo "no tray host called '$host'" >&2
        return 1
        ;;
    esac
    qv_tray_host_pid=$!
    for _ in $(seq 100); do
        up && return 0
        sleep 0.1
    done
    echo "$host did not come up" >&2
    return 1
}

# --- The Wine session ----------------------------------------------------------------------------

# Wine's environment (scripts/wine-env.sh: the prefix, its architecture, the quiet settings,
# qv_hold_desktop), and ip and nft on the PATH, which lacks /usr/sbin for an ordinary
# user on Debian.
qv_wine_env() {
    source "$qv_harness_dir/../../scripts/wine-env.sh"
    export PATH="$PATH:/usr/sbin:/sbin"
}

# Loads Wine's environment, and refuses to go on (as script NAME) anywhere but inside the Wine
# session started in the loopback-only namespace, the only place real echo requests may go out.
qv_require_session() {
    local name=$1 others
    qv_wine_env
    others=$(qv_interfaces_besides_lo 2>/dev/null)
    if ! ip -o link show lo >/dev/null 2>&1 || [[ -n "$others" ]]; then
        echo "$name: refusing to run outside the loopback-only namespace (interfaces: ${others:-?})" >&2
        exit 1
    fi
    if [[ -z "${DISPLAY:-}" ]]; then
        echo "$name: no Wine session: run under scripts/wine-session.sh" >&2
        exit 1
    fi
}

# Runs the driver (tests/harness/qvdriver.cpp) with ARGS, after the settings qv_drive_with gave:
# its path, its time limit in seconds and the arguments every call of the script passes first.
qv_drive() {
    timeout -k 5 "$qv_drive_timeout" wine "$qv_drive_exe" "${qv_drive_args[@]}" "$@" </dev/null
}
# Usage: qv_drive_with DRIVER_EXE SECONDS [ARGS...]
qv_drive_with() {
    qv_drive_exe=$1
    qv_drive_timeout=$2
    qv_drive_args=("${@:3}")
}

# --- A test script's bookkeeping ---------------------------------------------------------------

# What every such script keeps: a scratch directory ($tmp), the processes it started in the
# background ($pids, ended when it exits, once qv_on_exit has run if the script has one), and its
# result ($status, which fail sets while the script goes on to the next check; $skipped, which
# skip sets).
qv_start_script() {
    tmp=$(mktemp -d)
    pids=()
    status=0
    skipped=0
    trap qv_end_script EXIT
}
qv_end_script() {
    # Named apart from the scripts' own $pid, which qv_on_exit may use.
    local child
    if declare -F qv_on_exit >/dev/null; then qv_on_exit; fi
    for child in "${pids[@]}"; do kill "$child" 2>/dev/null; done
    for child in "${pids[@]}"; do wait "$child" 2>/dev/null; done
    rm -rf "$tmp"
}
fail() {
    echo "FAIL: $*" >&2
    status=1
}
# A check that cannot run here: says why, and the script ends with 77, which CTest reports as
# skipped, unless another check failed.
skip() {
    echo "skipped: $*"
    skipped=1
}
qv_exit() {
    if ((status == 0 && skipped)); then exit 77; fi
    exit $status
}

# Waits for PID, a program of the script's, and takes it off $pids; returns its exit code.
reap() {
    local pid code keep=()
    wait "$1"
    code=$?
    for pid in "${pids[@]}"; do [[ "$pid" == "$1" ]] || keep+=("$pid"); done
    pids=("${keep[@]}")
    return $code
}

# Checks that program NAME (process PID) ends promptly, within SECONDS (5 by default), with
# exit code 0 after what WHAT says; its log, $tmp/NAME.log, is shown when it does not.
ends_with_zero() {
    local name=$1 pid=$2 what=$3 seconds=${4:-5} code _
    for _ in $(seq "$(awk -v s="$seconds" 'BEGIN { print int(s * 20) }')"); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    if kill -0 "$pid" 2>/dev/null; then
        fail "$name: still running $seconds s after $what"
        return 1
    fi
    reap "$pid"
    code=$?
    ((code == 0)) && return 0
    fail "$name: exit code $code after $what, not 0 $(head -c 500 "$tmp/$name.log" 2>/dev/null)"
    return 1
}

# What a failed step shows of program NAME (process PID): whether it still runs, and the end of
# its log, $tmp/NAME.log, where Wine reports a crash.
qv_program_state() {
    local name=$1 pid=$2 state=ended
    if kill -0 "$pid" 2>/dev/null; then state="still running"; fi
    echo "(the program: $state; its log: '$(tail -c 300 "$tmp/$name.log" 2>/dev/null | tr '\n' ' ')')"
}

# --- The wire ------------------------------------------------------------------------------------

# Usage: qv_capture NAME SECONDS CAPTURE ERRORS
# Starts the capture tool (tests/harness/qvcapture.cpp, its path in $QV_CAPTURE, which the
# build's test registrations set) on lo for at most SECONDS, as one of $pids: every echo request
# into the file CAPTURE as it arrives, one a line, "TIME DESTINATION TTL PAYLOAD" (TIME in
# seconds since the epoch, as date +%s.%N gives it; PAYLOAD in lowercase hex, "-" when empty),
# its messages into ERRORS. Waits up to 10 s until it listens: packets sent before would go
# unseen. When it does not, says so as script NAME and fails.
qv_capture() {
    local name=$1 seconds=$2 capture=$3 errors=$4 capturer _
    if [[ ! -x "${QV_CAPTURE:-}" ]]; then
        echo "$name: the capture did not start: no capture tool at QV_CAPTURE='${QV_CAPTURE:-}'" \
            "(the build's tests/qvcapture)" >&2
        return 1
    fi
    "$QV_CAPTURE" "$seconds" >"$capture" 2>"$errors" &
    capturer=$!
    pids+=("$capturer")
    for _ in $(seq 100); do
        grep -q "listening on" "$errors" && return 0
        kill -0 "$capturer" 2>/dev/null || break
        sleep 0.1
    done
    grep -q "listening on" "$errors" && return 0
    echo "$name: the capture did not start: $(head -c 500 "$errors")" >&2
    return 1
}

# Usage: qv_silent_servers_add TABLE ADDRESS...
# Makes the servers at the addresses silent: their echo requests are dropped on arrival (a
# capture on lo still sees them) by the nft table inet TABLE, which qv_silent_servers_remove
# takes away again.
qv_silent_servers_add() {
    local table=$1 addresses
    addresses=$(IFS=,; echo "${*:2}")
    nft add table inet "$table" &&
        nft add chain inet "$table" input '{ type filter hook input priority 0; }' &&
        nft add rule inet "$table" input ip daddr "{ $addresses }" icmp type echo-request drop
}
qv_silent_servers_remove() {
    nft delete table inet "$1" 2>/dev/null
}
