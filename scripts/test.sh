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

# Some kernels run no 32-bit code at all (execve of an i386 program fails with ENOEXEC), so
# 32-bit Wine cannot start there. The same Windows program and installer built 64-bit then
# run the Windows suite under 64-bit Wine, and the checks of the 32-bit exe's own file,
# which need no Wine, run on the win32 build.
wine_build=win32
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "test.sh: this machine runs no 32-bit programs: the Windows suite runs on the win64 build under 64-bit Wine" >&2
    wine_build=win64
    scripts/build.sh win64
fi
export QV_WINE_BUILD=$wine_build

# Tests never need a display; the individual tests set this too.
export QT_QPA_PLATFORM=offscreen

# No test reads stdin; detach it so nothing can block in CI.
exec scripts/in-netns.sh bash -c '
    status=0
    echo "== native tests (build/dev)"
    ctest --test-dir build/dev --output-on-failure "$@" || status=1
    echo "== installation and Debian package (build/release)"
    ctest --test-dir build/release --output-on-failure -L install "$@" || status=1
    if [[ "$QV_WINE_BUILD" == win32 ]]; then
        echo "== Windows tests under Wine (build/win32)"
        scripts/wine-session.sh ctest --test-dir build/win32 --output-on-failure "$@" || status=1
    else
        echo "== the 32-bit Windows program itself (build/win32)"
        ctest --test-dir build/win32 --output-on-failure -R "^check_exe$" "$@" || status=1
        echo "== Windows tests under 64-bit Wine (build/win64)"
        WINEARCH=win64 scripts/wine-session.sh ctest --test-dir build/win64 --output-on-failure \
            -E "^check_exe$" "$@" || status=1
    fi
    exit $status' test.sh "$@" </dev/null
