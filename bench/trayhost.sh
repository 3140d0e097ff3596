# Sourced by the desktop benchmarks: what they need, checked before anything is measured, and
# one Xvfb with the tray host asked for, checked to be there. A benchmark that lacks its host
# says so and fails rather than measure a program with no notification area.
#   qv_bench_need CMD...     fails unless every CMD is on PATH
#   qv_bench_session HOST    HOST: xembed (trayer), bus (LXQt's panel, with a session bus of
#                            its own) or none (the display alone). Sets $display and the
#                            array $session (the environment the programs run in). Needs $work.

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
    local host=$1 _
    qv_bench_need Xvfb xdotool
    display=:$((90 + RANDOM % 100))
    Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
    for _ in $(seq 50); do DISPLAY=$display xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
    DISPLAY=$display xdotool getdisplaygeometry >/dev/null 2>&1 || qv_bench_fail "Xvfb did not start on $display"
    session=(env -u DBUS_SESSION_BUS_ADDRESS "DISPLAY=$display")
    case $host in
    bus)
        qv_bench_need dbus-daemon dbus-send lxqt-panel
        mkdir -p "$work/home/.config/lxqt"
        printf '[General]\n__userfile__=true\npanels=panel1\n\n[panel1]\nplugins=sni\n\n[sni]\ntype=statusnotifier\n' \
            >"$work/home/.config/lxqt/panel.conf"
        dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/bus" >/dev/null 2>&1 &
        session+=("DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus")
        sleep 1
        HOME=$work/home XDG_CONFIG_HOME=$work/home/.config NO_AT_BRIDGE=1 "${session[@]}" \
            lxqt-panel >/dev/null 2>&1 &
        for _ in $(seq 100); do
            "${session[@]}" dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
                org.freedesktop.DBus.NameHasOwner string:org.kde.StatusNotifierWatcher 2>/dev/null |
                grep -q 'boolean true' && return 0
            sleep 0.1
        done
        qv_bench_fail "LXQt's panel put no StatusNotifierWatcher on the bus"
        ;;
    xembed)
        qv_bench_need trayer
        "${session[@]}" trayer --edge top --align right >/dev/null 2>&1 &
        for _ in $(seq 50); do
            "${session[@]}" xdotool search --classname trayer >/dev/null 2>&1 && return 0
            sleep 0.1
        done
        qv_bench_fail "trayer did not start"
        ;;
    none) ;;
    *) qv_bench_fail "no tray host called '$host' (xembed, bus or none)" ;;
    esac
}
