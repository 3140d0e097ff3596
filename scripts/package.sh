#!/usr/bin/env bash
# Usage: scripts/package.sh [deb]
# Builds the release preset and makes the Debian package from its install rules:
# build/release/package/quorvane_VERSION_ARCH.deb. Prints the package's path.
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
    *)
        echo "usage: $0 [deb]" >&2
        exit 2
        ;;
esac
