#!/usr/bin/env bash
# Usage: tests/package/check_deb.sh BUILD_DIR
# Makes the Debian packages from the build with CPack and checks them: quorvane, which only
# recommends quorvane-sound, so that nothing of the multimedia stack comes without it, and
# quorvane-sound with the sound module. Their control fields, their contents together exactly
# the install rules' files, and lintian reporting no errors on either. Prints lintian's other
# findings, which are kept on purpose (see README, "Install").
set -uo pipefail
build=$(readlink -f "$1")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}

if ! (cd "$build" && cpack -G DEB -B "$tmp/out" >"$tmp/cpack.log" 2>&1); then
    cat "$tmp/cpack.log" >&2
    echo "FAIL: cpack failed" >&2
    exit 1
fi
main=$(ls "$tmp"/out/quorvane_*.deb 2>/dev/null | head -1)
sound=$(ls "$tmp"/out/quorvane-sound_*.deb 2>/dev/null | head -1)
[[ -n "$main" && -n "$sound" ]] ||
    { echo "FAIL: cpack made no quorvane and quorvane-sound packages: $(ls "$tmp/out")" >&2; exit 1; }
[[ "$(ls "$tmp"/out/*.deb | wc -l)" == 2 ]] || fail "other packages made: $(ls "$tmp/out")"
for deb in "$main" "$sound"; do echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"; done

field() { dpkg-deb -f "$1" "$2"; }
for deb in "$main" "$sound"; do
    name=$(basename "$deb")
    [[ "$(field "$deb" Version)" == 1.0.1 ]] || fail "$name: Version: $(field "$deb" Version)"
    [[ "$(field "$deb" Architecture)" == "$(dpkg --print-architecture)" ]] ||
        fail "$name: Architecture: $(field "$deb" Architecture)"
    [[ "$(field "$deb" Maintainer)" == *"<"*"@"*">" ]] || fail "$name: Maintainer: $(field "$deb" Maintainer)"
    [[ -n "$(field "$deb" Description)" ]] || fail "$name: no Description"
    [[ "$(field "$deb" Depends)" == *libc6* ]] || fail "$name: Depends lacks libc6: $(field "$deb" Depends)"
done
[[ "$(field "$main" Package)" == quorvane ]] || fail "Package: $(field "$main" Package)"
[[ "$(field "$main" Section)" == net ]] || fail "Section: $(field "$main" Section)"
for lib in libqt6widgets6 libstdc++6; do
    [[ "$(field "$main" Depends)" == *"$lib"* ]] || fail "Depends lacks $lib: $(field "$main" Depends)"
done
# The program itself links nothing of the multimedia stack, and only recommends the sound.
[[ "$(field "$main" Depends)" != *multimedia* ]] ||
    fail "quorvane depends on the multimedia stack: $(field "$main" Depends)"
[[ "$(field "$main" Recommends)" == "quorvane-sound (= 1.0.1)" ]] ||
    fail "quorvane does not recommend quorvane-sound: '$(field "$main" Recommends)'"
[[ "$(field "$sound" Package)" == quorvane-sound ]] || fail "Package: $(field "$sound" Package)"
for dep in libqt6multimedia6 "quorvane (= 1.0.1)"; do
    [[ "$(field "$sound" Depends)" == *"$dep"* ]] ||
        fail "quorvane-sound: Depends lacks $dep: $(field "$sound" Depends)"
done
echo "quorvane Depends: $(field "$main" Depends)"
echo "quorvane Recommends: $(field "$main" Recommends)"
echo "quorvane-sound Depends: $(field "$sound" Depends)"

# Each package holds the same files, with the same modes, as an install of its part of the
# same build.
installed_part() {
    DESTDIR=$tmp/$1 cmake --install "$build" --prefix /usr --component "$1" >/dev/null 2>&1 ||
        { echo "FAIL: the install of $1 failed" >&2; exit 1; }
    (cd "$tmp/$1" && find . -type f -printf '%m %P\n' | LC_ALL=C sort -k2)
}
files_of() {  # the package's files with their modes, as "MODE PATH"
    dpkg-deb --contents "$1" | awk '$1 !~ /^d/ {
        mode = 0
        for (i = 2; i <= 10; i++) mode = mode * 2 + (substr($1, i, 1) != "-")
        path = $6; sub(/^\.\//, "", path)
        printf "%o %s\n", mode, path
    }' | LC_ALL=C sort -k2
}
for part in program:"$main" sound:"$sound"; do
    installed=$(installed_part "${part%%:*}")
    packaged=$(files_of "${part#*:}")
    if [[ "$installed" != "$packaged" ]]; then
        fail "$(basename "${part#*:}"): its files differ from the install rules':"
        diff <(echo "$installed") <(echo "$packaged") >&2
    fi
done
# The module, and only it with its papers, is in quorvane-sound; the program has no part of it.
[[ "$(files_of "$sound" | awk '$2 !~ /^usr\/share\/doc\/quorvane-sound\// {print $2}')" == \
    usr/lib*/quorvane/libquorvane_sound.so ]] ||
    fail "quorvane-sound holds other files than the module: $(files_of "$sound")"
for deb in "$main" "$sound"; do
    [[ -z "$(dpkg-deb --contents "$deb" | awk '$2 != "root/root"')" ]] ||
        fail "$(basename "$deb"): files not owned by root"
    lintian --no-cfg --fail-on error --display-level '>=info' "$deb" >"$tmp/lintian.log" 2>&1
    code=$?
    sed "s/^/lintian: /" "$tmp/lintian.log"
    ((code == 0)) || fail "lintian reports errors on $(basename "$deb") (exit $code)"
    grep -q '^E:' "$tmp/lintian.log" && fail "lintian reports errors on $(basename "$deb")"
done

((status == 0)) && echo "check_deb: all checks passed"
exit $status
