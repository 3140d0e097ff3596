#!/usr/bin/env bash
# Usage: scripts/package.sh [deb | win32]
#   deb:   builds the release preset and makes the Debian packages from its install rules:
#          build/release/package/quorvane_VERSION_ARCH.deb and, with the sound module,
#          build/release/package/quorvane-sound_VERSION_ARCH.deb
#   win32: builds the win32 preset, which makes the installer and the portable zip:
#          build/win32/quorvane-VERSION-setup.exe, build/win32/quorvane-VERSION-portable.zip
# Prints the paths of what it made.
set -euo pipefail
kind=${1:-deb}
cd "$(dirname "$(readlink -f "$0")")/.."

case $kind in
    deb)
        scripts/build.sh release >&2
        rm -rf build/release/package
        (cd build/release && cpack -G DEB -B package >&2)
        ls build/release/package/*.deb
        ;;
    win32)
        scripts/build.sh win32 >&2
        ls build/win32/quorvane-*-setup.exe build/win32/quorvane-*-portable.zip
        ;;
    *)
        echo "usage: $0 [deb | win32]" >&2
        exit 2
        ;;
esac
