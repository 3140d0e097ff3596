#!/usr/bin/env bash
# Usage: scripts/build.sh PRESET   (dev | release | win32 | win64, see CMakePresets.json)
# Makes sure the toolchain is present, then configures and builds that preset.
set -euo pipefail

if (($# != 1)); then
    echo "usage: $0 PRESET   (dev | release | win32 | win64)" >&2
    exit 2
fi
preset=$1

# Presets use paths relative to the source tree, so always work from the repo root.
cd "$(dirname "$(readlink -f "$0")")/.."

scripts/install-deps.sh "$preset"
cmake --preset "$preset"
cmake --build --preset "$preset" -j"$(nproc)"
