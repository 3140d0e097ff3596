#!/usr/bin/env bash
# Usage: tests/package/check_install.sh BUILD_DIR
# Installs the build into a staging directory (DESTDIR, prefix /usr) and checks what a Linux
# desktop finds there: exactly the expected files with their modes, the menu and autostart
# entries and the metadata valid, every icon an image of its size, the manual page clean, and
# the installed program starting from the staging prefix and finding its sound module.
set -uo pipefail
build=$(readlink -f "$1")
tmp=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    rm -rf "$tmp"
}
trap cleanup EXIT
status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}

dest=$tmp/dest
if ! DESTDIR=$dest cmake --install "$build" --prefix /usr >"$tmp/install.log" 2>&1; then
    cat "$tmp/install.log" >&2
    echo "FAIL: the install failed" >&2
    exit 1
fi

# Every file and its mode; the module's directory follows the build's library directory.
module=$(cd "$dest" && find usr/lib* -name 'libquorvane_sound.so' -printf '%h\n')
[[ "$module" == */quorvane ]] || fail "the sound module is not in a directory of its own: '$module'"
expected="755 usr/bin/quorvane
644 $module/libquorvane_sound.so
644 usr/lib/systemd/user/quorvane.service
644 usr/share/applications/quorvane.desktop
644 usr/share/doc/quorvane/changelog.gz
644 usr/share/doc/quorvane/copyright
644 usr/share/icons/hicolor/128x128/apps/quorvane.png
644 usr/share/icons/hicolor/16x16/apps/quorvane.png
644 usr/share/icons/hicolor/22x22/apps/quorvane.png
644 usr/share/icons/hicolor/24x24/apps/quorvane.png
644 usr/share/icons/hicolor/256x256/apps/quorvane.png
644 usr/share/icons/hicolor/32x32/apps/quorvane.png
644 usr/share/icons/hicolor/48x48/apps/quorvane.png
644 usr/share/icons/hicolor/64x64/apps/quorvane.png
644 usr/share/icons/hicolor/scalable/apps/quorvane.svg
644 usr/share/man/man1/quorvane.1.gz
644 usr/share/metainfo/io.github.harrowbecks.quorvane.metainfo.xml
644 usr/share/quorvane/autostart/quorvane.desktop"
actual=$(cd "$dest" && find . -type f -printf '%m %P\n' | LC_ALL=C sort -k2)
expected=$(LC_ALL=C sort -k2 <<<"$expected")
if [[ "$actual" != "$expected" ]]; then
    fail "the installed files differ from the expected ones:"
    diff <(echo "$expected") <(echo "$actual") >&2
fi

# The validators' own verdicts.
share=$dest/usr/share
for entry in "$share/applications/quorvane.desktop" "$share/quorvane/autostart/quorvane.desktop"; do
    out=$(desktop-file-validate "$entry" 2>&1) && [[ -z "$out" ]] ||
        fail "desktop-file-validate ${entry#$dest}: $out"
done
out=$(appstreamcli validate --no-net "$share/metainfo/io.github.harrowbecks.quorvane.metainfo.xml" 2>&1) ||
    fail "appstreamcli validate: $out"
for png in "$share"/icons/hicolor/*/apps/quorvane.png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    kind=$(file -b "$png")
    [[ "$kind" == "PNG image data, ${size/x/ x }, "* ]] || fail "${png#$dest}: $kind"
done
xmllint --noout "$share/icons/hicolor/scalable/apps/quorvane.svg" 2>"$tmp/svg.err" ||
    fail "the scalable icon is not well-formed XML: $(cat "$tmp/svg.err")"
grep -q '<svg[^>]*viewBox=' "$share/icons/hicolor/scalable/apps/quorvane.svg" ||
    fail "the scalable icon has no viewBox"
out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$share/man/man1/quorvane.1.gz" 2>&1 >/dev/null)
[[ -z "$out" ]] || fail "the manual page: $out"

# The user service names the installed program in full, and lands where the user's service
# manager looks under each prefix: a user's own ~/.local is searched only in share/.
grep -qx 'ExecStart=/usr/bin/quorvane' "$dest/usr/lib/systemd/user/quorvane.service" ||
    fail "the user service starts: $(grep ExecStart "$dest/usr/lib/systemd/user/quorvane.service")"
local_prefix=$tmp/user/.local
if cmake --install "$build" --prefix "$local_prefix" >"$tmp/install-local.log" 2>&1; then
    unit=$local_prefix/share/systemd/user/quorvane.service
    grep -qx "ExecStart=$local_prefix/bin/quorvane" "$unit" 2>/dev/null ||
        fail "installed into ~/.local, the user service is not in share/systemd/user or does not start $local_prefix/bin/quorvane"
    [[ ! -e "$local_prefix/lib/systemd" ]] || fail "installed into ~/.local, a user service stands in lib/systemd, where nothing looks"
else
    fail "the install into a ~/.local prefix failed: $(cat "$tmp/install-local.log")"
fi

# The installed program from the staging prefix: its first probe plays the sound, for which
# it loads the module from the installed place. A copy alone in a directory of its own must
# say it has no sound, or the check could not tell.
run_program() {
    local exe=$1 dir=$2 pid
    mkdir -p "$dir"
    printf '3\r\n0\r\n1\r\n127.0.0.1\r\n' >"$dir/Quorvane.Lst"
    (cd "$dir" && QT_QPA_PLATFORM=offscreen exec "$exe" </dev/null >"$dir/stdout" 2>"$dir/stderr") &
    pid=$!
    pids+=("$pid")
    sleep 4.5
    # The program itself gets the signal, as from a session that ends; bounded all the same.
    kill -TERM "$pid"
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid"
    echo $?
}
code=$(run_program "$dest/usr/bin/quorvane" "$tmp/home")
((code == 0)) || fail "the installed program ended with $code: $(head -c 800 "$tmp/home/stderr")"
if grep -q 'no sound' "$tmp/home/stderr"; then
    fail "the installed program did not find its sound module: $(grep 'no sound' "$tmp/home/stderr")"
fi
mkdir "$tmp/alone"
cp "$dest/usr/bin/quorvane" "$tmp/alone/"
run_program "$tmp/alone/quorvane" "$tmp/alone/home" >/dev/null
grep -q 'no sound' "$tmp/alone/home/stderr" ||
    fail "a program without its module did not say so: the sound check proves nothing"

((status == 0)) && echo "check_install: all checks passed"
exit $status
