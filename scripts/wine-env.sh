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
