#!/usr/bin/env bash
# Usage: tests/package/check_icons.sh DRAWICONS SOURCE_ICONS_DIR
# The committed icons are what the icon program draws, to the byte: none was edited by hand
# or left behind when the design changed. Each theme PNG is the size its directory says, and
# every SVG is well-formed.
set -uo pipefail
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$1" "$tmp" || { echo "FAIL: the icon program failed" >&2; exit 1; }
status=0
drawn=$(cd "$tmp" && find . -type f | LC_ALL=C sort)
committed=$(cd "$2" && find . -type f | LC_ALL=C sort)
if [[ "$drawn" != "$committed" ]]; then
    echo "FAIL: the icon program draws other files than are committed:" >&2
    diff <(echo "$committed") <(echo "$drawn") >&2
    status=1
fi
while read -r file; do
    cmp -s "$tmp/$file" "$2/$file" || { echo "FAIL: $file differs from what is drawn" >&2; status=1; }
done <<<"$drawn"
for png in "$2"/hicolor/*/apps/*.png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    [[ "$(file -b "$png")" == "PNG image data, ${size/x/ x }, 8-bit/color RGBA, "* ]] ||
        { echo "FAIL: $png: $(file -b "$png")" >&2; status=1; }
done
for svg in "$2"/*.svg "$2"/hicolor/scalable/apps/*.svg; do
    xmllint --noout "$svg" 2>/dev/null || { echo "FAIL: $svg is not well-formed" >&2; status=1; }
done
((status == 0)) && echo "check_icons: all checks passed"
exit $status
