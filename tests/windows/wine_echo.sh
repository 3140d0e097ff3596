#!/usr/bin/env bash
# Usage: tests/windows/wine_echo.sh TEST_WIN32PLATFORM_EXE
# The system's ICMP.DLL under Wine, to a server that never answers: the request that does not
# wait times out with no answer, and closing its handle while it waits lets the buffer go
# (test_win32platform's cases about a silent server). The server, 127.0.0.61, is made silent by
# this namespace's firewall for the run. Runs only inside the Wine session started in the
# loopback-only namespace (scripts/in-netns.sh scripts/wine-session.sh ...).
set -uo pipefail

if (($# != 1)); then
    echo "usage: $0 TEST_WIN32PLATFORM_EXE" >&2
    exit 2
fi
helper=$(readlink -f "$1")
source "$(dirname "$(readlink -f "$0")")/../harness/harness.sh"
qv_require_session wine_echo
for tool in wine nft; do
    command -v "$tool" >/dev/null || { echo "wine_echo: $tool is missing" >&2; exit 1; }
done

qv_start_script
qv_on_exit() { qv_silent_servers_remove qvecho; }
server=127.0.0.61
qv_silent_servers_add qvecho "$server" ||
    { echo "wine_echo: cannot set the firewall rule for the silent server" >&2; exit 1; }

QV_SILENT_SERVER=$server timeout -k 5 60 wine "$helper" --test-case="*silent server*" \
    --success=false </dev/null >"$tmp/echo.log" 2>&1
code=$?
cat "$tmp/echo.log"
case $code in
0) echo "wine_echo: all checks passed" ;;
77) skipped=1 ;;
*) fail "the cases about a silent server (exit code $code)" ;;
esac
qv_exit
