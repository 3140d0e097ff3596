#!/usr/bin/env bash
# Usage: scripts/wine-session.sh CMD [ARGS...]
# Runs CMD in one Wine session: the build tree's prefix (made on first use), one Xvfb for
# it, and a wineserver and its desktop kept up for the whole run (a server started per
# program costs seconds each), all ended afterwards. Exit status is CMD's.
set -euo pipefail
source "$(dirname "$(readlink -f "$0")")/wine-env.sh"

source "$(dirname "$(readlink -f "$0")")/../tests/harness/harness.sh"

qv_xvfb_pid=
cleanup() {
    timeout 20 wineserver -k 2>/dev/null || true
    if [[ -n "$qv_xvfb_pid" ]]; then kill "$qv_xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

# A display of its own: Wine programs may open windows, and none may reach the user's.
qv_xvfb 1024x768 || { echo "wine-session: no display" >&2; exit 1; }
export DISPLAY=$qv_display

if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    mkdir -p "$WINEPREFIX"
    timeout 180 wineboot -i </dev/null >/dev/null 2>&1
    # Without a window manager every hide or destroy would stall for seconds.
    timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
        </dev/null >/dev/null 2>&1
    timeout 60 wineserver -w
fi
timeout 20 wineserver -p </dev/null >/dev/null 2>&1
# The desktop too lasts as long as the session (see qv_hold_desktop); held first, so that it
# is in use before the first program can end.
qv_hold_desktop
# The session's own processes (services, devices) start with the first program and live as
# long as the server: started here, they hold none of the tests' output open.
timeout 60 wine cmd /c exit </dev/null >/dev/null 2>&1 || true
"$@"
