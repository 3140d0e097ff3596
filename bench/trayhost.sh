# Sourced by the desktop benchmarks: what they need, checked before anything is measured, and
# one Xvfb with the tray host asked for, checked to be there (the harness's session and hosts).
# A benchmark that lacks its host says so and fails rather than measure a program with no
# notification area.
#   qv_bench_need CMD...     fails unless every CMD is on PATH
#   qv_bench_session HOST    HOST: xembed (trayer), bus (LXQt's panel, with a session bus of
#                            its own) or none (the display alone). Sets $display and the
#                            array $session (the environment the programs run in). Needs $work;
#                            what it starts besides jobs is in $qv_bench_pids, for the caller
#                            to end.

source tests/harness/harness.sh
qv_bench_pids=()

qv_bench_need() {
    local cmd missing=()
    for cmd in "$@"; do command -v "$cmd" >/dev/null 2>&1 || missing+=("$cmd"); done
    if ((${#missing[@]} > 0)); then
        echo "$(basename "$0"): missing ${missing[*]}: run scripts/install-deps.sh first" >&2
        exit 1
    fi
}

qv_bench_fail() {
    echo "$(basename "$0"): $*; nothing measured" >&2
    exit 1
}

qv_bench_session() {
    local host=$1
    qv_bench_need Xvfb xdotool
    qv_xvfb 800x600 || qv_bench_fail "no display"
    qv_bench_pids+=("$qv_xvfb_pid")
    display=$qv_display
    session=(env -u DBUS_SESSION_BUS_ADDRESS "DISPLAY=$display")
    case $host in
    bus)
        qv_bench_need dbus-daemon dbus-send lxqt-panel
        qv_session_bus || qv_bench_fail "no session bus"
        qv_bench_pids+=("$qv_bus_pid")
        session+=("DBUS_SESSION_BUS_ADDRESS=$qv_bus")
        qv_tray_host lxqt-panel "$work/home" || qv_bench_fail "no tray host"
        ;;
    xembed)
        qv_bench_need trayer
        qv_tray_host trayer "$work/home" || qv_bench_fail "no tray host"
        ;;
    none) ;;
    *) qv_bench_fail "no tray host called '$host' (xembed, bus or none)" ;;
    esac
}
