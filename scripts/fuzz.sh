#!/usr/bin/env bash
# Usage: scripts/fuzz.sh [SECONDS]
# Fuzzes the list file reader for SECONDS (default 300), keeping what it finds in
# build/dev/tests/fuzz-corpus; a crash leaves its input in the current directory.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
scripts/build.sh dev
exec build/dev/tests/fuzz_listfile -max_total_time="$seconds" -max_len=4096 \
    -rss_limit_mb=512 -timeout=10 build/dev/tests/fuzz-corpus tests/fuzz/listfile
