#!/usr/bin/env bash
# Usage: check_layers.sh SOURCE_DIR
# The layer check passes on the tree, and fails on a copy of it with one upward include, one
# test tier reaching into another, a benchmark reaching into a tier and one include loop
# planted, naming the file, the line and the include.
set -euo pipefail

src=$(readlink -f "$1")
check=$src/scripts/check-layers.sh
bash "$check" "$src"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails() {  # fails WHAT EXPECTED: the check on the planted copy fails and says EXPECTED
    local out
    if out=$(bash "$check" "$work/tree" 2>&1); then
        echo "FAIL: the check passed with $1 planted" >&2
        exit 1
    fi
    grep -qF -- "$2" <<<"$out" || { echo "FAIL: $1: expected \"$2\" in:" >&2; echo "$out" >&2; exit 1; }
    echo "fails with $1: $out"
}
fresh() {
    rm -rf "$work/tree"
    mkdir "$work/tree"
    (cd "$src" && tar -cf - base framework res logic platform app tests bench) | tar -xf - -C "$work/tree"
}

# The address parser, at the bottom, reaching up into the dialog.
fresh
line=$(grep -n '#include "base/wintypes.h"' "$work/tree/base/inet.h" | cut -d: -f1)
sed -i "${line}a #include \"logic/keepalivedlg.h\"" "$work/tree/base/inet.h"
fails "an upward include" \
    "base/inet.h:$((line + 1)): includes \"logic/keepalivedlg.h\": base/ may not include from logic/"

# One platform's services using the other platform's backend.
fresh
sed -i '/#pragma once/a #include "framework/windows/win32backend.h"' "$work/tree/platform/linux/qttray.h"
fails "a sideways include" "platform/linux/qttray.h:2: includes \"framework/windows/win32backend.h\""

# A desktop test using the contract tier's driver, and a benchmark the logic tests' helpers.
fresh
sed -i '0,/#include "harness\/wire.h"/s//#include "harness\/wire.h"\n#include "contract\/contractdriver.h"/' \
    "$work/tree/tests/linux/test_endtoend.cpp"
line=$(grep -n '#include "contract/contractdriver.h"' "$work/tree/tests/linux/test_endtoend.cpp" | cut -d: -f1)
fails "a tier including another" "tests/linux/test_endtoend.cpp:$line: includes \"contract/contractdriver.h\": tests/linux/ may not include from tests/contract/"
fresh
sed -i '/#include "harness\/netns.h"/a #include "unit/test_inet.cpp"' "$work/tree/bench/bench_prober.cpp"
line=$(grep -n '#include "unit/test_inet.cpp"' "$work/tree/bench/bench_prober.cpp" | cut -d: -f1)
fails "a benchmark including a tier" "bench/bench_prober.cpp:$line: includes \"unit/test_inet.cpp\": bench/ may not include from tests/unit/"

# Two headers of one folder that include each other.
fresh
sed -i '/#pragma once/a #include "framework/dialog.h"' "$work/tree/framework/wnd.h"
fails "a loop" "include loop:"
