#!/usr/bin/env bash
# Usage: scripts/install-deps.sh [--run-only] [--list] [PRESET]
# Installs the Debian 12 packages Quorvane needs to build, test and benchmark; for the win32
# preset also the MinGW-w64 cross compiler and 32-bit Wine (which needs the i386
# architecture), and where the kernel runs no 32-bit code, the emulator that runs it instead
# (see scripts/i386-emulation.sh); for the win64 one their 64-bit counterparts. Only missing
# packages are installed, so a second run is silent and touches nothing.
#   --run-only  only what building the program (without its tests, benchmarks and fuzzers)
#               and running it need: the run command's set
#   --list      prints the packages of the set asked for, one a line, and installs nothing
set -euo pipefail
run_only=0
list=0
while (($# > 0)); do
    case $1 in
    --run-only) run_only=1 ;;
    --list) list=1 ;;
    -*)
        echo "usage: $0 [--run-only] [--list] [PRESET]" >&2
        exit 2
        ;;
    *) break ;;
    esac
    shift
done
preset=${1:-}
source "$(dirname "$(readlink -f "$0")")/i386-emulation.sh"

# The two lists, kept here so they are easy to audit.
# What building the program and running it need, and nothing else: the compiler and CMake,
# Qt 6 with its multimedia module (the sound), the OpenGL and xcb headers the toolkit's and our
# own CMake files look for, and a font, so that a bare machine shows the dialogs' text.
RUN_PACKAGES=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-multimedia-dev libgl-dev libxcb1-dev fonts-dejavu-core
)
# What only the tests, benchmarks and fuzzers need: the loopback-only namespace, the desktops
# and tray hosts the program is tried on and the tools that drive and watch it there, the
# fuzzers' clang, and the tools that check the installation and the Debian packages.
TEST_PACKAGES=(
    iproute2 util-linux
    clang libclang-rt-14-dev libbenchmark-dev
    strace xvfb dbus-daemon nftables icewm trayer xdotool doctest-dev
    xfce4-panel xfconf lxqt-panel
    sway waybar grim qt6-wayland libwayland-dev libglib2.0-bin dbus-bin at-spi2-core
    gnome-shell gnome-shell-extension-appindicator
    plasma-workspace kwin-x11 plasma-desktop-data
    desktop-file-utils appstream libxml2-utils file man-db dpkg-dev fakeroot lintian
)
PACKAGES=("${RUN_PACKAGES[@]}")
((run_only)) || PACKAGES+=("${TEST_PACKAGES[@]}")
# The Windows program cannot be built without the cross compiler (and the installer's NSIS),
# nor run here without Wine, so these come with either set.
if [[ "$preset" == win32 ]]; then
    # wine32 only suggests its preloader, which 32-bit Wine needs under the emulator.
    PACKAGES+=(g++-mingw-w64-i686 wine wine32:i386 wine32-preloader:i386 nsis)
elif [[ "$preset" == win64 ]]; then
    PACKAGES+=(g++-mingw-w64-x86-64 wine wine64)
fi

if ((list)); then
    printf '%s\n' "${PACKAGES[@]}"
    exit 0
fi

# A package counts as present only when dpkg reports it fully installed
# (not merely unpacked or left with config files).
is_installed() {
    dpkg-query -W -f='${db:Status-Status}\n' "$1" 2>/dev/null | grep -qx 'installed'
}

# The win32 preset's emulator where the kernel runs no i386 code: qemu-i386 10.x, the static
# binary of bookworm-backports' qemu-user, taken out of the .deb into $QV_QEMU_I386 (outside
# the clone, so every clone reuses it; as whoever runs this, no root needed). It comes from the
# backports suite of the mirror the system's own Debian indexes come from, through the same
# chain of trust as apt's: the suite's InRelease signed by a Debian archive key, the Packages
# index by its hash there, the .deb by its hash in the index. The apt sources stay as they are.
fetch_qemu_i386() (
    qv_i386_emulated || exit 0
    qv_qemu_i386_ok && exit 0
    die() { echo "install-deps: $*" >&2; exit 1; }
    fetch() { curl -fsS --retry 3 --retry-delay 5 -o "$1" "$2"; }
    repo=$(apt-get indextargets --format '$(REPO_URI)' 'Identifier: Packages' \
               'Codename: bookworm' 'Origin: Debian' 2>/dev/null | head -1)
    [[ -n "$repo" ]] || repo=$(apt-get indextargets --no-release-info --format '$(REPO_URI)' \
               'Identifier: Packages' 'Release: bookworm' 2>/dev/null | head -1)
    [[ -n "$repo" ]] || die "no Debian bookworm mirror in the apt configuration to fetch qemu-user from"
    arch=$(dpkg --print-architecture)
    echo "install-deps: 32-bit programs run through qemu-i386 here: fetching it from ${repo}dists/bookworm-backports" >&2
    dir=$(mktemp -d) || die "no temporary directory"
    trap 'rm -rf "$dir"' EXIT
    fetch "$dir/InRelease" "${repo}dists/bookworm-backports/InRelease" &&
        gpgv --keyring /usr/share/keyrings/debian-archive-keyring.gpg \
            --output "$dir/Release" "$dir/InRelease" 2>/dev/null ||
        die "bookworm-backports' InRelease is missing or not signed by Debian"
    # By hash: a mirror mid-sync still serves the index its Release file names.
    sum=$(awk -v f="main/binary-$arch/Packages.xz" '/^SHA256:/ { s = 1; next } /^[^ ]/ { s = 0 }
              s && $3 == f { print $1 }' "$dir/Release")
    [[ -n "$sum" ]] && fetch "$dir/Packages.xz" \
        "${repo}dists/bookworm-backports/main/binary-$arch/by-hash/SHA256/$sum" &&
        sha256sum -c --quiet <<<"$sum  $dir/Packages.xz" ||
        die "bookworm-backports' Packages index did not arrive whole"
    # "VERSION FILENAME SHA256" of qemu-user.
    read -r version url sum < <(xz -dc "$dir/Packages.xz" | awk '
        /^Package: / { p = $2 } /^Version: / { v = $2 } /^Filename: / { f = $2 }
        /^SHA256: / && p == "qemu-user" { print v, f, $2; exit }') || die "no qemu-user in bookworm-backports"
    fetch "$dir/qemu-user.deb" "$repo$url" && sha256sum -c --quiet <<<"$sum  $dir/qemu-user.deb" ||
        die "qemu-user $version did not arrive whole"
    dpkg-deb --fsys-tarfile "$dir/qemu-user.deb" | tar -xO ./usr/bin/qemu-i386 >"$dir/qemu-i386" &&
        chmod 755 "$dir/qemu-i386" && mkdir -p "$(dirname "$QV_QEMU_I386")" &&
        cp "$dir/qemu-i386" "$QV_QEMU_I386.new" && mv "$QV_QEMU_I386.new" "$QV_QEMU_I386" ||
        die "no qemu-i386 in qemu-user $version"
    qv_qemu_i386_ok || die "qemu-user $version from bookworm-backports gives no qemu-i386 10.x:" \
        "$("$QV_QEMU_I386" --version 2>&1 | head -1)"
    echo "install-deps: $QV_QEMU_I386 is qemu-user $version's" >&2
)

# Every path out of a successful run ends here.
finish() {
    if [[ "$preset" == win32 ]]; then fetch_qemu_i386 || exit 1; fi
    exit 0
}

missing=()
for pkg in "${PACKAGES[@]}"; do
    is_installed "$pkg" || missing+=("$pkg")
done

if ((${#missing[@]} == 0)); then
    finish
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

# Another install on the machine (an unattended upgrade, a second build) may hold the package
# lock for a while: wait for it, up to ten minutes, instead of failing the whole run.
apt_get=(apt-get -o DPkg::Lock::Timeout=600)

# 32-bit Wine comes from the i386 architecture, which a fresh machine does not have.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
fi
# A mirror caught mid-sync fails an index now and then ("File has unexpected size"); it
# settles within minutes, so try again before giving up, and then install from the lists we
# did get rather than failing outright.
for try in 1 2 3 4 5; do
    "${as_root[@]}" "${apt_get[@]}" update -q && break
    if ((try == 5)); then
        echo "install-deps: apt-get update kept failing; installing from the lists at hand" >&2
        break
    fi
    sleep $((try * 10))
done
apt_install() {
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
        "${apt_get[@]}" install -y -q --no-install-recommends "$@"
}
apt_install "${missing[@]}" && finish
[[ " ${missing[*]} " == *":i386 "* ]] || exit 1

# 32-bit libraries must match the 64-bit ones installed beside them version for version. When
# an i386 index could not be had (the mirror mid-sync above), a library that the machine has
# from an update has no i386 twin in apt's lists. Take every candidate from the release
# itself, and fetch the missing twins from the mirror's own index: the one apt refused for its
# size, each .deb checked against the hash that index gives.
echo "install-deps: retrying with the 32-bit twins of updated libraries fetched directly" >&2
debs=$(mktemp -d)
trap 'rm -rf "$debs"' EXIT
shopt -s nullglob
for uri in $(comm -13 \
    <(apt-get indextargets --format '$(URI)' 'Identifier: Packages' 'Architecture: i386' | sort -u) \
    <(apt-get indextargets --no-release-info --format '$(URI)' 'Identifier: Packages' 'Architecture: i386' | sort -u)); do
    repo=${uri%%dists/*}
    curl -fsS "$uri.xz" | xz -dc | awk -v repo="$repo" '
        /^Package: /  { p = $2 } /^Version: / { v = $2 } /^Filename: / { f = $2 }
        /^SHA256: /   { print p, v, repo f, $2 }' >>"$debs/index" || true
done
for round in 1 2 3; do
    out=$(apt-get install -s --no-install-recommends -t bookworm "$debs"/*.deb "${missing[@]}" 2>&1) && break
    fetched=0
    for pkg in $(grep -o 'Depends: [^ ]*:i386' <<<"$out" | sed 's/^Depends: //; s/:i386$//' | sort -u); do
        ver=$(dpkg-query -W -f='${Version}' "$pkg:amd64" 2>/dev/null) || continue
        read -r _ _ url sum < <(awk -v p="$pkg" -v v="$ver" '$1 == p && $2 == v' "$debs/index" 2>/dev/null) || continue
        file="$debs/${url##*/}"
        [[ -e "$file" ]] && continue
        curl -fsS -o "$file" "$url" && sha256sum -c --quiet <<<"$sum  $file" && fetched=1 || rm -f "$file"
    done
    ((fetched)) || break
done
apt_install -t bookworm "$debs"/*.deb "${missing[@]}"
finish
