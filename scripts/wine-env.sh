# Sourced by the Wine helpers: one 32-bit throwaway prefix in the win32 build tree, quiet, no
# .NET or HTML engine to install, a crash that exits at once instead of waiting in the
# debugger, no sound-driver noise.
# WINEARCH=win64 runs the win64 test build instead, on machines that run no 32-bit code.
qv_root=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/..
export WINEARCH=${WINEARCH:-win32}
export WINEPREFIX=${WINEPREFIX:-$(readlink -f "$qv_root")/build/$WINEARCH/wineprefix}
if [[ "$WINEARCH" == win64 ]]; then
    export PATH="$(readlink -f "$qv_root")/scripts/wine64:$PATH"
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d;winealsa.drv,winepulse.drv=d"

# Keeps the desktop of the session (the prefix's server) in use until the server ends. The
# server closes a desktop a second after its last program ends, and a program that starts
# while explorer.exe is still quitting it finds no desktop ("The explorer process failed to
# start"): its windows are never made, nor are those of the programs after it. A slow machine,
# or qemu's emulation, loses that race now and then between two programs of a test. The
# holder is cmd, with no window of its own, reading commands from a pipe that never brings
# one (a FIFO it holds open both ways itself), ended with the server.
qv_hold_desktop() {
    local fifo hold
    fifo=$(mktemp -u) && mkfifo -m 600 "$fifo" || return 1
    exec {hold}<>"$fifo"
    rm -f "$fifo"
    wine cmd <&$hold >/dev/null 2>&1 &
    exec {hold}<&-
}
