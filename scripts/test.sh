#!/usr/bin/env bash
# THE test command: builds the dev preset (sanitized, native), the release preset (what is
# installed and packaged) and the win32 preset (the Windows program and its tests), then runs
# the CTest suites inside a private network namespace holding only loopback, so no test can
# ever send a packet off the machine: the native one directly, the installation and the
# Debian package of the release build, and the Windows one under Wine. Extra arguments are
# passed on to every ctest run. Exit status: 0 when all passed.
set -euo pipefail

cd "$(dirname "$(readlink -f "$0")")/.."

scripts/build.sh dev
scripts/build.sh release
scripts/build.sh win32

# Tests never need a display; the individual tests set this too.
export QT_QPA_PLATFORM=offscreen

# No test reads stdin; detach it so nothing can block in CI.
exec scripts/in-netns.sh bash -c '
    status=0
    echo "== native tests (build/dev)"
    ctest --test-dir build/dev --output-on-failure "$@" || status=1
    echo "== installation and Debian package (build/release)"
    ctest --test-dir build/release --output-on-failure -L install "$@" || status=1
    echo "== Windows tests under Wine (build/win32)"
    scripts/wine-session.sh ctest --test-dir build/win32 --output-on-failure "$@" || status=1
    exit $status' test.sh "$@" </dev/null
