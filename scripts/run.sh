#!/usr/bin/env bash
# THE run command: builds the release preset and starts Quorvane with any given
# arguments. It runs in the normal network namespace: this is the user's program.
set -euo pipefail

cd "$(dirname "$(readlink -f "$0")")/.."

scripts/build.sh release

exec build/release/app/quorvane "$@"
