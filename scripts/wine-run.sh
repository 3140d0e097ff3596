#!/usr/bin/env bash
# Usage: scripts/wine-run.sh PROGRAM.exe [ARGS...]
# Runs a Windows program of the win32 build under Wine, bounded in time; its exit code is
# the program's. CTest runs the Windows tests through it; scripts/wine-session.sh sets up the
# session (prefix, display, server) around a whole run.
set -euo pipefail
source "$(dirname "$(readlink -f "$0")")/wine-env.sh"
exec timeout -k 5 "${QV_WINE_TIMEOUT:-120}" wine "$@"
