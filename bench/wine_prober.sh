#!/usr/bin/env bash
# Usage: scripts/in-netns.sh scripts/wine-session.sh bench/wine_prober.sh [EARLIER_TREE [ROUNDS]]
#   (after scripts/build.sh win32; EARLIER_TREE is a worktree of an earlier commit with its own
#   win32 build, such as one made before a change to the probe)
# The Windows probe under Wine against bare echoes through the system's ICMP.DLL, to 127.0.0.1
# (bench_prober_win32): this tree's build and, when given, the same benchmark built against the
# earlier tree, run in turn in one session, twice each, side by side: the median and the 90th
# percentile of each way, in microseconds, each the mean of the two runs'. Goal: TryPing at most twice
# the bare IcmpSendEcho on a kept handle. Runs only in the Wine session inside the
# loopback-only namespace.
set -uo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
earlier=${1:+$(readlink -f "$1")}
rounds=${2:-10}
source tests/harness/harness.sh
qv_require_session wine_prober

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
now=build/win32/bench/bench_prober_win32.exe
[[ -f "$now" ]] || { echo "wine_prober: $now is missing: scripts/build.sh win32" >&2; exit 1; }
exes=(now)
declare -A exe=([now]=$now)

# The same source built against the earlier tree's headers and libraries, as its own build
# would link it.
if [[ -n "$earlier" ]]; then
    build=$earlier/build/win32
    [[ -f "$build/logic/libqv_ui.a" ]] ||
        { echo "wine_prober: $build has no win32 build: (cd $earlier && scripts/build.sh win32)" >&2; exit 1; }
    i686-w64-mingw32-g++ -std=c++17 -O3 -DNDEBUG -DWINVER=0x0601 -D_WIN32_WINNT=0x0601 \
        -I"$PWD/tests" -I"$earlier" bench/bench_prober_win32.cpp -o "$work/bench_prober_earlier.exe" \
        -static -static-libgcc -static-libstdc++ \
        "$build/logic/libqv_ui.a" "$build/platform/windows/libqv_platform_win32.a" \
        "$build/logic/libqv_listfile.a" "$build/framework/libqv_framework.a" \
        "$build/res/libqv_res.a" "$build/framework/windows/libqv_framework_win32.a" \
        "$build/framework/libqv_framework.a" "$build/res/libqv_res.a" \
        "$build/framework/windows/libqv_framework_win32.a" "$build/base/libqv_base.a" \
        -liphlpapi -lws2_32 -lcomctl32 -ladvapi32 -luser32 -lgdi32 -lshell32 -lole32 \
        -loleaut32 -luuid -lcomdlg32 ||
        { echo "wine_prober: cannot build the benchmark against $earlier" >&2; exit 1; }
    exes=(earlier now)
    exe[earlier]=$work/bench_prober_earlier.exe
fi

# Two passes, the builds in turn, so drift on the machine weighs on both alike.
for pass in 1 2; do
    for name in "${exes[@]}"; do
        timeout -k 5 300 wine "${exe[$name]}" "$rounds" </dev/null >"$work/$name.$pass" 2>"$work/$name.$pass.err" ||
            { echo "wine_prober: the $name build failed: $(head -c 500 "$work/$name.$pass.err")" >&2; exit 1; }
    done
done

echo "Echoes to 127.0.0.1 under Wine, $((rounds * 50)) per way and run, mean of 2 runs (us):"
header="%-36s"
args=("")
for name in "${exes[@]}"; do
    header+=" %18s"
    label=$name
    [[ $name == earlier ]] && label="before ($(git -C "$earlier" rev-parse --short HEAD))"
    [[ $name == now ]] && label="after ($(git rev-parse --short HEAD)$(git diff --quiet HEAD -- . || echo +))"
    args+=("$label")
done
# shellcheck disable=SC2059
printf "$header\n" "${args[@]}"
printf "$header\n" "" $(for _ in "${exes[@]}"; do echo "median/p90"; done)
cut -f1 "$work/now.1" | while IFS= read -r way; do
    line=$(printf '%-36s' "$way")
    for name in "${exes[@]}"; do
        cell=$(cat "$work/$name".[12] | awk -F'\t' -v w="$way" '$1 == w { m[++n] = $2; p[n] = $3 }
            END { if (!n) { print "-"; exit }
                  printf "%.1f/%.1f", (m[1] + m[n]) / 2, (p[1] + p[n]) / 2 }')
        line+=$(printf ' %18s' "$cell")
    done
    echo "$line"
done
declare -A title=([earlier]=before [now]=after)
for name in "${exes[@]}"; do
    cat "$work/$name".[12] | awk -F'\t' -v n="${title[$name]}" '
        $1 == "TryPing" { t += $2; c++ } $1 == "IcmpSendEcho, kept handle" { b += $2 }
        END { if (c) printf "%s: TryPing / bare IcmpSendEcho on a kept handle = %.2fx (goal at most 2x)\n", n, t / b }'
done
