#!/usr/bin/env bash
# Usage: scripts/install-deps.sh [PRESET]
# Installs the Debian 12 packages Quorvane needs to build, test and benchmark; for the win32
# preset also the MinGW-w64 cross compiler and 32-bit Wine (which needs the i386
# architecture). Only missing packages are installed, so a second run is silent and touches
# nothing.
set -euo pipefail
preset=${1:-}

# The one list of build/test dependencies; keep it here so it is easy to audit.
PACKAGES=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-multimedia-dev libgl-dev libxcb1-dev fonts-dejavu-core
    iproute2 util-linux tcpdump
    clang libclang-rt-14-dev libbenchmark-dev
    strace xvfb dbus-daemon nftables icewm xdotool doctest-dev
    xfce4-panel xfconf lxqt-panel
    sway waybar grim qt6-wayland libwayland-dev libglib2.0-bin dbus-bin
    desktop-file-utils appstream libxml2-utils file man-db dpkg-dev fakeroot lintian
)
if [[ "$preset" == win32 ]]; then
    PACKAGES+=(g++-mingw-w64-i686 wine wine32:i386 nsis)
fi

# A package counts as present only when dpkg reports it fully installed
# (not merely unpacked or left with config files).
is_installed() {
    dpkg-query -W -f='${db:Status-Status}\n' "$1" 2>/dev/null | grep -qx 'installed'
}

missing=()
for pkg in "${PACKAGES[@]}"; do
    is_installed "$pkg" || missing+=("$pkg")
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "install-deps: installing missing packages: ${missing[*]}" >&2

# Root runs apt-get directly; anyone else goes through sudo. Without a terminal
# (CI, no stdin) sudo must not wait for a password prompt, so use -n there.
if ((EUID == 0)); then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    if [[ -t 0 ]]; then as_root=(sudo); else as_root=(sudo -n); fi
else
    echo "install-deps: not root and sudo is not available; install as root: ${missing[*]}" >&2
    exit 1
fi

# 32-bit Wine comes from the i386 architecture, which a fresh machine does not have.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
fi
"${as_root[@]}" apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
