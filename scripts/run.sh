#!/usr/bin/env bash
# THE run command: builds the release preset and starts Quorvane with any given arguments, in
# the directory this was called from, where the program keeps its list (Quorvane.Lst). It
# installs only what building and running the program need (scripts/build.sh --run-only): a
# release tree it configures itself has no tests, one that has them keeps them. It runs in the
# normal network namespace: this is the user's program.
set -euo pipefail

# No cd: the program's working directory is the caller's. build.sh works from the root itself.
root=$(readlink -f "$(dirname "$(readlink -f "$0")")/..")

"$root/scripts/build.sh" --run-only release

exec "$root/build/release/app/quorvane" "$@"
