#!/usr/bin/env bash
# Usage: scripts/check-layers.sh [ROOT]   (ROOT: the source tree, by default this one)
# Checks that every folder of the program includes only from itself and the folders below it,
# that each tier of the tests includes only from the program, the tests' harness and itself
# (the benchmarks from the program and the harness), and that no header includes itself again
# through others. Prints each upward include with its
# file and line, and each loop; exit status 1 when there is any, 0 otherwise.
set -euo pipefail

root=${1:-$(dirname "$(readlink -f "$0")")/..}
cd "$root"

# Each folder with the folders it may include from, bottom up. A folder not listed belongs to
# the nearest listed one above it (res/tools to res).
declare -A may=(
    [base]=""
    [framework]="base"
    [res]="base framework"
    [framework/linux]="base framework res"
    [framework/windows]="base framework res"
    [logic]="base framework res"
    [platform/linux]="base framework res framework/linux"
    [platform/windows]="base framework res framework/windows"
    [app]="base framework res framework/linux framework/windows logic platform/linux platform/windows"
)
program="${!may[*]}"
may[tests/harness]=$program
for tier in unit contract linux windows package fuzz; do
    may[tests/$tier]="$program tests/harness"
done
may[bench]="$program tests/harness"

# The layer of a file, in $layer; empty for a file outside them all.
layer_of() {
    local dir=${1%/*}
    layer=
    while [[ "$dir" == */* && ! -v "may[$dir]" ]]; do dir=${dir%/*}; done
    [[ -v "may[$dir]" ]] && layer=$dir
    return 0
}

status=0
edges=$(mktemp)
trap 'rm -f "$edges"' EXIT

while IFS= read -r file; do
    layer_of "$file"
    from=$layer
    [[ -n "$from" ]] || continue
    while IFS=: read -r line include; do
        include=${include#*\"}
        include=${include%%\"*}
        # A bare name is a file of the same folder; one that is not there is generated. The
        # tests name the harness's files from their folder: "harness/wire.h".
        if [[ "$include" != */* ]]; then
            target=${file%/*}/$include
        elif [[ -f "$include" ]]; then
            target=$include
        else
            target=tests/$include
        fi
        [[ -f "$target" ]] || continue
        echo "$file $target" >>"$edges"
        layer_of "$target"
        to=$layer
        [[ "$to" == "$from" ]] && continue
        if [[ " ${may[$from]} " != *" $to "* ]]; then
            echo "$file:$line: includes \"$include\": $from/ may not include from $to/" >&2
            status=1
        fi
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(find "${!may[@]}" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.def' -o -name '*.rc' \) 2>/dev/null | sort -u)

# A loop among the includes, which a folder order alone does not rule out inside one folder.
if ! loop=$(tsort "$edges" 2>&1 >/dev/null); then
    echo "include loop:" >&2
    echo "$loop" | sed -n 's/^tsort: //p' | grep -v 'input contains a loop' >&2
    status=1
fi

if ((status == 0)); then
    echo "check-layers: $(wc -l <"$edges") includes in ${#may[@]} folders, none upward, no loop"
fi
exit $status
