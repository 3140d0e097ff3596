# Sourced by the Wine helpers: one 32-bit throwaway prefix in the win32 build tree, quiet, no
# .NET or HTML engine to install, a crash that exits at once instead of waiting in the
# debugger, no sound-driver noise.
qv_root=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/..
export WINEPREFIX=${WINEPREFIX:-$(readlink -f "$qv_root")/build/win32/wineprefix}
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d;winealsa.drv,winepulse.drv=d"
