#!/usr/bin/env bash
# Usage: scripts/fuzz.sh [SECONDS] [listfile|statusitem]
# Fuzzes the list file reader (default) or the status item and its menu as a bus peer calls
# them, for SECONDS (default 300), keeping what it finds in build/dev/tests/fuzz-corpus (or
# fuzz-corpus-statusitem); a crash leaves its input in the current directory.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
target=${2:-listfile}
scripts/build.sh dev
case "$target" in
    listfile)
        exec build/dev/tests/fuzz_listfile -max_total_time="$seconds" -max_len=4096 \
            -rss_limit_mb=512 -timeout=10 build/dev/tests/fuzz-corpus tests/fuzz/listfile ;;
    statusitem)
        exec build/dev/tests/fuzz_statusitem -max_total_time="$seconds" -max_len=64 \
            -rss_limit_mb=2048 -timeout=30 -detect_leaks=0 \
            build/dev/tests/fuzz-corpus-statusitem tests/fuzz/statusitem ;;
    *)
        echo "usage: $0 [SECONDS] [listfile|statusitem]" >&2
        exit 2 ;;
esac
