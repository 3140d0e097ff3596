#!/usr/bin/env bash
# THE test command: builds the dev preset, then runs the whole CTest suite inside a
# private network namespace holding only loopback, so no test can ever send a
# packet off the machine. Extra arguments are passed on to ctest.
# Exit status is ctest's.
set -euo pipefail

cd "$(dirname "$(readlink -f "$0")")/.."

scripts/build.sh dev

# Tests never need a display; the individual tests set this too.
export QT_QPA_PLATFORM=offscreen

# No test reads stdin; detach it so nothing can block in CI.
exec scripts/in-netns.sh ctest --test-dir build/dev --output-on-failure "$@" </dev/null
