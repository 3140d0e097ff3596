#!/usr/bin/env bash
# THE test command: builds the dev preset (sanitized, native) and the win32 preset (the
# logic and its tests for Windows), then runs both CTest suites inside a private network
# namespace holding only loopback, so no test can ever send a packet off the machine: the
# native one directly, the Windows one under Wine. Extra arguments are passed on to both
# ctest runs. Exit status: 0 when both passed.
set -euo pipefail

cd "$(dirname "$(readlink -f "$0")")/.."

scripts/build.sh dev
scripts/build.sh win32

# Tests never need a display; the individual tests set this too.
export QT_QPA_PLATFORM=offscreen

# No test reads stdin; detach it so nothing can block in CI.
exec scripts/in-netns.sh bash -c '
    status=0
    echo "== native tests (build/dev)"
    ctest --test-dir build/dev --output-on-failure "$@" || status=1
    echo "== Windows tests under Wine (build/win32)"
    scripts/wine-session.sh ctest --test-dir build/win32 --output-on-failure "$@" || status=1
    exit $status' test.sh "$@" </dev/null
