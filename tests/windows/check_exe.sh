#!/usr/bin/env bash
# Usage: tests/windows/check_exe.sh QUORVANE_EXE OBJDUMP
# The Windows program as the system's loader sees it: a 32-bit GUI executable for Intel
# 80386 that imports only DLLs every Windows has and keeps safe (no compiler runtime beside
# it), asks for nothing newer than the oldest Windows it runs on, and whose manifest names x86.
set -euo pipefail
exe=$1
objdump=$2
fail() { echo "check_exe: $*" >&2; exit 1; }

headers=$("$objdump" -p "$exe")
grep -q 'file format pei-i386' <<<"$headers" || fail "not a PE32 image for i386"
grep -qP 'Magic\s+010b\s+\(PE32\)' <<<"$headers" || fail "not PE32"
grep -qP 'Subsystem\s+00000002\s+\(Windows GUI\)' <<<"$headers" || fail "not a GUI program"
major=$(awk '/MajorSubsystemVersion/ { print $2 }' <<<"$headers")
((major <= 6)) || fail "subsystem version $major is newer than Windows 7"

# Only DLLs the loader never takes from beside the program: those in KnownDLLs on every
# Windows from 7 to 11, and COMCTL32, which the manifest takes from the side-by-side store.
# Any other system DLL (WINMM, and WS2_32, which Wine does not keep known) is loaded at run
# time from the system directory; a static import would take a DLL planted beside the exe.
allowed=" KERNEL32.DLL USER32.DLL GDI32.DLL SHELL32.DLL MSVCRT.DLL ADVAPI32.DLL COMCTL32.DLL "
mapfile -t dlls < <(awk '/DLL Name:/ { print toupper($3) }' <<<"$headers")
((${#dlls[@]} > 0)) || fail "no imports found"
for dll in "${dlls[@]}"; do
    [[ "$allowed" == *" $dll "* ]] ||
        fail "imports $dll, which a DLL of that name beside the program would replace"
done
if [[ " ${dlls[*]} " == *" COMCTL32.DLL "* ]]; then
    grep -aq 'name="Microsoft.Windows.Common-Controls"' "$exe" ||
        fail "imports COMCTL32.DLL without the manifest that takes it from the side-by-side store"
fi
# The manifest names the program's own architecture, for itself and for the common controls:
# a dependency of another one binds nothing (the old controls) or a DLL it cannot load.
arches=$(grep -ao 'processorArchitecture="[^"]*"' "$exe" | sort | uniq -c |
    awk '{ print $1, $2 }' | paste -sd, -)
[[ "$arches" == '2 processorArchitecture="x86"' ]] ||
    fail "the manifest does not name x86 for both the program and its controls: ${arches:-none}"
echo "$(stat -c %s "$exe") bytes; imports: ${dlls[*]}"
