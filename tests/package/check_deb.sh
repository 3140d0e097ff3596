#!/usr/bin/env bash
# Usage: tests/package/check_deb.sh BUILD_DIR
# Makes the Debian package from the build with CPack and checks it: its control fields, its
# contents exactly the install rules' files, and lintian reporting no errors. Prints lintian's
# other findings, which are kept on purpose (see README, "Install").
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
deb=$(ls "$tmp"/out/*.deb 2>/dev/null | head -1)
[[ -n "$deb" ]] || { echo "FAIL: cpack made no .deb" >&2; exit 1; }
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

field() { dpkg-deb -f "$deb" "$1"; }
[[ "$(field Package)" == quorvane ]] || fail "Package: $(field Package)"
[[ "$(field Version)" == 1.0.1 ]] || fail "Version: $(field Version)"
[[ "$(field Architecture)" == "$(dpkg --print-architecture)" ]] || fail "Architecture: $(field Architecture)"
[[ "$(field Maintainer)" == *"<"*"@"*">" ]] || fail "Maintainer: $(field Maintainer)"
[[ "$(field Section)" == net ]] || fail "Section: $(field Section)"
[[ -n "$(field Description)" ]] || fail "no Description"
for lib in libqt6widgets6 libqt6multimedia6 libc6 libstdc++6; do
    [[ "$(field Depends)" == *"$lib"* ]] || fail "Depends lacks $lib: $(field Depends)"
done
echo "Depends: $(field Depends)"

# The same files, with the same modes, as an install of the same build.
DESTDIR=$tmp/dest cmake --install "$build" --prefix /usr >/dev/null 2>&1 ||
    { echo "FAIL: the install failed" >&2; exit 1; }
installed=$(cd "$tmp/dest" && find . -type f -printf '%m %P\n' | LC_ALL=C sort -k2)
packaged=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {
        mode = 0
        for (i = 2; i <= 10; i++) mode = mode * 2 + (substr($1, i, 1) != "-")
        path = $6; sub(/^\.\//, "", path)
        printf "%o %s\n", mode, path
    }' | LC_ALL=C sort -k2)
if [[ "$installed" != "$packaged" ]]; then
    fail "the package's files differ from the install rules':"
    diff <(echo "$installed") <(echo "$packaged") >&2
fi
[[ -z "$(dpkg-deb --contents "$deb" | awk '$2 != "root/root"')" ]] || fail "files not owned by root"

lintian --no-cfg --fail-on error --display-level '>=info' "$deb" >"$tmp/lintian.log" 2>&1
code=$?
sed 's/^/lintian: /' "$tmp/lintian.log"
((code == 0)) || fail "lintian reports errors (exit $code)"
grep -q '^E:' "$tmp/lintian.log" && fail "lintian reports errors"

((status == 0)) && echo "check_deb: all checks passed"
exit $status
