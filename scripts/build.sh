#!/usr/bin/env bash
# Usage: scripts/build.sh [--run-only] PRESET [CMAKE_ARGS...]
#   (PRESET: dev | release | win32 | win64, see CMakePresets.json)
# Makes sure the toolchain is present, then configures and builds that preset; CMAKE_ARGS go
# to the configure step.
#   default:     every package of scripts/install-deps.sh, and the tree with its tests,
#                benchmarks and fuzzers (QV_TESTS=ON)
#   --run-only:  only the packages that building and running the program need. A tree not
#                configured yet is configured without the tests (QV_TESTS=OFF), which that set
#                cannot configure; a tree that is configured is built as it is. The run command
#                and the test command share the release tree, and the test command may run the
#                run command while that tree has its tests: turning them off there would take
#                away the tests it is about to run.
set -euo pipefail

run_only=0
if [[ "${1:-}" == --run-only ]]; then
    run_only=1
    shift
fi
if (($# < 1)); then
    echo "usage: $0 [--run-only] PRESET [CMAKE_ARGS...]   (PRESET: dev | release | win32 | win64)" >&2
    exit 2
fi
preset=$1
shift

# Presets use paths relative to the source tree, so always work from the repo root.
cd "$(dirname "$(readlink -f "$0")")/.."

if ((run_only)); then
    scripts/install-deps.sh --run-only "$preset"
    # Every preset builds in build/PRESET (CMakePresets.json).
    if [[ ! -f "build/$preset/CMakeCache.txt" ]]; then
        set -- -DQV_TESTS=OFF "$@"
    fi
else
    scripts/install-deps.sh "$preset"
    set -- -DQV_TESTS=ON "$@"
fi
cmake --preset "$preset" "$@"
cmake --build --preset "$preset" -j"$(nproc)"
